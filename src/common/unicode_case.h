// Full Unicode lower-casing: the key of the collision rule and the sort order of
// the folder browser, from one generated table.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

// Full Unicode lower-casing (one-to-many mappings and the final-sigma rule) of
// every valid UTF-8 run; bytes that are not valid UTF-8 are kept as they are,
// so that names differing only there stay distinct.
std::string lower_case_key(std::string_view bytes);
// The same key written into out (cleared first), so that a caller can reuse one buffer.
void lower_case_key_into(std::string_view bytes, std::string& out);

}  // namespace tarnwick
