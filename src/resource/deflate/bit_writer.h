// The encoder's output: bits packed least significant first into storage of a fixed cap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarnwick {

// Whole bytes are appended four at a time; since output only grows, such a
// group exceeds the cap exactly when appending its bytes one at a time would.
// Once the cap is exceeded every later write is dropped and exceeded() holds.
class BitWriter {
 public:
  BitWriter(char* data, std::size_t cap) : data_(data), cap_(cap) {}

  // count <= 32 bits, the first of them in bit 0 of bits.
  void put(std::uint64_t bits, unsigned count) {
    accumulator_ |= bits << pending_;
    pending_ += count;
    if (pending_ >= 32) append_word();
  }

  // Zero bits up to the next byte boundary, then every pending byte.
  void align() {
    pending_ = (pending_ + 7) & ~7u;
    while (pending_ > 0) {
      if (!room_for(1)) return;
      data_[length_++] = static_cast<char>(accumulator_ & 0xFF);
      accumulator_ >>= 8;
      pending_ -= 8;
    }
  }

  // Raw bytes at a byte boundary (after align()).
  void put_bytes(const std::uint8_t* bytes, std::size_t count) {
    if (!room_for(count)) return;
    if (count != 0) std::memcpy(data_ + length_, bytes, count);
    length_ += count;
  }

  // Bits written so far, counting those not yet appended.
  std::uint64_t bit_position() const { return std::uint64_t{length_} * 8 + pending_; }
  bool exceeded() const { return exceeded_; }
  std::size_t length() const { return length_; }

 private:
  bool room_for(std::size_t count) {
    if (!exceeded_ && count <= cap_ - length_) return true;
    exceeded_ = true;
    pending_ = 0;
    accumulator_ = 0;
    return false;
  }

  void append_word() {
    if (!room_for(4)) return;
    const auto word = static_cast<std::uint32_t>(accumulator_);
    for (unsigned i = 0; i < 4; ++i) data_[length_ + i] = static_cast<char>(word >> (8 * i));
    length_ += 4;
    accumulator_ >>= 32;
    pending_ -= 32;
  }

  char* data_;
  std::size_t cap_;
  std::size_t length_ = 0;
  std::uint64_t accumulator_ = 0;
  unsigned pending_ = 0;
  bool exceeded_ = false;
};

}  // namespace tarnwick
