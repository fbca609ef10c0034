// The review pane's one-line summary of a raw binary edit.
#include "content/binary_summary.h"

namespace tarnwick {

std::string binary_summary(Resizable resizable, EncodingChoice encoding) {
  std::string name = "Selected encoding";
  if (encoding.kind == EncodingKind::Auto) {
    name = "UTF-8";
  } else if (const auto label = encoding_label(encoding)) {
    name = std::string(*label);
  }
  return std::string("Raw binary · ") + (resizable == Resizable::Yes ? "resizable" : "fixed width") + " · " + name +
         " pattern";
}

}  // namespace tarnwick
