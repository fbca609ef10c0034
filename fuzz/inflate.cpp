// Fuzz entry point for the raw DEFLATE decoder: it must agree exactly (bytes, bit count,
// message) with the bit-serial reference, and with zlib wherever zlib accepts a stream.
// The encoder's stream of the decoded bytes, and of the input itself, must read back.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "resource/deflate/deflate.h"
#include "resource/deflate/reference_codec.h"
#include "resource/deflate/zlib_oracle.h"

namespace {

constexpr std::uint64_t kFuzzOutputLimit = 1u << 20;

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte picks a small output limit now and then, so limit checks are reached too.
  std::uint64_t limit = kFuzzOutputLimit;
  if (size > 0 && data[0] < 16) limit = data[0] * 64u;
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const auto actual = tarnwick::inflate_raw(input, limit);
  const auto expected = tarnwick::testing::reference_inflate(input, limit);
  require(actual.has_value() == expected.ok);
  if (!actual.has_value()) {
    require(actual.error() == expected.message);
  } else {
    require(actual->bytes == expected.bytes && actual->bits_consumed == expected.bits);
  }

  // zlib accepting means the stream is valid under these rules too. The converse does
  // not hold: a dynamic block with 31 or 32 distance codes (HDIST 30 or 31) is accepted
  // here until an unused code is decoded, while zlib refuses its header.
  const auto by_zlib = tarnwick::testing::zlib_inflate_raw(input, limit);
  if (by_zlib.has_value()) {
    require(actual.has_value());
    require(actual->bytes == by_zlib->bytes);
    require((actual->bits_consumed + 7) / 8 == by_zlib->consumed_bytes);
  }

  // Whatever decoded, and the raw input as well, the encoder must carry back:
  // zlib and the decoder read its stream as exactly those bytes.
  for (const std::string_view bytes : {actual.has_value() ? std::string_view(actual->bytes) : input, input}) {
    const auto encoded = tarnwick::deflate_bounded(bytes, UINT64_MAX);
    require(encoded.has_value());
    const auto round_trip = tarnwick::inflate_raw(*encoded, bytes.size());
    require(round_trip.has_value() && round_trip->bytes == bytes);
    const auto by_zlib_again = tarnwick::testing::zlib_inflate_raw(*encoded, bytes.size());
    require(by_zlib_again.has_value() && by_zlib_again->bytes == bytes && by_zlib_again->consumed_bytes == encoded->size());
  }
  return 0;
}
