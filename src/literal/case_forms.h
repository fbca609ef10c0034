// The encoded case forms of a case-preserving replacement, for raw byte replacement.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "literal/literal.h"

namespace tarnwick {

// One literal encoded as a raw byte pattern: no byte-order mark, and for
// ISO-2022-KR without the designation ESC $ ) C that the converter puts at the
// start of every output. A file carries that designation once, at its start,
// so a pattern that kept it could only ever match there.
Result<std::string> encode_binary_literal(std::string_view text, EncodingKind kind, std::int32_t code_page);

// None when the replacement does not preserve case; a refusal when one of
// the texts cannot be encoded (or, for an encoding that does not show the
// case of an ASCII letter in one byte, when matches cannot be told apart).
Result<std::optional<BinaryCaseForms>> encode_case_forms(std::string_view find, const Replacement& replacement,
                                                         EncodingKind kind, std::int32_t code_page);

}  // namespace tarnwick
