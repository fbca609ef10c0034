// Leftmost, non-overlapping search for one byte pattern, optionally folding ASCII
// A-Z to a-z bytewise: a Knuth-Morris-Pratt automaton that skips ahead with a
// vectorised scan for the pattern's two least common bytes whenever it is in
// its start state.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "literal/literal.h"

namespace tarnwick {

// How wide the candidate scan may be: the widest this processor runs, or
// sixteen bytes (the form for processors without AVX2, kept testable on any).
enum class ScanWidth : bool { Widest, Narrow };

class BytePattern {
 public:
  BytePattern(std::string_view pattern, FoldAsciiCase fold, ScanWidth width = ScanWidth::Widest);

  std::size_t size() const { return pattern_.size(); }

  // Calls on_match(offset) for every match, left to right; returns the count.
  template <class OnMatch>
  std::uint64_t scan(std::string_view data, OnMatch on_match) const;

 private:
  unsigned char fold_byte(unsigned char byte) const {
    return fold_ == FoldAsciiCase::Yes && byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + 0x20) : byte;
  }
  // First offset at or after from where a match can begin (the pattern's two
  // rare bytes agree at their offsets), or data.size() when there is none.
  std::size_t next_candidate(const unsigned char* data, std::size_t size, std::size_t from) const;

  std::basic_string<unsigned char> pattern_;  // folded when folding
  std::vector<std::size_t> failure_;          // prefix function of pattern_
  FoldAsciiCase fold_;
  bool wide_ = false;  // the candidate scan runs 32 bytes at a time
  void choose_rare_bytes();

  // The two bytes of the pattern least common in text and data (the same
  // one twice for a one-byte pattern), which the candidate scan looks for
  // together. It compares (data byte | letter bit) with them: the letter bit
  // is 0x20 for a letter when folding, so that both cases compare equal, and
  // 0 otherwise.
  struct RareBytes {
    std::size_t first_offset = 0, second_offset = 0;
    unsigned char first_letter_bit = 0, second_letter_bit = 0;
  };
  RareBytes rare_;
};

template <class OnMatch>
std::uint64_t BytePattern::scan(std::string_view data, OnMatch on_match) const {
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  const std::size_t size = data.size();
  const std::size_t length = pattern_.size();
  std::uint64_t count = 0;
  std::size_t state = 0;
  for (std::size_t i = 0; i < size;) {
    // In the start state no partial match is alive, so every byte before the next
    // candidate would leave the automaton where it is: jump over them.
    if (state == 0) {
      i = next_candidate(bytes, size, i);
      if (i == size) break;
    }
    const unsigned char byte = fold_byte(bytes[i]);
    while (state > 0 && byte != pattern_[state]) state = failure_[state - 1];
    if (byte == pattern_[state]) ++state;
    ++i;
    if (state == length) {
      on_match(i - length);
      ++count;
      state = 0;  // matches never overlap
    }
  }
  return count;
}

}  // namespace tarnwick
