// Placeholders until the content subsystem lands; each refuses instead of pretending.
#include "content/content.h"

namespace tarnwick {

std::uint64_t content_input_limit(ContentMode mode) {
  return mode == ContentMode::TextOnly ? kTextModeInputLimitBytes : kBinaryModeInputLimitBytes;
}
Result<ContentEdit> plan_content_edit(std::string_view, std::string_view, std::string_view, std::string_view,
                                      MatchCase, const ContentOptions&) {
  return fail("Content editing is not available in this build.");
}
}  // namespace tarnwick
