// The bounded raw DEFLATE encoder: its exact outputs, its limits and stored fallback,
// byte-for-byte agreement with a literal reading of the algorithm, and zlib as the decoder.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "resource/deflate/deflate.h"
#include "resource/deflate/reference_codec.h"
#include "resource/deflate/zlib_oracle.h"

namespace tarnwick {
namespace {

constexpr std::uint64_t kNoLimit = 1ull << 40;

// Bytes of 144-255 (nine-bit literal codes) without a repeated three-byte sequence in reach.
std::string incompressible(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(144 + random() % 112);
  return data;
}

std::string hex(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text += kDigits[static_cast<std::uint8_t>(c) >> 4];
    text += kDigits[static_cast<std::uint8_t>(c) & 15];
  }
  return text;
}

TEST(DeflateOutput, EmptyInputIsAnEndOfBlockInOneFixedBlock) {
  const auto result = deflate_bounded("", kNoLimit);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(hex(*result), "0300");
}

TEST(DeflateOutput, IncompressibleInputFallsBackToStoredBlocks) {
  const std::string data = incompressible(65536, 7);
  const auto result = deflate_bounded(data, kNoLimit);
  ASSERT_TRUE(result.has_value());
  ASSERT_EQ(result->size(), 65546u);
  EXPECT_EQ(hex(result->substr(0, 5)), "00FFFF0000");
  EXPECT_EQ(hex(result->substr(65540, 5)), "010100FEFF");
  EXPECT_EQ(result->substr(5, 65535), data.substr(0, 65535));
  EXPECT_EQ(result->back(), data.back());
}

TEST(DeflateOutput, LimitBelowStoredSizeFailsAndLimitAtStoredSizeGivesStoredBlock) {
  const std::string data = incompressible(100, 11);
  const auto too_small = deflate_bounded(data, 10);
  ASSERT_FALSE(too_small.has_value());
  EXPECT_EQ(too_small.error(), "DEFLATE output exceeds the configured size limit.");
  const auto at_stored = deflate_bounded(data, 105);
  ASSERT_TRUE(at_stored.has_value());
  ASSERT_EQ(at_stored->size(), 105u);
  EXPECT_EQ(hex(at_stored->substr(0, 5)), "016400" "9BFF");
  EXPECT_EQ(at_stored->substr(5), data);
}

TEST(DeflateOutput, RunsBecomeMatchesAtDistanceOne) {
  const std::string data(1000, 'z');
  const auto result = deflate_bounded(data, kNoLimit);
  ASSERT_TRUE(result.has_value());
  EXPECT_LT(result->size(), 20u);  // one literal and four matches
  const auto decoded = inflate_raw(*result, data.size());
  ASSERT_TRUE(decoded.has_value()) << decoded.error();
  EXPECT_EQ(decoded->bytes, data);
}

TEST(DeflateOutput, TightLimitOnACompressibleInputReportsTheLimit) {
  const std::string data(1000, 'z');
  const auto fits = deflate_bounded(data, kNoLimit);
  ASSERT_TRUE(fits.has_value());
  EXPECT_TRUE(deflate_bounded(data, fits->size()).has_value());
  const auto short_by_one = deflate_bounded(data, fits->size() - 1);
  ASSERT_FALSE(short_by_one.has_value());
  EXPECT_EQ(short_by_one.error(), "DEFLATE output exceeds the configured size limit.");
}

// Inputs of many shapes and sizes, the stored-block boundaries among them: zlib decodes
// every output to the input, and so does the program's own decoder.
TEST(DeflateOracle, ZlibDecodesEveryOutputToTheInput) {
  const std::size_t sizes[] = {0, 1, 2, 3, 4, 258, 259, 1000, 32768, 32769, 65534, 65535, 65536,
                               2 * 65535, 2 * 65535 + 1, 1u << 20, 5u << 20};
  std::uint32_t seed = 100;
  for (const auto shape : {testing::DataShape::Random, testing::DataShape::Repetitive, testing::DataShape::HalfRandom,
                           testing::DataShape::Text}) {
    for (const std::size_t size : sizes) {
      const std::string data = testing::make_data(shape, size, seed++);
      const auto stream = deflate_bounded(data, kNoLimit);
      ASSERT_TRUE(stream.has_value()) << stream.error();
      const auto by_zlib = testing::zlib_inflate_raw(*stream);
      ASSERT_TRUE(by_zlib.has_value()) << "shape " << static_cast<int>(shape) << " size " << size;
      ASSERT_EQ(by_zlib->bytes, data);
      ASSERT_EQ(by_zlib->consumed_bytes, stream->size());
      const auto by_own = inflate_raw(*stream, data.size());
      ASSERT_TRUE(by_own.has_value()) << by_own.error();
      ASSERT_EQ(by_own->bytes, data);
      const std::uint64_t blocks = std::max<std::uint64_t>(1, (size + 65534) / 65535);
      ASSERT_LE(stream->size(), 5 * blocks + size);
      if (shape == testing::DataShape::Random && size >= 100) {
        ASSERT_EQ(stream->size(), 5 * blocks + size);
      }
    }
  }
}

TEST(DeflateOracle, RepeatsBeyondTheWindowStayLiterals) {
  const std::string phrase = testing::make_data(testing::DataShape::Random, 600, 5);
  const std::string gap = testing::make_data(testing::DataShape::Text, 32769 - 600, 6);
  const std::string far = phrase + gap + phrase;            // the repeat starts 32,769 bytes back
  const std::string near = phrase + gap.substr(1) + phrase;  // and here exactly 32,768 bytes back
  std::size_t sizes[2] = {};
  for (int i = 0; i < 2; ++i) {
    const std::string& data = i == 0 ? far : near;
    const auto stream = deflate_bounded(data, kNoLimit);
    ASSERT_TRUE(stream.has_value());
    const auto decoded = testing::zlib_inflate_raw(*stream);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->bytes, data);
    sizes[i] = stream->size();
  }
  // Only the near repeat is matched: the far one costs its 600 bytes again as literals.
  EXPECT_GT(sizes[0], sizes[1] + 500);
}

// The optimised encoder writes exactly the bytes, and fails with exactly the message,
// of a literal one-bit-at-a-time reading of the algorithm, for any limit.
TEST(DeflateReference, OutputIsThePureFunctionTheAlgorithmDescribes) {
  std::mt19937 random(4242);
  for (std::uint32_t seed = 0; seed < 160; ++seed) {
    const auto shape = static_cast<testing::DataShape>(seed % 4);
    const std::size_t size = seed % 16 == 0 ? 65535 * 2 + random() % 5 : random() % (seed % 3 == 0 ? 70000 : 700);
    const std::string data = testing::make_data(shape, size, seed);
    const auto unlimited = testing::reference_deflate(data, kNoLimit);
    const std::uint64_t stored = 5 * std::max<std::uint64_t>(1, (size + 65534) / 65535) + size;
    for (const std::uint64_t limit : {kNoLimit, stored, stored - 1, std::uint64_t{unlimited.bytes.size()},
                                      std::uint64_t{unlimited.bytes.size()} - 1, std::uint64_t{random() % 64}}) {
      const auto expected = testing::reference_deflate(data, limit);
      const auto actual = deflate_bounded(data, limit);
      ASSERT_EQ(actual.has_value(), expected.ok) << "seed " << seed << " limit " << limit;
      if (expected.ok) {
        ASSERT_EQ(*actual, expected.bytes) << "seed " << seed << " limit " << limit;
      } else {
        ASSERT_EQ(actual.error(), expected.message);
      }
    }
  }
}

}  // namespace
}  // namespace tarnwick
