// sample_literal_matches against a slow reference: its offsets are the first
// matches of the replacer's leftmost, non-overlapping rule, its count all of them.
#include <gtest/gtest.h>

#include <random>

#include "literal/literal.h"

namespace tarnwick {
namespace {

std::vector<std::size_t> reference_matches(const std::string& data, const std::string& find) {
  std::vector<std::size_t> offsets;
  for (std::size_t at = data.find(find); at != std::string::npos; at = data.find(find, at + find.size()))
    offsets.push_back(at);
  return offsets;
}

TEST(SampleLiteralMatches, KeepsTheFirstMatchesAndThoseCloseBehindThem) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> letter(0, 2);
  for (int round = 0; round < 500; ++round) {
    std::string data(random() % 200, 'a');
    for (char& c : data) c = static_cast<char>('a' + letter(random));
    const std::string find(1 + random() % 3, 'a');
    const std::size_t first = random() % 4;
    const std::size_t tail = random() % 10;
    const MatchSample sample = sample_literal_matches(data, find, FoldAsciiCase::No, first, tail);
    const std::vector<std::size_t> all = reference_matches(data, find);
    ASSERT_EQ(sample.count, all.size());
    std::size_t kept = std::min(first, all.size());
    while (first > 0 && kept < all.size() && all[kept] < all[first - 1] + find.size() + tail) ++kept;
    EXPECT_EQ(sample.offsets, std::vector<std::size_t>(all.begin(), all.begin() + kept)) << data << " / " << find;
  }
  EXPECT_EQ(sample_literal_matches("xTARNx tarn", "tarn", FoldAsciiCase::Yes, 5, 0).offsets,
            (std::vector<std::size_t>{1, 7}));
}

}  // namespace
}  // namespace tarnwick
