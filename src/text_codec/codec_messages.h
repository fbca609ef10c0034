// The user-facing texts of the encoding subsystem, shared by its source files.
#pragma once

namespace tarnwick::codec_text {

inline constexpr const char* kTooLarge = "Text conversion exceeds the 128 MiB limit.";
inline constexpr const char* kSizeOverflow = "Text conversion size overflow.";
inline constexpr const char* kNoMemory = "Not enough memory for bounded text conversion.";
inline constexpr const char* kInvalidUtf8 = "Invalid UTF-8 byte sequence.";
inline constexpr const char* kUtf16Incomplete = "UTF-16 data has an incomplete code unit.";
inline constexpr const char* kUtf16Unpaired = "UTF-16 data contains an unpaired surrogate.";
inline constexpr const char* kUtf32Incomplete = "UTF-32 data has an incomplete code unit.";
inline constexpr const char* kUtf32Invalid = "UTF-32 data contains an invalid Unicode scalar value.";
inline constexpr const char* kMarkedBinary = "The detected Unicode data contains binary control characters.";
inline constexpr const char* kUtf8Binary =
    "Valid UTF-8 data contains binary controls or noncharacters; it was not reinterpreted as a legacy code page.";
inline constexpr const char* kNotPlainText =
    "The selected data does not look like supported plain text; choose an explicit encoding only if its format is "
    "known.";
inline constexpr const char* kUnavailable = "The selected encoding is unavailable on this operating system.";
inline constexpr const char* kRejected = "The selected encoding cannot represent or decode this data exactly.";
inline constexpr const char* kLossy = "The selected encoding requires a lossy character substitution.";
inline constexpr const char* kNotConsumed = "The encoding converter did not consume all input.";
inline constexpr const char* kProducedInvalidUtf8 = "The selected encoding produced invalid UTF-8.";
inline constexpr const char* kMarkForCodePage = "Byte-order marks are only supported for Unicode encodings.";

}  // namespace tarnwick::codec_text
