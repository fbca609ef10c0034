// The bounded raw DEFLATE encoder: its exact small outputs, its limits and stored
// fallback, the block forms and match codes it writes, and zlib as the decoder.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>

#include "resource/deflate/code_tables.h"
#include "resource/deflate/deflate.h"
#include "resource/deflate/huffman_code.h"
#include "resource/deflate/reference_codec.h"
#include "resource/deflate/zlib_oracle.h"

namespace tarnwick {
namespace {

constexpr std::uint64_t kNoLimit = 1ull << 40;

std::uint64_t stored_size(std::size_t size) { return 5 * std::max<std::uint64_t>(1, (size + 65534) / 65535) + size; }

std::string hex(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text += kDigits[static_cast<std::uint8_t>(c) >> 4];
    text += kDigits[static_cast<std::uint8_t>(c) & 15];
  }
  return text;
}

// zlib and the program's own decoder both read the stream back to exactly data,
// and the stream ends with its final block.
void expect_round_trip(const std::string& stream, const std::string& data) {
  const auto by_zlib = testing::zlib_inflate_raw(stream);
  ASSERT_TRUE(by_zlib.has_value());
  ASSERT_TRUE(by_zlib->bytes == data);
  ASSERT_EQ(by_zlib->consumed_bytes, stream.size());
  const auto by_own = inflate_raw(stream, data.size());
  ASSERT_TRUE(by_own.has_value()) << by_own.error();
  ASSERT_TRUE(by_own->bytes == data);
}

TEST(DeflateOutput, EmptyInputIsAnEndOfBlockInOneFixedBlock) {
  const auto result = deflate_bounded("", kNoLimit);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(hex(*result), "0300");
}

TEST(DeflateOutput, IncompressibleInputFallsBackToStoredBlocks) {
  const std::string data = testing::make_data(testing::DataShape::Random, 65536, 7);
  const auto result = deflate_bounded(data, kNoLimit);
  ASSERT_TRUE(result.has_value());
  ASSERT_EQ(result->size(), 65546u);
  EXPECT_EQ(hex(result->substr(0, 5)), "00FFFF0000");
  EXPECT_EQ(hex(result->substr(65540, 5)), "010100FEFF");
  EXPECT_EQ(result->substr(5, 65535), data.substr(0, 65535));
  EXPECT_EQ(result->back(), data.back());
}

TEST(DeflateOutput, RunsBecomeMatchesAtDistanceOne) {
  const std::string data(1000, 'z');
  const auto result = deflate_bounded(data, kNoLimit);
  ASSERT_TRUE(result.has_value());
  EXPECT_LT(result->size(), 20u);  // one literal and four matches
  expect_round_trip(*result, data);
  const auto trace = testing::reference_inflate(*result, kNoLimit);
  EXPECT_EQ(trace.matches.front(), (std::pair<unsigned, unsigned>{258, 1}));
}

// Whatever the limit: the unlimited stream when it fits, the stored form when that
// is what the unlimited encoding is and it fits, and otherwise the limit message.
TEST(DeflateOutput, AnyLimitGivesTheWholeStreamOrTheLimitMessage) {
  std::mt19937 random(4242);
  for (std::uint32_t seed = 0; seed < 24; ++seed) {
    const auto shape = static_cast<testing::DataShape>(seed % 4);
    const std::size_t size = seed % 8 == 0 ? 65535 * 2 + random() % 5 : random() % (seed % 3 == 0 ? 70000 : 700);
    const std::string data = testing::make_data(shape, size, seed);
    const auto unlimited = deflate_bounded(data, kNoLimit);
    ASSERT_TRUE(unlimited.has_value());
    const std::uint64_t stored = stored_size(size);
    ASSERT_LE(unlimited->size(), stored);
    const std::uint64_t fits = unlimited->size();
    for (const std::uint64_t limit : {stored, stored - 1, fits, fits - 1, std::uint64_t{random() % 64}}) {
      const auto limited = deflate_bounded(data, limit);
      if (limit >= fits) {
        ASSERT_TRUE(limited.has_value()) << "seed " << seed << " limit " << limit;
        ASSERT_EQ(*limited, *unlimited);
      } else {
        ASSERT_FALSE(limited.has_value()) << "seed " << seed << " limit " << limit;
        ASSERT_EQ(limited.error(), "DEFLATE output exceeds the configured size limit.");
      }
    }
  }
}

TEST(DeflateOutput, LimitAtTheStoredSizeOfIncompressibleDataGivesOneStoredBlock) {
  const std::string data = testing::make_data(testing::DataShape::Random, 100, 11);
  const auto too_small = deflate_bounded(data, 10);
  ASSERT_FALSE(too_small.has_value());
  EXPECT_EQ(too_small.error(), "DEFLATE output exceeds the configured size limit.");
  const auto at_stored = deflate_bounded(data, 105);
  ASSERT_TRUE(at_stored.has_value());
  ASSERT_EQ(at_stored->size(), 105u);
  EXPECT_EQ(hex(at_stored->substr(0, 5)), "016400" "9BFF");
  EXPECT_EQ(at_stored->substr(5), data);
}

// Inputs of many shapes and sizes, the stored-block boundaries among them.
TEST(DeflateOracle, ZlibDecodesEveryOutputToTheInput) {
  const std::size_t sizes[] = {0, 1, 2, 3, 4, 5, 258, 259, 1000, 32768, 32769, 65534, 65535, 65536,
                               2 * 65535, 2 * 65535 + 1, 1u << 20, 5u << 20};
  std::uint32_t seed = 100;
  for (const auto shape : {testing::DataShape::Random, testing::DataShape::Repetitive, testing::DataShape::HalfRandom,
                           testing::DataShape::Text}) {
    for (const std::size_t size : sizes) {
      SCOPED_TRACE("shape " + std::to_string(static_cast<int>(shape)) + " size " + std::to_string(size));
      const std::string data = testing::make_data(shape, size, seed++);
      const auto stream = deflate_bounded(data, kNoLimit);
      ASSERT_TRUE(stream.has_value()) << stream.error();
      expect_round_trip(*stream, data);
      ASSERT_LE(stream->size(), stored_size(size));
      if (shape == testing::DataShape::Random && size >= 100) {
        ASSERT_EQ(stream->size(), stored_size(size));
      }
    }
  }
}

// Each block takes the form that is smallest for it: a few bytes fit a fixed
// block, text a dynamic one, and noise between text goes into stored blocks in
// the middle of the stream, which must start on a byte boundary.
TEST(DeflateOracle, EveryBlockFormIsWrittenWhereItIsSmallest) {
  const auto types_of = [](const std::string& data) {
    const auto stream = deflate_bounded(data, kNoLimit);
    EXPECT_TRUE(stream.has_value());
    expect_round_trip(*stream, data);
    return testing::reference_inflate(*stream, kNoLimit).block_types;
  };
  EXPECT_EQ(types_of("ab"), std::vector<unsigned>{1});
  EXPECT_EQ(types_of(testing::make_data(testing::DataShape::Text, 4000, 3)), std::vector<unsigned>{2});

  const std::string text = testing::make_data(testing::DataShape::Text, 300000, 4);
  const std::string noise = testing::make_data(testing::DataShape::Random, 200000, 5);
  const std::vector<unsigned> mixed = types_of(text + noise + text.substr(0, 150001));
  ASSERT_GE(mixed.size(), 3u);
  EXPECT_EQ(mixed.front(), 2u);
  EXPECT_EQ(mixed.back(), 2u);
  EXPECT_NE(std::find(mixed.begin(), mixed.end(), 0u), mixed.end());
}

// A match of every boundary length and distance of the RFC 1951 tables: fresh
// random bytes, then a copy of them `length` long from `distance` back (copies
// overlap their source when the distance is shorter), then a byte that breaks it.
// The random bytes are 7-bit, so Huffman coding beats storing them. A few
// bytes that repeat come before each segment and every 200 bytes inside it,
// so the encoder never stops searching for long. No other match may
// start before a copy and run into it, nor a longer one start at it: a
// segment of one or two bytes starts with a byte never used before, a longer
// one ends with two bytes that name it, and the byte before a copy differs
// from the byte before its source. Three-byte matches are looked for in one slot per hash and
// taken only within 4,096 bytes, so they are asked for at short distances only.
TEST(DeflateOracle, EveryLengthAndDistanceCodeBoundaryIsWrittenExactly) {
  std::vector<std::pair<unsigned, unsigned>> wanted;
  const auto boundaries = [](const auto& base, const auto& extra, unsigned last) {
    std::vector<unsigned> values;
    for (std::size_t i = 0; i < base.size(); ++i) {
      values.push_back(base[i]);
      values.push_back(std::min<unsigned>(base[i] + (1u << extra[i]) - 1, last));
    }
    return values;
  };
  for (const unsigned length : boundaries(deflate_tables::kLengthBase, deflate_tables::kLengthExtra, 258))
    for (const unsigned distance : {1u, 2u, 100u, 32768u})
      if (length > 3 || distance <= 256) wanted.push_back({length, distance});
  for (const unsigned distance : boundaries(deflate_tables::kDistanceBase, deflate_tables::kDistanceExtra, 32768))
    for (const unsigned length : {distance <= 256 ? 3u : 4u, 5u, 258u}) wanted.push_back({length, distance});

  std::mt19937 random(1951);
  std::string data;
  unsigned fresh = 128;
  for (std::size_t segment = 0; segment < wanted.size(); ++segment) {
    const auto [length, distance] = wanted[segment];
    data += "\xF0\xF1\xF2\xF3\xF4";
    const std::size_t start = data.size();
    if (distance <= 2) {
      ASSERT_LT(fresh, 256u);
      data += static_cast<char>(fresh++);
    }
    while (data.size() < start + distance - (distance > 2 ? 2 : 0)) {
      const std::size_t at = data.size() - start;
      if (at % 200 == 100 && data.size() + 4 <= start + distance - 2) {
        data += "\xF0\xF1\xF2\xF3";
        continue;
      }
      data += static_cast<char>(random() % 128);
    }
    if (distance > 2) {
      data += static_cast<char>(0x80 | segment >> 7);
      data += static_cast<char>(0x80 | (segment & 0x7F));
    }
    if (data.size() > distance && data.back() == data[data.size() - 1 - distance]) data.back() ^= 0x40;
    for (unsigned i = 0; i < length; ++i) data += data[data.size() - distance];
    const char next = data[data.size() - distance];
    data += static_cast<char>(next ^ 0x5A);  // the copy ends here
    ASSERT_GT(data.size(), start);
  }
  const auto stream = deflate_bounded(data, kNoLimit);
  ASSERT_TRUE(stream.has_value());
  expect_round_trip(*stream, data);
  const auto trace = testing::reference_inflate(*stream, kNoLimit);
  for (const auto& pair : wanted) {
    EXPECT_NE(std::find(trace.matches.begin(), trace.matches.end(), pair), trace.matches.end())
        << "length " << pair.first << " distance " << pair.second;
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
    expect_round_trip(*stream, data);
    sizes[i] = stream->size();
  }
  // Only the near repeat is matched: the far one costs its 600 bytes again as literals.
  EXPECT_GT(sizes[0], sizes[1] + 500);
}

// Kraft sum of a code, scaled so that a complete code gives exactly 2^15.
std::uint32_t kraft_sum(const std::vector<std::uint8_t>& lengths) {
  std::uint32_t sum = 0;
  for (const std::uint8_t length : lengths)
    if (length != 0) sum += 1u << (15 - length);
  return sum;
}

TEST(DeflateCodes, LengthsAreCompleteAndWithinTheBound) {
  // Fibonacci weights would need codes 29 bits long without the bound.
  std::vector<std::uint32_t> fibonacci{1, 1};
  while (fibonacci.size() < 30) fibonacci.push_back(fibonacci[fibonacci.size() - 1] + fibonacci[fibonacci.size() - 2]);
  struct Case {
    std::vector<std::uint32_t> frequencies;
    unsigned bound;
  };
  const Case cases[] = {
      {fibonacci, 15},
      {std::vector<std::uint32_t>(19, 1), 7},
      {{0, 0, 5, 0}, 15},                      // one used symbol: two one-bit codes
      {{0, 0, 0, 0}, 15},                      // none used: still two one-bit codes
      {{1000, 1, 1, 1, 1, 1, 1, 1, 1}, 4},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> lengths(c.frequencies.size());
    deflate_codes::build_code_lengths(c.frequencies, c.bound, lengths);
    EXPECT_EQ(kraft_sum(lengths), 1u << 15);
    for (std::size_t i = 0; i < lengths.size(); ++i) {
      EXPECT_LE(lengths[i], c.bound);
      if (c.frequencies[i] != 0) {
        EXPECT_NE(lengths[i], 0u);
      }
    }
  }
  // Unbounded, the optimal lengths of 1, 1, 2, 4 are 3, 3, 2, 1.
  std::vector<std::uint8_t> lengths(4);
  deflate_codes::build_code_lengths(std::vector<std::uint32_t>{1, 1, 2, 4}, 15, lengths);
  EXPECT_EQ(lengths, (std::vector<std::uint8_t>{3, 3, 2, 1}));
}

TEST(DeflateCodes, SkewedLiteralsGiveLongCodesThatZlibReads) {
  // Literal counts in Fibonacci proportions in one block, shuffled so matches stay short.
  std::mt19937 random(77);
  std::string data;
  std::uint32_t a = 1, b = 1;
  for (int symbol = 0; symbol < 22; ++symbol) {
    data.append(a, static_cast<char>('A' + symbol));
    const std::uint32_t next = a + b;
    a = b;
    b = next;
  }
  std::shuffle(data.begin(), data.end(), random);
  data.resize(30000);
  const auto stream = deflate_bounded(data, kNoLimit);
  ASSERT_TRUE(stream.has_value());
  expect_round_trip(*stream, data);
}

}  // namespace
}  // namespace tarnwick
