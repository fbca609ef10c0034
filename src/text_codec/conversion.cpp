// decode_text and encode_text: Auto detection and exact, round-trip-checked conversion.
#include <cstring>

#include "common/memory.h"
#include "common/utf8.h"
#include "text_codec/codec_messages.h"
#include "text_codec/text_codec.h"
#include "text_codec/unicode.h"

namespace tarnwick {

namespace {

constexpr const char* kUtf8Name = "UTF-8";

using unicode::ByteOrder;

bool is_unicode_kind(EncodingKind kind) {
  return kind == EncodingKind::Utf8 || kind == EncodingKind::Utf16Le || kind == EncodingKind::Utf16Be ||
         kind == EncodingKind::Utf32Le || kind == EncodingKind::Utf32Be;
}

std::string_view mark_bytes(EncodingKind kind) {
  using namespace std::string_view_literals;
  switch (kind) {
    case EncodingKind::Auto:
    case EncodingKind::Utf8: return "\xEF\xBB\xBF"sv;
    case EncodingKind::Utf16Le: return "\xFF\xFE"sv;
    case EncodingKind::Utf16Be: return "\xFE\xFF"sv;
    case EncodingKind::Utf32Le: return "\xFF\xFE\x00\x00"sv;
    case EncodingKind::Utf32Be: return "\x00\x00\xFE\xFF"sv;
    default: return {};
  }
}

std::string display_name(EncodingKind kind) { return encoding_display_name({kind, 0}); }

using Decoded = DecodedTextView;

Decoded unconverted(std::string_view text, EncodingChoice encoding, bool had_mark) {
  return Decoded{text, std::nullopt, encoding, had_mark};
}

Decoded converted(std::string text, EncodingChoice encoding, bool had_mark) {
  return Decoded{{}, std::move(text), encoding, had_mark};
}

Result<std::string> decode_wide_body(std::string_view body, EncodingKind kind, std::string* lent) {
  switch (kind) {
    case EncodingKind::Utf16Le: return unicode::decode_utf16(body, ByteOrder::Little, lent);
    case EncodingKind::Utf16Be: return unicode::decode_utf16(body, ByteOrder::Big, lent);
    case EncodingKind::Utf32Le: return unicode::decode_utf32(body, ByteOrder::Little, lent);
    case EncodingKind::Utf32Be: return unicode::decode_utf32(body, ByteOrder::Big, lent);
    default: return fail("unknown encoding");  // callers pass Unicode kinds only
  }
}

Result<Decoded> decode_unicode(std::string_view bytes, EncodingKind kind, std::string* lent = nullptr) {
  bool had_mark = false;
  if (const auto mark = detect_byte_order_mark(bytes)) {
    if (mark->kind != kind) {
      return fail("The byte-order mark identifies " + display_name(mark->kind) + ", but " + display_name(kind) +
                  " was selected.");
    }
    bytes.remove_prefix(mark->length);
    had_mark = true;
  }
  if (kind == EncodingKind::Utf8) {
    if (!is_valid_utf8(bytes)) return fail(codec_text::kInvalidUtf8);
    return unconverted(bytes, {kind, 0}, had_mark);
  }
  return converted(TRY(decode_wide_body(bytes, kind, lent)), {kind, 0}, had_mark);
}

Result<Decoded> decode_code_page(std::string_view bytes, std::int32_t code_page) {
  const std::string name = TRY(iconv_name_for_code_page(code_page));
  std::string text = TRY(convert_with_iconv(bytes, name, kUtf8Name));
  if (!is_valid_utf8(text)) return fail(codec_text::kProducedInvalidUtf8);
  // A decoding is exact only if encoding it again gives back the very same bytes.
  const auto back = convert_with_iconv(text, kUtf8Name, name);
  if (!back || *back != bytes) {
    return fail(encoding_display_name({EncodingKind::CodePage, code_page}) +
                " cannot decode these bytes without changing their representation.");
  }
  return converted(std::move(text), {EncodingKind::CodePage, code_page}, false);
}

Result<Decoded> decode_explicit(std::string_view bytes, EncodingChoice choice, std::string* lent) {
  if (choice.kind == EncodingKind::CodePage) return decode_code_page(bytes, choice.code_page);
  if (is_unicode_kind(choice.kind)) return decode_unicode(bytes, choice.kind, lent);
  return fail(codec_text::kUnavailable);
}

Result<Decoded> decode_auto(std::string_view bytes, std::string* lent) {
  if (const auto mark = detect_byte_order_mark(bytes)) {
    Decoded decoded = TRY(decode_unicode(bytes, mark->kind, lent));
    if (!is_detectable_text(decoded.text())) return fail(codec_text::kMarkedBinary);
    return decoded;
  }
  // Wider forms first: UTF-16 text of U+0000-led units would also pass as UTF-32.
  using enum EncodingKind;
  for (const EncodingKind kind : {Utf32Le, Utf32Be, Utf16Le, Utf16Be}) {
    const bool plausible = (kind == Utf32Le || kind == Utf32Be) ? is_plausible_utf32(bytes, kind)
                                                                 : is_plausible_utf16(bytes, kind);
    if (!plausible) continue;
    // A candidate that fails takes the lent buffer along; the next gets fresh memory.
    auto decoded = decode_unicode(bytes, kind, lent);
    if (decoded && is_detectable_text(decoded->text())) return decoded;
  }
  switch (unicode::classify_utf8(bytes)) {
    case unicode::Utf8Class::Detectable: return unconverted(bytes, {Utf8, 0}, false);
    case unicode::Utf8Class::NotDetectable: return fail(codec_text::kUtf8Binary);
    case unicode::Utf8Class::Invalid: break;
  }
  Decoded decoded = TRY(decode_code_page(bytes, 1252));
  if (!is_detectable_text(decoded.text())) return fail(codec_text::kNotPlainText);
  return decoded;
}

Result<std::string> encode_unicode(std::string_view text, EncodingKind kind, ByteOrderMark mark) {
  const std::string_view written_mark = mark == ByteOrderMark::Write ? mark_bytes(kind) : std::string_view{};
  switch (kind) {
    case EncodingKind::Utf16Le: return unicode::encode_utf16(text, ByteOrder::Little, written_mark);
    case EncodingKind::Utf16Be: return unicode::encode_utf16(text, ByteOrder::Big, written_mark);
    case EncodingKind::Utf32Le: return unicode::encode_utf32(text, ByteOrder::Little, written_mark);
    case EncodingKind::Utf32Be: return unicode::encode_utf32(text, ByteOrder::Big, written_mark);
    default: break;
  }
  // UTF-8 (and Auto): the text itself, checked so that nothing invalid is ever written.
  if (!is_valid_utf8(text)) return fail(codec_text::kInvalidUtf8);
  if (written_mark.size() + text.size() > kTextConversionLimitBytes) return fail(codec_text::kTooLarge);
  std::string bytes;
  if (!reserve_large(bytes, written_mark.size() + text.size())) return fail(codec_text::kNoMemory);
  bytes.append(written_mark).append(text);
  return bytes;
}

Result<std::string> encode_code_page(std::string_view text, std::int32_t code_page) {
  const std::string name = TRY(iconv_name_for_code_page(code_page));
  std::string bytes = TRY(convert_with_iconv(text, kUtf8Name, name));
  if (bytes.size() > kTextConversionLimitBytes) return fail(codec_text::kTooLarge);
  // An encoding is exact only if decoding it again gives back the very same text.
  const auto back = convert_with_iconv(bytes, name, kUtf8Name);
  if (!back || !is_valid_utf8(*back) || *back != text) {
    return fail("The replacement contains characters that " +
                encoding_display_name({EncodingKind::CodePage, code_page}) + " cannot represent exactly.");
  }
  return bytes;
}

}  // namespace

Result<DecodedTextView> decode_text_view(std::string_view bytes, EncodingChoice choice, std::string* lent) {
  if (bytes.size() > kTextConversionLimitBytes) return fail(codec_text::kTooLarge);
  if (choice.kind == EncodingKind::Auto) return decode_auto(bytes, lent);
  return decode_explicit(bytes, choice, lent);
}

Result<DecodedText> decode_text(std::string_view bytes, EncodingChoice choice) {
  DecodedTextView view = TRY(decode_text_view(bytes, choice));
  std::string text;
  if (view.converted) {
    text = std::move(*view.converted);
  } else {
    if (!reserve_large(text, view.unconverted.size())) return fail(codec_text::kNoMemory);
    text.assign(view.unconverted);
  }
  return DecodedText{std::move(text), view.encoding, view.had_byte_order_mark};
}

Result<std::string> encode_text(std::string_view text, EncodingKind kind, std::int32_t code_page,
                                ByteOrderMark mark) {
  if (text.size() > kTextConversionLimitBytes) return fail(codec_text::kTooLarge);
  if (kind == EncodingKind::CodePage) {
    if (mark == ByteOrderMark::Write) return fail(codec_text::kMarkForCodePage);
    return encode_code_page(text, code_page);
  }
  if (kind == EncodingKind::Auto || is_unicode_kind(kind)) return encode_unicode(text, kind, mark);
  return fail(codec_text::kUnavailable);
}

}  // namespace tarnwick
