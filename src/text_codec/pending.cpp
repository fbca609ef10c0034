// Placeholders until the text-codec subsystem lands; each refuses instead of pretending.
#include "text_codec/text_codec.h"

namespace tarnwick {

std::span<const EncodingRow> encoding_table() { return {}; }
EncodingChoice encoding_choice_for_row(std::size_t) { return {}; }
std::string encoding_display_name(EncodingChoice) { return "unknown encoding"; }
Result<DecodedText> decode_text(std::string_view, EncodingChoice) { return fail("Decoding is not available."); }
Result<std::string> encode_text(std::string_view, EncodingKind, std::int32_t, ByteOrderMark) {
  return fail("Encoding is not available.");
}
Result<std::string> iconv_name_for_code_page(std::int32_t) { return fail("Encoding is not available."); }
Result<std::string> convert_with_iconv(std::string_view, const std::string&, const std::string&) {
  return fail("Encoding is not available.");
}
std::optional<DetectedMark> detect_byte_order_mark(std::string_view) { return std::nullopt; }
bool is_detectable_text(std::string_view) { return false; }

}  // namespace tarnwick
