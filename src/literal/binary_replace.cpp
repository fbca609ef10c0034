// Raw binary replacement: the two encoded literals and the exact-size byte replacer.
#include "common/memory.h"
#include "common/text.h"
#include "literal/byte_search.h"
#include "literal/case_forms.h"
#include "literal/replaced_output.h"

namespace tarnwick {

namespace {

std::string fixed_width_refusal(std::size_t find_length, std::size_t replacement_length, std::uint64_t count) {
  return "Binary fixed-width mode requires equal encoded widths (find: " + std::to_string(find_length) +
         " bytes; replacement: " + std::to_string(replacement_length) + " bytes). This file contains " +
         std::to_string(count) +
         " matches. Use equal-width names or explicitly select resizable raw binary for a format whose offsets you "
         "understand.";
}

constexpr std::int32_t kIso2022Kr = 50225;
constexpr std::string_view kIso2022KrDesignation = "\x1b$)C";

}  // namespace

Result<std::string> encode_binary_literal(std::string_view text, EncodingKind kind, std::int32_t code_page) {
  std::string bytes = TRY(encode_text(text, kind, code_page, ByteOrderMark::Omit));
  if (kind == EncodingKind::CodePage && code_page == kIso2022Kr && bytes.starts_with(kIso2022KrDesignation))
    bytes.erase(0, kIso2022KrDesignation.size());
  return bytes;
}

Result<BinaryLiterals> encode_binary_literals(std::string_view find, const Replacement& replacement,
                                              EncodingChoice encoding) {
  // Auto has no data to detect from here: the literals are UTF-8.
  const EncodingKind kind = encoding.kind == EncodingKind::Auto ? EncodingKind::Utf8 : encoding.kind;
  std::string find_bytes = TRY(encode_binary_literal(find, kind, encoding.code_page));
  std::string replacement_bytes = TRY(encode_binary_literal(replacement.typed(), kind, encoding.code_page));
  std::optional<BinaryCaseForms> case_forms = TRY(encode_case_forms(find, replacement, kind, encoding.code_page));
  return BinaryLiterals{std::move(find_bytes), std::move(replacement_bytes), std::move(case_forms)};
}

Result<ByteReplacement> replace_literal_bytes(std::string_view data, const BinaryLiterals& literals,
                                              FoldAsciiCase fold, Resizable resizable) {
  const std::string_view find_pattern = literals.find;
  const std::string_view replacement_pattern = literals.replacement;
  if (find_pattern.empty()) return fail("The encoded binary find pattern is empty.");
  const BytePattern pattern(find_pattern, fold);
  const ScannedMatches matches = scan_matches(pattern, data);
  const std::uint64_t count = matches.count;
  if (count == 0) return ByteReplacement{};
  if (resizable == Resizable::No && find_pattern.size() != replacement_pattern.size())
    return fail(fixed_width_refusal(find_pattern.size(), replacement_pattern.size(), count));

  const std::uint64_t removed = saturating_mul(count, find_pattern.size());
  if (removed == UINT64_MAX) return fail("Binary replacement size overflow.");
  const std::uint64_t added = saturating_mul(count, replacement_pattern.size());
  const std::uint64_t new_length = saturating_add(data.size() - removed, added);
  if (added == UINT64_MAX || new_length > kContentOutputLimitBytes)
    return fail("Binary replacement output exceeds 128 MiB. Narrow the operation.");

  std::string output;
  if (!resize_for_overwrite(output, static_cast<std::size_t>(new_length)))
    return fail("Not enough memory for binary replacement.");
  // Folded matches may already hold the replacement's very bytes; then nothing changes.
  const auto write = [&](auto replacement_for) {
    return write_replaced(pattern, data, matches, output.data(), replacement_for);
  };
  const bool changed =
      literals.case_forms
          ? write([&](std::size_t at) { return literals.replacement_for(data.substr(at, find_pattern.size())); })
          : write([replacement_pattern](std::size_t) { return replacement_pattern; });
  if (!changed) return ByteReplacement{};
  return ByteReplacement{std::move(output), count};
}

}  // namespace tarnwick
