// Fuzz entry point for the raw DEFLATE decoder: it must agree exactly (bytes, bit count,
// message) with the bit-serial reference, and with zlib wherever zlib accepts a stream.
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

  // Whatever decoded, the encoder must carry back.
  if (actual.has_value()) {
    const auto encoded = tarnwick::deflate_bounded(actual->bytes, UINT64_MAX);
    require(encoded.has_value());
    const auto round_trip = tarnwick::inflate_raw(*encoded, actual->bytes.size());
    require(round_trip.has_value() && round_trip->bytes == actual->bytes);
  }
  return 0;
}
