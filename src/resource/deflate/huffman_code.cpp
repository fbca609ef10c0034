// Length-limited canonical Huffman codes: minimum-redundancy lengths computed in
// place, deepened levels folded back under the bound, canonical code values.
#include "resource/deflate/huffman_code.h"

#include <algorithm>
#include <array>
#include <cassert>

namespace tarnwick::deflate_codes {
namespace {

constexpr unsigned kMaxCodeBits = 15;

// Minimum-redundancy code lengths for weights in ascending order, computed in
// place (Moffat and Katajainen): the first pass builds the tree with parent
// indices, the second turns them into internal node depths, the third into
// leaf depths. On return weights[i] is the code length of the i-th weight.
void minimum_redundancy_lengths(std::uint32_t* weights, std::size_t n) {
  if (n == 1) {
    weights[0] = 0;
    return;
  }
  weights[0] += weights[1];
  std::size_t root = 0;
  std::size_t leaf = 2;
  for (std::size_t next = 1; next < n - 1; ++next) {
    if (leaf >= n || weights[root] < weights[leaf]) {
      weights[next] = weights[root];
      weights[root++] = static_cast<std::uint32_t>(next);
    } else {
      weights[next] = weights[leaf++];
    }
    if (leaf >= n || (root < next && weights[root] < weights[leaf])) {
      weights[next] += weights[root];
      weights[root++] = static_cast<std::uint32_t>(next);
    } else {
      weights[next] += weights[leaf++];
    }
  }
  weights[n - 2] = 0;
  for (std::size_t next = n - 2; next-- > 0;) weights[next] = weights[weights[next]] + 1;
  std::size_t available = 1;
  std::size_t used = 0;
  std::uint32_t depth = 0;
  std::ptrdiff_t internal = static_cast<std::ptrdiff_t>(n) - 2;
  std::ptrdiff_t next = static_cast<std::ptrdiff_t>(n) - 1;
  while (available > 0) {
    while (internal >= 0 && weights[internal] == depth) {
      ++used;
      --internal;
    }
    while (available > used) {
      weights[next--] = depth;
      --available;
    }
    available = 2 * used;
    ++depth;
    used = 0;
  }
}

// Moves leaves deeper than max_length up while keeping the code complete: two
// leaves at the deepest level become one a level up, and a shallower leaf
// becomes two one level deeper, which leaves the Kraft sum at exactly one.
void limit_depth(std::array<std::uint32_t, kMaxSymbols + 1>& count, unsigned deepest, unsigned max_length) {
  for (unsigned level = deepest; level > max_length; --level) {
    while (count[level] > 0) {
      unsigned shallower = level - 2;
      while (count[shallower] == 0) --shallower;
      count[level] -= 2;
      count[level - 1] += 1;
      count[shallower + 1] += 2;
      count[shallower] -= 1;
    }
  }
}

}  // namespace

void build_code_lengths(std::span<const std::uint32_t> frequencies, unsigned max_length,
                        std::span<std::uint8_t> lengths) {
  assert(frequencies.size() <= kMaxSymbols && lengths.size() == frequencies.size());
  assert(max_length >= 1 && max_length <= kMaxCodeBits);
  std::fill(lengths.begin(), lengths.end(), std::uint8_t{0});
  std::array<std::uint16_t, kMaxSymbols> order{};
  std::size_t used = 0;
  for (std::size_t symbol = 0; symbol < frequencies.size(); ++symbol)
    if (frequencies[symbol] > 0) order[used++] = static_cast<std::uint16_t>(symbol);
  if (used < 2) {
    if (used == 1) lengths[order[0]] = 1;
    for (std::size_t symbol = 0; used < 2 && symbol < lengths.size(); ++symbol) {
      if (lengths[symbol] != 0) continue;
      lengths[symbol] = 1;
      ++used;
    }
    return;
  }
  // Ties keep symbol order, so equal inputs always give equal codes.
  std::stable_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(used),
                   [&](std::uint16_t a, std::uint16_t b) { return frequencies[a] < frequencies[b]; });
  std::array<std::uint32_t, kMaxSymbols> weights{};
  for (std::size_t i = 0; i < used; ++i) weights[i] = frequencies[order[i]];
  minimum_redundancy_lengths(weights.data(), used);

  std::array<std::uint32_t, kMaxSymbols + 1> count{};
  unsigned deepest = 0;
  for (std::size_t i = 0; i < used; ++i) {
    ++count[weights[i]];
    deepest = std::max<unsigned>(deepest, weights[i]);
  }
  limit_depth(count, deepest, max_length);
  // The least frequent symbols take the longest codes.
  std::size_t next = 0;
  for (unsigned length = std::min(deepest, max_length); length >= 1; --length)
    for (std::uint32_t k = 0; k < count[length]; ++k) lengths[order[next++]] = static_cast<std::uint8_t>(length);
}

void canonical_codes(std::span<const std::uint8_t> lengths, std::span<std::uint16_t> codes) {
  std::array<std::uint16_t, kMaxCodeBits + 2> next_code{};
  std::array<std::uint16_t, kMaxCodeBits + 1> count{};
  for (const std::uint8_t length : lengths) ++count[length];
  count[0] = 0;
  std::uint32_t code = 0;
  for (unsigned length = 1; length <= kMaxCodeBits; ++length) {
    code = (code + count[length - 1]) << 1;
    next_code[length] = static_cast<std::uint16_t>(code);
  }
  for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
    const unsigned length = lengths[symbol];
    if (length == 0) {
      codes[symbol] = 0;
      continue;
    }
    const std::uint32_t value = next_code[length]++;
    std::uint32_t reversed = 0;
    for (unsigned bit = 0; bit < length; ++bit) reversed |= ((value >> bit) & 1u) << (length - 1 - bit);
    codes[symbol] = static_cast<std::uint16_t>(reversed);
  }
}

}  // namespace tarnwick::deflate_codes
