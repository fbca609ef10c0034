// Placeholder until the format-aware path lands; it refuses instead of pretending.
#include "resource/rsc7.h"

namespace tarnwick {

Result<std::optional<ResourceEdit>> edit_named_resource(const Rsc7Resource&, std::string_view, std::string_view,
                                                        MatchCase, EncodingChoice, ResourceKind) {
  return fail("Format-aware resource editing is not available in this build.");
}

}  // namespace tarnwick
