// The raw DEFLATE decoder: one hand-built stream per refusal, the edge cases of the format,
// zlib as the oracle, and a bit-serial reference for exact results and messages.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "resource/deflate/deflate.h"
#include "resource/deflate/reference_codec.h"
#include "resource/deflate/stream_writer.h"
#include "resource/deflate/zlib_oracle.h"

namespace tarnwick {
namespace {

using testing::canonical_codes;
using testing::complete_code_length_lengths;
using testing::dynamic_block;
using testing::dynamic_header;
using testing::fixed_literal_code;
using testing::LengthToken;
using testing::put;
using testing::StreamWriter;

constexpr std::uint64_t kNoLimit = 1ull << 30;

StreamWriter& fixed_block(StreamWriter& writer, bool final_block) { return writer.bits(final_block, 1).bits(1, 2); }
StreamWriter& fixed_literal(StreamWriter& writer, unsigned symbol) { return put(writer, fixed_literal_code(symbol)); }
StreamWriter& fixed_end(StreamWriter& writer) { return fixed_literal(writer, 256); }
// Length symbol (257-285) with its extra bits, then a five-bit distance code with its extra bits.
StreamWriter& fixed_match(StreamWriter& writer, unsigned length_symbol, std::uint32_t length_extra,
                          unsigned length_extra_bits, unsigned distance_code, std::uint32_t distance_extra = 0,
                          unsigned distance_extra_bits = 0) {
  fixed_literal(writer, length_symbol).bits(length_extra, length_extra_bits);
  return writer.code(distance_code, 5).bits(distance_extra, distance_extra_bits);
}

std::string fixed_stream(const std::string& literals) {
  StreamWriter writer;
  fixed_block(writer, true);
  for (const char c : literals) fixed_literal(writer, static_cast<std::uint8_t>(c));
  return fixed_end(writer).bytes();
}

// Literal/length lengths: 'a' one bit, end-of-block and length 3 two bits each.
std::vector<std::uint8_t> small_literal_lengths() {
  std::vector<std::uint8_t> lengths(258, 0);
  lengths['a'] = 1;
  lengths[256] = 2;
  lengths[257] = 2;
  return lengths;
}

struct Refusal {
  const char* name;
  std::string stream;
  std::uint64_t limit;
  const char* message;
};

std::vector<Refusal> refusals() {
  std::vector<Refusal> cases;
  cases.push_back({"empty_input", "", kNoLimit, "Truncated DEFLATE stream."});
  cases.push_back({"reserved_block_type", StreamWriter().bits(1, 1).bits(3, 2).bytes(), kNoLimit,
                   "Reserved DEFLATE block type."});
  cases.push_back({"stored_length_complement", std::string("\x01\x05\x00\xFF\xFF", 5), kNoLimit,
                   "Invalid DEFLATE stored-block length complement."});
  cases.push_back({"stored_data_cut_short", std::string("\x01\x05\x00\xFA\xFF" "ab", 7), kNoLimit,
                   "Truncated DEFLATE stored block."});
  cases.push_back({"stored_header_cut_short", std::string("\x01\x05\x00\xFA", 4), kNoLimit,
                   "Truncated DEFLATE stream."});
  // The limit is checked before the input length: a stored block too large for the
  // limit is refused for its size even when its data is missing too.
  cases.push_back({"stored_block_above_limit", std::string("\x01\x05\x00\xFA\xFF", 5), 4,
                   "DEFLATE output exceeds the configured size limit."});
  cases.push_back({"no_final_block", std::string("\x00\x00\x00\xFF\xFF", 5), kNoLimit, "Truncated DEFLATE stream."});
  cases.push_back({"literal_alphabet_size_30", StreamWriter().bits(1, 1).bits(2, 2).bits(30, 5).bits(0, 9).bytes(),
                   kNoLimit, "Reserved DEFLATE literal/length alphabet size."});
  {
    StreamWriter writer;
    dynamic_header(writer, true, 0, 0, complete_code_length_lengths(), {{16, 0}});
    cases.push_back(
        {"repeat_first_length", writer.bytes(), kNoLimit, "DEFLATE repeats a code length before any previous length."});
  }
  {
    StreamWriter writer;  // 258 lengths in all; two runs of 138 zeros overshoot
    dynamic_header(writer, true, 0, 0, complete_code_length_lengths(), {{18, 127}, {18, 127}});
    cases.push_back({"repeat_past_alphabet", writer.bytes(), kNoLimit, "DEFLATE code-length repeat exceeds its alphabet."});
  }
  {
    std::vector<std::uint8_t> literal(257, 8);
    literal[256] = 0;
    StreamWriter writer;
    dynamic_block(writer, true, literal, {1});
    cases.push_back({"no_end_of_block_code", writer.bytes(), kNoLimit, "DEFLATE literal alphabet has no end-of-block code."});
  }
  {
    StreamWriter writer;
    dynamic_header(writer, true, 0, 0, std::vector<std::uint8_t>(19, 0), {});
    cases.push_back({"empty_code_length_code", writer.bytes(), kNoLimit, "Empty DEFLATE Huffman alphabet."});
  }
  {
    std::vector<std::uint8_t> lengths(19, 0);
    lengths[0] = lengths[1] = lengths[2] = 1;
    StreamWriter writer;
    dynamic_header(writer, true, 0, 0, lengths, {});
    cases.push_back({"oversubscribed_code", writer.bytes(), kNoLimit, "Oversubscribed DEFLATE Huffman alphabet."});
  }
  {
    std::vector<std::uint8_t> lengths(19, 0);
    lengths[8] = 1;  // a single one-bit code is never enough for code lengths
    StreamWriter writer;
    dynamic_header(writer, true, 0, 0, lengths, {{8}});
    cases.push_back({"single_code_length_code", writer.bytes(), kNoLimit, "Incomplete DEFLATE Huffman alphabet."});
  }
  {
    std::vector<std::uint8_t> literal(257, 0);
    literal['a'] = 2;
    literal[256] = 2;
    StreamWriter writer;
    dynamic_block(writer, true, literal, {1});
    cases.push_back({"incomplete_two_bit_literal_code", writer.bytes(), kNoLimit, "Incomplete DEFLATE Huffman alphabet."});
  }
  {
    StreamWriter writer;  // no distance codes at all: the first match fails
    const auto [literal, distance] = dynamic_block(writer, true, small_literal_lengths(), {0});
    put(put(writer, literal['a']), literal[257]);
    cases.push_back({"match_with_empty_distance_code", writer.bytes(), kNoLimit, "Invalid DEFLATE Huffman code."});
  }
  {
    StreamWriter writer;  // a single one-bit distance code "0"; the stream sends "1"
    const auto [literal, distance] = dynamic_block(writer, true, small_literal_lengths(), {1});
    put(put(writer, literal['a']), literal[257]).bits(1, 1);
    cases.push_back({"unused_one_bit_distance", writer.bytes(), kNoLimit, "Invalid DEFLATE Huffman code."});
  }
  {
    StreamWriter writer;  // the input ends in the middle of the nine-bit code for 200
    fixed_block(writer, true).code(fixed_literal_code(200).value >> 4, 5);
    cases.push_back({"truncated_inside_code", writer.bytes(), kNoLimit, "Truncated DEFLATE stream."});
  }
  {
    StreamWriter writer;
    fixed_literal(fixed_block(writer, true), 286);
    cases.push_back({"literal_length_code_286", writer.bytes(), kNoLimit, "Reserved DEFLATE literal/length code."});
  }
  {
    StreamWriter writer;
    fixed_match(fixed_literal(fixed_block(writer, true), 'a'), 257, 0, 0, 30);
    cases.push_back({"distance_code_30", writer.bytes(), kNoLimit, "Reserved DEFLATE distance code."});
  }
  {
    StreamWriter writer;  // distance 2 after one byte of output
    fixed_end(fixed_match(fixed_literal(fixed_block(writer, true), 'a'), 257, 0, 0, 1));
    cases.push_back(
        {"distance_beyond_output", writer.bytes(), kNoLimit, "DEFLATE back-reference is outside the 32 KiB output history."});
  }
  cases.push_back({"literal_above_limit", fixed_stream("ab"), 1, "DEFLATE output exceeds the configured size limit."});
  {
    StreamWriter writer;  // one literal and a three-byte match: 4 bytes
    fixed_end(fixed_match(fixed_literal(fixed_block(writer, true), 'a'), 257, 0, 0, 0));
    cases.push_back({"match_above_limit", writer.bytes(), 3, "DEFLATE output exceeds the configured size limit."});
  }
  return cases;
}

// No stream can reach "DEFLATE bit offset overflow." (inputs below 2^61 bytes),
// "Invalid DEFLATE code-length symbol." (the code-length alphabet has only symbols
// 0-18), "DEFLATE Huffman alphabet is too large." or "Invalid DEFLATE Huffman code
// length." (at most 288 symbols, lengths of 3 bits or from symbols 0-15), nor
// "Cannot reserve bounded DEFLATE output memory." without exhausting memory.
TEST(InflateRefusals, EachMessageFromAHandBuiltStream) {
  for (const Refusal& refusal : refusals()) {
    SCOPED_TRACE(refusal.name);
    const auto result = inflate_raw(refusal.stream, refusal.limit);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), refusal.message);
    const bool at_limit = std::string_view(refusal.message) == "DEFLATE output exceeds the configured size limit.";
    EXPECT_EQ(inflate_raw_with_fault(refusal.stream, refusal.limit).error().fault,
              at_limit ? InflateFault::OutputLimit : InflateFault::InvalidStream);
    // The reference reading of the rules agrees with every one of them.
    EXPECT_EQ(testing::reference_inflate(refusal.stream, refusal.limit).message, refusal.message);
  }
}

TEST(InflateStored, EmptyFinalBlockConsumesFortyBitsAndLeavesTheRestUnread) {
  const std::string stream("\x01\x00\x00\xFF\xFFtrailing", 13);
  const auto result = inflate_raw(stream, kNoLimit);
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_EQ(result->bytes, "");
  EXPECT_EQ(result->bits_consumed, 40u);
}

TEST(InflateStored, HistoryCarriesAcrossBlocksAndAlignmentSkipsPartialBytes) {
  StreamWriter writer;
  writer.bits(0, 1).bits(0, 2).raw(std::string("\x03\x00\xFC\xFF", 4) + "abc");  // stored "abc", not final
  fixed_block(writer, false);
  fixed_match(writer, 257, 0, 0, 2);  // length 3 at distance 3
  fixed_end(writer);
  writer.bits(1, 1).bits(0, 2).raw(std::string("\x01\x00\xFE\xFF", 4) + "!");  // stored after a partial byte
  const auto result = inflate_raw(writer.bytes() + "junk", kNoLimit);
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_EQ(result->bytes, "abcabc!");
  EXPECT_EQ(result->bits_consumed, writer.bit_count());
}

TEST(InflateCodes, SingleOneBitLiteralCodeIsAccepted) {
  std::vector<std::uint8_t> literal(257, 0);
  literal[256] = 1;
  StreamWriter writer;
  const auto [codes, distance] = dynamic_block(writer, true, literal, {0});
  put(writer, codes[256]);
  const auto result = inflate_raw(writer.bytes(), kNoLimit);
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_EQ(result->bytes, "");
  EXPECT_EQ(result->bits_consumed, writer.bit_count());
}

TEST(InflateCodes, EmptyDistanceCodeIsValidForLiteralsOnly) {
  StreamWriter writer;
  const auto [literal, distance] = dynamic_block(writer, true, small_literal_lengths(), {0});
  put(put(put(writer, literal['a']), literal['a']), literal[256]);
  const auto result = inflate_raw(writer.bytes(), kNoLimit);
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_EQ(result->bytes, "aa");
}

TEST(InflateCodes, RepeatRunsFromLiteralLengthsIntoDistanceLengths) {
  // 286 literal/length and 2 distance lengths: 'a' 1, 256 2, 257 2, then one run of 29
  // zeros covering symbols 258-285 and distance symbol 0, then distance symbol 1 (distance 2).
  StreamWriter writer;
  std::vector<LengthToken> tokens = {{18, 97 - 11}, {1}, {18, 127}, {18, 158 - 138 - 11}, {2}, {2}, {18, 29 - 11}, {1}};
  dynamic_header(writer, true, 29, 1, complete_code_length_lengths(), tokens);
  std::vector<std::uint8_t> literal(286, 0);
  literal['a'] = 1;
  literal[256] = literal[257] = 2;
  const auto codes = canonical_codes(literal);
  put(put(put(writer, codes['a']), codes['a']), codes[257]).bits(0, 1);  // length 3, distance code "0" = symbol 1
  put(writer, codes[256]);
  const auto result = inflate_raw(writer.bytes(), kNoLimit);
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_EQ(result->bytes, "aaaaa");
}

TEST(InflateMatches, DistanceEqualToOutputIsValidAndOneMoreIsNot) {
  for (const unsigned distance : {3u, 4u}) {
    StreamWriter writer;
    fixed_block(writer, true);
    for (const char c : std::string("abc")) fixed_literal(writer, static_cast<std::uint8_t>(c));
    fixed_end(fixed_match(writer, 257, 0, 0, distance - 1));  // codes 2 and 3 are distances 3 and 4
    const auto result = inflate_raw(writer.bytes(), kNoLimit);
    if (distance == 3) {
      ASSERT_TRUE(result.has_value()) << result.error();
      EXPECT_EQ(result->bytes, "abcabc");
    } else {
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error(), "DEFLATE back-reference is outside the 32 KiB output history.");
    }
  }
}

TEST(InflateMatches, LongestMatchAtDistanceOneAndTheExactLimit) {
  StreamWriter writer;
  fixed_end(fixed_match(fixed_literal(fixed_block(writer, true), 'x'), 285, 0, 0, 0));
  const std::string stream = writer.bytes();
  const auto exact = inflate_raw(stream, 259);
  ASSERT_TRUE(exact.has_value()) << exact.error();
  EXPECT_EQ(exact->bytes, std::string(259, 'x'));
  const auto short_by_one = inflate_raw(stream, 258);
  ASSERT_FALSE(short_by_one.has_value());
  EXPECT_EQ(short_by_one.error(), "DEFLATE output exceeds the configured size limit.");
}

TEST(InflateMatches, FullWindowDistanceReachesTheFirstByte) {
  // 32,768 bytes of stored history, then distance 32,768 (code 29, extra 8,191) copies the first bytes.
  std::string history(32768, '\0');
  for (std::size_t i = 0; i < history.size(); ++i) history[i] = static_cast<char>(i * 7 + i / 251);
  StreamWriter writer;
  writer.bits(0, 1).bits(0, 2).raw(std::string("\xFF\x7F\x00\x80", 4) + history.substr(0, 32767));
  writer.bits(0, 1).bits(0, 2).raw(std::string("\x01\x00\xFE\xFF", 4) + history.substr(32767));
  fixed_block(writer, true);
  fixed_end(fixed_match(writer, 259, 0, 0, 29, 8191, 13));  // length 5
  const auto result = inflate_raw(writer.bytes(), kNoLimit);
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_EQ(result->bytes, history + history.substr(0, 5));
}

TEST(InflateCodes, ThirtyTwoDistanceCodesFailOnlyWhenAnUnusedOneIsDecoded) {
  // zlib refuses HDIST above 29 outright; these rules accept it until code 30 or 31 appears.
  for (const unsigned used : {0u, 30u}) {
    StreamWriter writer;
    const auto [literal, distance] = dynamic_block(writer, true, small_literal_lengths(), std::vector<std::uint8_t>(32, 5));
    put(put(put(writer, literal['a']), literal[257]), distance[used]);
    put(writer, literal[256]);
    const auto result = inflate_raw(writer.bytes(), kNoLimit);
    if (used == 0) {
      ASSERT_TRUE(result.has_value()) << result.error();
      EXPECT_EQ(result->bytes, "aaaa");
      EXPECT_FALSE(testing::zlib_inflate_raw(writer.bytes()).has_value());
    } else {
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error(), "Reserved DEFLATE distance code.");
    }
  }
}

TEST(InflateOracle, ZlibStreamsOfEveryLevelAndStrategyDecodeToTheSameBytes) {
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  std::uint32_t seed = 1;
  for (const auto shape : {testing::DataShape::Random, testing::DataShape::Repetitive, testing::DataShape::HalfRandom,
                           testing::DataShape::Text}) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{300}, std::size_t{70000},
                                   std::size_t{1} << 20}) {
      const std::string data = testing::make_data(shape, size, seed++);
      for (int level = 0; level <= 9; ++level) {
        for (const int strategy : strategies) {
          if (size >= (1u << 20) && level != 1 && level != 6) continue;  // the big input at two levels keeps this quick
          const std::string stream = testing::zlib_deflate_raw(data, level, strategy);
          const auto result = inflate_raw(stream + "tail", data.size());
          ASSERT_TRUE(result.has_value()) << "level " << level << " strategy " << strategy << ": " << result.error();
          ASSERT_EQ(result->bytes, data);
          ASSERT_EQ((result->bits_consumed + 7) / 8, stream.size());
        }
      }
    }
  }
}

// Streams near valid ones: zlib and encoder output with bits flipped, cut short, or
// given tight limits, plus short random byte strings. The table-driven decoder must
// give the bit-serial reference's bytes, bit count and message for every one.
TEST(InflateReference, TableDrivenDecodingAgreesWithBitSerialRules) {
  std::mt19937 random(20261208);
  std::vector<std::string> streams;
  for (std::uint32_t seed = 0; seed < 40; ++seed) {
    const auto shape = static_cast<testing::DataShape>(seed % 4);
    const std::string data = testing::make_data(shape, random() % 3000, seed);
    streams.push_back(testing::zlib_deflate_raw(data, static_cast<int>(seed % 10), seed % 5 == 4 ? Z_FIXED : Z_DEFAULT_STRATEGY));
    const auto own = deflate_bounded(data, kNoLimit);
    ASSERT_TRUE(own.has_value());
    streams.push_back(*own);
  }
  std::size_t compared = 0;
  auto compare = [&](const std::string& stream, std::uint64_t limit) {
    const auto expected = testing::reference_inflate(stream, limit);
    const auto actual = inflate_raw(stream, limit);
    ++compared;
    ASSERT_EQ(actual.has_value(), expected.ok) << (actual ? "accepted" : actual.error()) << " / " << expected.message;
    if (!expected.ok) {
      ASSERT_EQ(actual.error(), expected.message);
      return;
    }
    ASSERT_EQ(actual->bytes, expected.bytes);
    ASSERT_EQ(actual->bits_consumed, expected.bits);
  };
  for (const std::string& original : streams) {
    for (int round = 0; round < 40; ++round) {
      std::string stream = original;
      if (!stream.empty()) {
        const int mode = round % 4;
        if (mode == 0 || mode == 1) {
          for (int flips = 0; flips <= mode; ++flips) stream[random() % stream.size()] ^= static_cast<char>(1 << (random() % 8));
        } else if (mode == 2) {
          stream.resize(random() % stream.size());
        }
      }
      const auto decoded = testing::reference_inflate(stream, kNoLimit);
      const std::uint64_t limit = decoded.ok && round % 3 == 0 ? decoded.bytes.size() - (round % 2) : kNoLimit;
      compare(stream, decoded.ok && decoded.bytes.empty() ? 0 : limit);
      if (HasFatalFailure()) return;
    }
  }
  for (int round = 0; round < 20000; ++round) {
    std::string stream(1 + random() % 24, '\0');
    for (char& c : stream) c = static_cast<char>(random());
    compare(stream, 1 + random() % 64);
    if (HasFatalFailure()) return;
  }
  std::printf("compared %zu streams with the bit-serial reference\n", compared);
}

}  // namespace
}  // namespace tarnwick
