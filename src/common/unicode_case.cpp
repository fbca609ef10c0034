// Full Unicode lower-casing: the key of the collision rule and the sort order of
// the folder browser, from one generated table.
#include "common/unicode_case.h"

#include <algorithm>
#include <vector>

#include "common/utf8.h"

namespace tarnwick {

namespace {

struct LowercaseMapping {
  char32_t from;
  char32_t to[2];  // a second code point of 0 means none
};
struct CodeRange {
  char32_t first;
  char32_t last;
};

#include "common/lowercase_table.inc"

constexpr char32_t kCapitalSigma = 0x03A3;
constexpr char32_t kSmallSigma = 0x03C3;
constexpr char32_t kFinalSigma = 0x03C2;

template <std::size_t N>
bool in_ranges(const CodeRange (&ranges)[N], char32_t code_point) {
  const auto* found = std::upper_bound(std::begin(ranges), std::end(ranges), code_point,
                                       [](char32_t value, const CodeRange& range) { return value < range.first; });
  return found != std::begin(ranges) && code_point <= (found - 1)->last;
}

const LowercaseMapping* find_mapping(char32_t code_point) {
  const auto* found =
      std::lower_bound(std::begin(kLowercaseMappings), std::end(kLowercaseMappings), code_point,
                       [](const LowercaseMapping& mapping, char32_t value) { return mapping.from < value; });
  return found != std::end(kLowercaseMappings) && found->from == code_point ? found : nullptr;
}

// One unit of a key's source: a character, or a byte that starts no valid sequence.
struct Unit {
  char32_t code_point;
  bool valid;
  char byte;
};

bool is_cased(const Unit& unit) { return unit.valid && in_ranges(kCasedRanges, unit.code_point); }
bool is_case_ignorable(const Unit& unit) { return unit.valid && in_ranges(kCaseIgnorableRanges, unit.code_point); }

// Final_Sigma: a cased letter before (skipping case-ignorables), none after.
bool is_final_sigma(const std::vector<Unit>& units, std::size_t at) {
  std::size_t before = at;
  while (before > 0 && is_case_ignorable(units[before - 1])) --before;
  if (before == 0 || !is_cased(units[before - 1])) return false;
  std::size_t after = at + 1;
  while (after < units.size() && is_case_ignorable(units[after])) ++after;
  return after == units.size() || !is_cased(units[after]);
}

void append_mapping(std::string& key, const LowercaseMapping& mapping) {
  append_utf8(key, mapping.to[0]);
  if (mapping.to[1] != 0) append_utf8(key, mapping.to[1]);
}

void append_mapped(std::string& key, char32_t code_point) {
  if (const LowercaseMapping* mapping = find_mapping(code_point)) {
    append_mapping(key, *mapping);
  } else {
    append_utf8(key, code_point);
  }
}

// The key of a text without a capital sigma, one character at a time; bytes
// that start no valid character are kept one by one.
void lower_each_character(std::string_view bytes, std::string& key) {
  key.clear();
  for (std::size_t at = 0; at < bytes.size();) {
    const char byte = bytes[at];
    if (static_cast<unsigned char>(byte) < 0x80) {
      key.push_back(ascii_lower(byte));
      ++at;
      continue;
    }
    const Utf8Step step = utf8_step(bytes, at);
    if (!step.valid) {
      key.push_back(byte);
      ++at;
      continue;
    }
    if (const LowercaseMapping* mapping = find_mapping(step.code_point)) {
      append_mapping(key, *mapping);
    } else {
      key.append(bytes.substr(at, step.length));
    }
    at += step.length;
  }
}

}  // namespace

std::string lower_case_key(std::string_view bytes) {
  std::string key;
  lower_case_key_into(bytes, key);
  return key;
}

void lower_case_key_into(std::string_view bytes, std::string& key) {
  key.assign(bytes);
  if (is_ascii(bytes)) {
    lower_ascii_in_place(key);
    return;
  }
  // Only the capital sigma depends on its neighbours; without one (its bytes
  // cannot occur inside another sequence) every character maps on its own.
  if (bytes.find("\xCE\xA3") == std::string_view::npos) {
    lower_each_character(bytes, key);
    return;
  }
  std::vector<Unit> units;
  units.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    // Every byte of an invalid subpart is a unit of its own, kept as it is.
    const Utf8Step step = utf8_step(bytes, at);
    if (step.valid) {
      units.push_back(Unit{step.code_point, true, 0});
      at += step.length;
    } else {
      units.push_back(Unit{0, false, bytes[at]});
      ++at;
    }
  }
  key.clear();
  for (std::size_t i = 0; i < units.size(); ++i) {
    const Unit& unit = units[i];
    if (!unit.valid) {
      key.push_back(unit.byte);
    } else if (unit.code_point == kCapitalSigma) {
      append_utf8(key, is_final_sigma(units, i) ? kFinalSigma : kSmallSigma);
    } else {
      append_mapped(key, unit.code_point);
    }
  }
}

}  // namespace tarnwick
