// Placeholders until the resource subsystem lands; each refuses instead of pretending.
#include "resource/resource.h"

namespace tarnwick {

ResourceKind resource_kind_for_path(std::string_view) { return ResourceKind::None; }
Result<Rsc7Outcome> edit_rsc7_resource(std::string_view, std::string_view, std::string_view, MatchCase,
                                       EncodingChoice, ResourceKind) {
  return fail("RSC7 resources are not supported in this build.");
}

}  // namespace tarnwick

