// plan_content_edit: classify one file's data and plan its text, raw binary or
// game-resource edit without writing anything.
#include <variant>

#include "common/text.h"
#include "common/utf8.h"
#include "content/binary_summary.h"
#include "content/classify.h"
#include "content/content.h"
#include "resource/resource.h"

namespace tarnwick {

namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

ContentEdit skipped(std::string notice) {
  ContentEdit edit;
  edit.notices.push_back(std::move(notice));
  return edit;
}

std::string text_summary(const DecodedTextView& decoded) {
  const auto label = encoding_label(decoded.encoding);
  return std::string(label ? *label : "Selected encoding") + " text" +
         (decoded.had_byte_order_mark ? " · BOM preserved" : "");
}

// Auto returns only text that passed the detector's screen, which refuses all
// the text screen refuses but the vertical tab: that one byte is left to find.
bool passes_screen(const DecodedTextView& decoded, EncodingChoice choice) {
  if (choice.kind == EncodingKind::Auto) return decoded.text().find('\v') == std::string_view::npos;
  return passes_text_screen(decoded.text());
}

Result<ContentEdit> plan_game_resource(std::string_view path, std::string_view bytes, std::string_view find,
                                       const Replacement& replacement, MatchCase match_case,
                                       const ContentOptions& options) {
  if (options.mode == ContentMode::TextOnly) {
    return skipped(
        "Skipped GTA RSC7 binary resource in text-only mode. Choose Text and binary or Binary to edit its decoded "
        "content: " +
        lossy_utf8(path));
  }
  Rsc7Outcome outcome = TRY(
      edit_rsc7_resource(bytes, find, replacement, match_case, options.encoding, resource_kind_for_path(path)));
  if (std::holds_alternative<Rsc7NoChange>(outcome)) return ContentEdit{};
  Rsc7Edit resource_edit = std::get<Rsc7Edit>(std::move(outcome));
  ContentEdit edit;
  edit.notices = std::move(resource_edit.notices);
  edit.new_bytes = std::move(resource_edit.bytes);
  edit.summary = std::move(resource_edit.summary);
  edit.match_count = resource_edit.replacements;
  edit.binary = true;
  edit.game_resource = true;
  return edit;
}

Result<const BinaryLiterals*> encoded_literals(std::string_view find, const Replacement& replacement,
                                               EncodingChoice encoding, ContentScratch& scratch) {
  auto& kept = scratch.binary_literals;
  if (!kept || kept->find != find || kept->typed_replacement != replacement.typed() ||
      kept->preserving != replacement.preserves_case() || kept->encoding != encoding) {
    kept.reset();
    BinaryLiterals literals = TRY(encode_binary_literals(find, replacement, encoding));
    kept = ContentScratch::EncodedLiterals{std::string(find), std::string(replacement.typed()),
                                           replacement.preserves_case(), encoding, std::move(literals)};
  }
  return &kept->literals;
}

Result<ContentEdit> plan_raw_binary(std::string_view path, std::string_view bytes, std::string_view find,
                                    const Replacement& replacement, MatchCase match_case,
                                    const ContentOptions& options, ContentScratch& scratch) {
  const BinaryLiterals& literals = *TRY(encoded_literals(find, replacement, options.encoding, scratch));
  // Folding is bytewise, so it is only meaningful when every typed character is ASCII.
  const FoldAsciiCase fold =
      match_case == MatchCase::Ignore && is_ascii(find) ? FoldAsciiCase::Yes : FoldAsciiCase::No;
  ByteReplacement replaced =
      TRY(replace_literal_bytes(bytes, literals, fold, options.resizable));
  if (!replaced.bytes) return ContentEdit{};
  ContentEdit edit;
  edit.notices.push_back(
      options.resizable == Resizable::Yes
          ? "Resizable raw binary changes can invalidate offsets, lengths, checksums or signatures. This format is "
            "not structurally rebuilt: " +
                lossy_utf8(path)
          : "Fixed-width raw binary preserves byte offsets but does not rebuild checksums, signatures or embedded "
            "hashes: " +
                lossy_utf8(path));
  edit.new_bytes = std::move(replaced.bytes);
  edit.summary = binary_summary(options.resizable, options.encoding);
  edit.match_count = replaced.count;
  edit.binary = true;
  return edit;
}

// A valid UTF-8 find only ever matches whole characters of valid text, so with
// valid literals the new text is valid UTF-8 already and is its own encoding.
// (The case forms of a valid replacement are valid: only ASCII letters change.)
bool new_text_is_its_encoding(const DecodedTextView& decoded, std::string_view find, const Replacement& replacement) {
  return decoded.encoding.kind == EncodingKind::Utf8 && !decoded.had_byte_order_mark && is_valid_utf8(find) &&
         is_valid_utf8(replacement.typed());
}

// The case of each match is chosen on the decoded text, before encoding.
Result<ContentEdit> plan_text(const DecodedTextView& decoded, std::string_view find, const Replacement& replacement,
                              MatchCase match_case, ContentScratch& scratch) {
  const std::string_view text = decoded.text();
  const bool own_encoding = new_text_is_its_encoding(decoded, find, replacement);
  // The new text goes into the plan as it is, or only on the way to its
  // encoding: only then may it use the scratch memory (the plan must not keep
  // a large buffer for a small file).
  TextReplacement replaced = TRY(replace_literal_text(
      text, find, replacement, match_case, kContentOutputLimitBytes,
      ReplacementMemory{own_encoding ? nullptr : &scratch.replaced, UnmatchedText::Omitted}));
  // Every match replaced by identical text leaves nothing to write.
  if (replaced.count == 0 || !replaced.changed) {
    // Only a text with matches was built, in the lent memory: give it back.
    if (!own_encoding && replaced.count > 0) scratch.replaced = std::move(replaced.text);
    return ContentEdit{};
  }
  const std::uint64_t count = replaced.count;
  ContentEdit edit;
  if (own_encoding) {
    edit.new_bytes = std::move(replaced.text);
  } else {
    auto encoded = encode_text(replaced.text, decoded.encoding.kind, decoded.encoding.code_page,
                               decoded.had_byte_order_mark ? ByteOrderMark::Write : ByteOrderMark::Omit);
    scratch.replaced = std::move(replaced.text);
    edit.new_bytes = TRY(std::move(encoded));
  }
  edit.summary = text_summary(decoded);
  edit.match_count = count;
  return edit;
}

}  // namespace

std::uint64_t content_input_limit(ContentMode mode) {
  return mode == ContentMode::TextOnly ? kTextModeInputLimitBytes : kBinaryModeInputLimitBytes;
}

Result<ContentEdit> plan_content_edit(std::string_view path, std::string_view bytes, std::string_view find,
                                      const Replacement& replacement, MatchCase match_case,
                                      const ContentOptions& options) {
  ContentScratch scratch;
  return plan_content_edit(path, bytes, find, replacement, match_case, options, scratch);
}

Result<ContentEdit> plan_content_edit(std::string_view path, std::string_view bytes, std::string_view find,
                                      const Replacement& replacement, MatchCase match_case,
                                      const ContentOptions& options, ContentScratch& scratch) {
  if (find.empty()) return fail("Find text cannot be empty.");
  const std::uint64_t limit = content_input_limit(options.mode);
  if (bytes.size() > limit)
    return fail("Selected content exceeds the " + std::to_string(limit / kMiB) + " MiB input limit.");

  if (const auto signature = match_archive_signature(bytes)) {
    if (signature->kind == SignatureKind::GameResource)
      return plan_game_resource(path, bytes, find, replacement, match_case, options);
    return skipped("Skipped unsupported " + std::string(signature->label) +
                   ": contents are compressed or archived and were not unpacked or edited: " + lossy_utf8(path));
  }
  if (options.mode == ContentMode::BinaryOnly)
    return plan_raw_binary(path, bytes, find, replacement, match_case, options, scratch);

  if (!has_binary_signature(bytes)) {
    // The decoder's own message is dropped: data that is not text is binary here.
    auto decoded = decode_text_view(bytes, options.encoding, &scratch.decoded);
    if (decoded && passes_screen(*decoded, options.encoding)) {
      auto edit = plan_text(*decoded, find, replacement, match_case, scratch);
      // No plan keeps the decoded text: its memory serves the next file.
      if (decoded->converted) scratch.decoded = std::move(*decoded->converted);
      return edit;
    }
    if (decoded && decoded->converted) scratch.decoded = std::move(*decoded->converted);
  }
  if (options.mode == ContentMode::TextAndBinary)
    return plan_raw_binary(path, bytes, find, replacement, match_case, options, scratch);
  return skipped("Skipped binary or unsupported text encoding: " + lossy_utf8(path));
}

}  // namespace tarnwick
