// Unicode helpers of the engine: UTF-8 decoding, white space, full lower-casing.
#include "engine/unicode_text.h"

#include <algorithm>
#include <vector>

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

#include "engine/lowercase_table.inc"

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

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
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

}  // namespace

std::optional<DecodedCharacter> decode_utf8_at(std::string_view bytes, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return DecodedCharacter{lead, 1};
  std::size_t needed = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  char32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return std::nullopt;
  }
  if (at + needed >= bytes.size()) return std::nullopt;
  for (std::size_t k = 1; k <= needed; ++k) {
    const unsigned char next = byte(at + k);
    if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return std::nullopt;
    value = (value << 6) | (next & 0x3F);
  }
  return DecodedCharacter{value, needed + 1};
}

bool is_unicode_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trim_unicode_white_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const auto c = decode_utf8_at(text, begin);
    if (!c || !is_unicode_white_space(c->code_point)) break;
    begin += c->length;
  }
  // Scan forward remembering where the last non-space character ended: UTF-8
  // cannot be decoded backwards reliably when it might be invalid.
  std::size_t end = begin;
  for (std::size_t at = begin; at < text.size();) {
    const auto c = decode_utf8_at(text, at);
    const std::size_t length = c ? c->length : 1;
    if (!c || !is_unicode_white_space(c->code_point)) end = at + length;
    at += length;
  }
  return text.substr(begin, end - begin);
}

bool contains_unicode_white_space(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const auto c = decode_utf8_at(text, at);
    if (c && is_unicode_white_space(c->code_point)) return true;
    at += c ? c->length : 1;
  }
  return false;
}

std::string lower_case_key(std::string_view bytes) {
  std::string key;
  lower_case_key_into(bytes, key);
  return key;
}

void lower_case_key_into(std::string_view bytes, std::string& key) {
  key.assign(bytes);
  const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    for (char& c : key) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    return;
  }
  std::vector<Unit> units;
  units.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const auto c = decode_utf8_at(bytes, at);
    if (c) {
      units.push_back(Unit{c->code_point, true, 0});
      at += c->length;
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
    } else if (const LowercaseMapping* mapping = find_mapping(unit.code_point)) {
      append_utf8(key, mapping->to[0]);
      if (mapping->to[1] != 0) append_utf8(key, mapping->to[1]);
    } else {
      append_utf8(key, unit.code_point);
    }
  }
}

}  // namespace tarnwick
