// Placeholder until the literal text replacer lands; it refuses instead of pretending.
#include "content/content.h"

namespace tarnwick {

Result<TextReplacement> replace_literal_text(std::string_view, std::string_view, std::string_view, MatchCase,
                                             std::uint64_t) {
  return fail("Literal replacement is not available in this build.");
}

}  // namespace tarnwick
