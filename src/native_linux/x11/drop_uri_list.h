// Parsing of a dropped text/uri-list into one local path.
#pragma once

#include <string>
#include <string_view>

#include "common/result.h"

namespace tarnwick {

// The one local file or folder the list names, or the message for the user.
Result<std::string> parse_uri_list(std::string_view list);

}  // namespace tarnwick
