// The fixed-width path: equal-width literal replacement inside the decoded pages of an RSC7 resource of unknown kind.
#include "common/utf8.h"
#include "literal/literal.h"
#include "resource/rsc7.h"

namespace tarnwick {
namespace {

// ASCII folding is asked for only when match case is off and the typed find text is ASCII.
FoldAsciiCase fold_for(std::string_view find, MatchCase match_case) {
  return match_case == MatchCase::Ignore && is_ascii(find) ? FoldAsciiCase::Yes : FoldAsciiCase::No;
}

}  // namespace

Result<std::optional<ResourceEdit>> edit_fixed_width_resource(const Rsc7Resource& resource, std::string_view find,
                                                              const Replacement& replacement, MatchCase match_case,
                                                              EncodingChoice encoding) {
  const BinaryLiterals literals = TRY(encode_binary_literals(find, replacement, encoding));
  // Resizing is never allowed here: page offsets inside the resource would no longer hold.
  Result<ByteReplacement> replaced =
      replace_literal_bytes(resource.decoded, literals, fold_for(find, match_case), Resizable::No);
  if (!replaced.has_value()) {
    if (!literals.find.empty() && literals.find.size() != literals.replacement.size()) {
      return fail("RSC7 resources require equal encoded find and replacement widths (" +
                  std::to_string(literals.find.size()) + " and " + std::to_string(literals.replacement.size()) +
                  " bytes). Resizing embedded resource literals would invalidate page offsets; raw resizable mode "
                  "cannot override this safeguard.");
    }
    return fail(std::move(replaced.error()));
  }
  if (!replaced->bytes.has_value()) return std::optional<ResourceEdit>();
  if (replaced->bytes->size() != resource.decoded.size()) {
    return fail("RSC7 replacement changed the decoded layout; operation refused.");
  }
  ResourceEdit edit;
  edit.decoded = std::move(*replaced->bytes);
  edit.notices = {
      "RSC7 page layout and unmatched decoded bytes are preserved. Embedded hashes, checksums, signatures and "
      "external game references are not rebuilt; game compatibility requires independent validation.",
      "RSC7 output is recompressed with bounded LZ77 and Huffman coding, with stored blocks when smaller. Its "
      "compressed size may differ from the original resource.",
  };
  edit.summary = "GTA RSC7 resource · decoded fixed-width literal replacement";
  edit.replacements = replaced->count;
  return std::optional<ResourceEdit>(std::move(edit));
}

}  // namespace tarnwick
