// An independent, deliberately simple reader for checking relocated resources:
// it follows the few fields a test names, never the graph code under test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support_rsc7_builder.h"

namespace tarnwick::testing {

struct Referral {
  std::uint64_t field;  // system offset of a name pointer
  std::string text;     // the name it must lead to
};

inline void expect_names_resolve(std::string_view decoded, std::uint64_t system_size,
                                 const std::vector<Referral>& referrals) {
  for (const Referral& referral : referrals) {
    const std::uint64_t value = le64_at(decoded, referral.field);
    ASSERT_EQ(value >> 28, 5u) << "field " << referral.field;
    const std::uint64_t target = value - kBase;
    ASSERT_LT(target, system_size) << "field " << referral.field;
    EXPECT_EQ(c_string_at(decoded.substr(0, system_size), target), referral.text) << "field " << referral.field;
  }
}

// The dictionary at `dictionary`: every hash is the hash of its texture's
// name, and the hashes ascend as unsigned numbers.
inline void expect_dictionary_true(std::string_view decoded, std::uint64_t system_size, std::uint64_t dictionary) {
  const std::uint64_t hashes = le64_at(decoded, dictionary + 32) - kBase;
  const std::uint64_t pointers = le64_at(decoded, dictionary + 48) - kBase;
  const std::uint32_t count = le32_at(decoded, dictionary + 56) & 0xFFFF;
  std::uint32_t previous = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t texture = le64_at(decoded, pointers + 8 * i) - kBase;
    const std::uint64_t name = le64_at(decoded, texture + 40) - kBase;
    ASSERT_LT(name, system_size);
    const std::string text = c_string_at(decoded.substr(0, system_size), name);
    const std::uint32_t hash = le32_at(decoded, hashes + 4 * i);
    EXPECT_EQ(hash, reference_name_hash(text)) << "entry " << i << " " << text;
    if (i > 0) {
      EXPECT_LT(previous, hash) << "entry " << i;
    }
    previous = hash;
  }
}

// Every byte of the old system segment outside `written` is unchanged, and the
// graphics segment follows the new system segment unchanged.
inline void expect_unchanged_outside(std::string_view before, std::uint64_t old_system, std::string_view after,
                                     std::uint64_t new_system,
                                     const std::vector<std::pair<std::uint64_t, std::uint64_t>>& written) {
  ASSERT_GE(after.size(), new_system);
  EXPECT_TRUE(after.substr(new_system) == before.substr(old_system)) << "graphics segment changed";
  std::vector<bool> allowed(old_system, false);
  for (const auto& [offset, length] : written)
    for (std::uint64_t i = offset; i < offset + length && i < old_system; ++i) allowed[i] = true;
  std::uint64_t differing = 0;
  for (std::uint64_t i = 0; i < old_system; ++i)
    if (!allowed[i] && before[i] != after[i]) {
      if (differing++ == 0) ADD_FAILURE() << "first unexpected change at " << i;
    }
  EXPECT_EQ(differing, 0u);
  for (std::uint64_t i = old_system; i < new_system && i < after.size(); ++i)
    if (after[i] != 0 && !std::any_of(written.begin(), written.end(), [&](const auto& w) {
          return i >= w.first && i < w.first + w.second;
        })) {
      ADD_FAILURE() << "unexpected byte in appended storage at " << i;
      break;
    }
}

}  // namespace tarnwick::testing
