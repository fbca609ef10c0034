// The review pane's one-line summary of a raw binary edit.
#pragma once

#include <string>

#include "content/content.h"

namespace tarnwick {

// "Raw binary · {fixed width|resizable} · {encoding} pattern"
std::string binary_summary(Resizable resizable, EncodingChoice encoding);

}  // namespace tarnwick
