// zlib as the independent oracle for raw DEFLATE (window bits -15) in both directions.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace tarnwick::testing {

struct ZlibInflated {
  std::string bytes;
  std::uint64_t consumed_bytes = 0;
};

// The decoded bytes and the input bytes used, or nothing when zlib refuses the stream
// or it decodes to more than `limit` bytes.
inline std::optional<ZlibInflated> zlib_inflate_raw(std::string_view input, std::size_t limit = 256u << 20) {
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) return std::nullopt;
  ZlibInflated result;
  std::string chunk(1 << 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  stream.avail_in = static_cast<uInt>(input.size());
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
    stream.avail_out = static_cast<uInt>(chunk.size());
    status = inflate(&stream, Z_NO_FLUSH);
    result.bytes.append(chunk.data(), chunk.size() - stream.avail_out);
    if (result.bytes.size() > limit) status = Z_BUF_ERROR;
    if (status == Z_BUF_ERROR && stream.avail_in == 0) break;
  }
  result.consumed_bytes = input.size() - stream.avail_in;
  inflateEnd(&stream);
  if (status != Z_STREAM_END) return std::nullopt;
  return result;
}

inline std::string zlib_deflate_raw(std::string_view input, int level, int strategy = Z_DEFAULT_STRATEGY) {
  z_stream stream{};
  deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy);
  std::string out(deflateBound(&stream, input.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  stream.avail_in = static_cast<uInt>(input.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// Test data: random, repetitive (short phrases repeated), and a half-and-half mixture.
enum class DataShape { Random, Repetitive, HalfRandom, Text };

inline std::string make_data(DataShape shape, std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string data(size, '\0');
  const std::string phrase = "texture_name_" + std::to_string(seed % 97) + "\0\x50\x00\x00"
                             "\xCD\xCD\xCD\xCD vertex buffer ";
  for (std::size_t i = 0; i < size; ++i) {
    switch (shape) {
      case DataShape::Random: data[i] = static_cast<char>(random()); break;
      case DataShape::Repetitive: data[i] = phrase[(i / 3 + i % 7) % phrase.size()]; break;
      case DataShape::HalfRandom:
        data[i] = (i / 4096) % 2 == 0 ? static_cast<char>(random()) : phrase[i % phrase.size()];
        break;
      case DataShape::Text: data[i] = static_cast<char>('a' + random() % 4 + (random() % 16 == 0 ? 20 : 0)); break;
    }
  }
  return data;
}

}  // namespace tarnwick::testing
