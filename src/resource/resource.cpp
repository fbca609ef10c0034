// The entry for RSC7 resources: decode, run the path for the kind, re-encode and reassemble.
#include "resource/resource.h"

#include "resource/rsc7.h"

namespace tarnwick {

Result<Rsc7Outcome> edit_rsc7_resource(std::string_view file, std::string_view find, const Replacement& replacement,
                                       MatchCase match_case, EncodingChoice encoding, ResourceKind kind) {
  Rsc7Resource resource = TRY(decode_rsc7(file));
  const std::optional<ResourceEdit> edit =
      kind == ResourceKind::None
          ? TRY(edit_fixed_width_resource(resource, find, replacement, match_case, encoding))
          : TRY(edit_named_resource(resource, find, replacement, match_case, encoding, kind));
  if (!edit.has_value()) return Rsc7NoChange{};

  const TrailerHandling trailer = classify_trailer(resource);
  // The old pages are not needed any more: letting them go before encoding
  // keeps the peak at two decoded buffers, not three.
  std::string().swap(resource.decoded);
  Rsc7Edit result;
  result.bytes = TRY(assemble_rsc7(resource, edit->decoded, edit->new_system_flags, trailer));
  result.notices = edit->notices;
  if (trailer != TrailerHandling::None) result.notices.push_back(trailer_notice(resource, trailer));
  result.summary = edit->summary;
  result.replacements = edit->replacements;
  return result;
}

}  // namespace tarnwick
