// Fuzz entry point: Auto detection and explicit Unicode decoding must give valid
// UTF-8 that encodes back to exactly the input bytes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/text.h"
#include "text_codec/text_codec.h"

namespace {

void check_round_trip(std::string_view bytes, tarnwick::EncodingChoice choice) {
  const auto decoded = tarnwick::decode_text(bytes, choice);
  if (!decoded) return;
  if (!tarnwick::is_valid_utf8(decoded->text)) std::abort();
  if (decoded->encoding.kind == tarnwick::EncodingKind::Auto) std::abort();
  const auto mark = decoded->had_byte_order_mark ? tarnwick::ByteOrderMark::Write : tarnwick::ByteOrderMark::Omit;
  const auto encoded =
      tarnwick::encode_text(decoded->text, decoded->encoding.kind, decoded->encoding.code_page, mark);
  if (!encoded || *encoded != bytes) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  using enum tarnwick::EncodingKind;
  for (const tarnwick::EncodingKind kind : {Auto, Utf8, Utf16Le, Utf16Be, Utf32Le, Utf32Be})
    check_round_trip(bytes, {kind, 0});
  return 0;
}
