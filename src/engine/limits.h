// Every size and count limit of the engine, with the message its excess gives.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnwick::limits {

inline constexpr std::uint64_t kMiB = 1ull << 20;

// Find and replacement texts, each.
inline constexpr std::uint64_t kMaxLiteralBytes = 65'536;
inline constexpr std::string_view kLiteralTooLong = "Find and replacement text must each be at most 64 KiB.";

// Entries examined, pending and about to be pushed, per selection.
inline constexpr std::uint64_t kMaxEntries = 50'000;
inline constexpr std::string_view kTooManyEntries = "Selection exceeds 50,000 entries. Narrow the folder or depth.";
// Children of one folder.
inline constexpr std::uint64_t kMaxFolderChildren = 50'000;
inline constexpr std::string_view kFolderTooLarge = "A folder exceeds 50,000 entries. Narrow the selection.";
// Path bytes of one folder's children.
inline constexpr std::uint64_t kMaxFolderPathBytes = 16 * kMiB;
inline constexpr std::string_view kFolderPathsTooLarge = "Folder path storage exceeds 16 MiB. Narrow the selection.";
// Path bytes of examined plus pending entries.
inline constexpr std::uint64_t kMaxSelectionPathBytes = 16 * kMiB;
inline constexpr std::string_view kSelectionPathsTooLarge =
    "Selection path storage exceeds 16 MiB. Narrow the selection.";

// A new name while replacing; the replacer refuses with its own message.
inline constexpr std::uint64_t kMaxReplacedNameBytes = 1024;
// A resulting name, in bytes and in UTF-16 code units.
inline constexpr std::uint64_t kMaxNameBytes = 255;
inline constexpr std::uint64_t kMaxNameUtf16Units = 255;
inline constexpr std::string_view kNameTooLong = "A resulting name exceeds 255 characters/bytes.";

// A final path must stay below this many bytes.
inline constexpr std::uint64_t kFinalPathBytesLimit = 4096;
inline constexpr std::string_view kFinalPathTooLong = "Resulting path exceeds the supported filesystem path length";
inline constexpr std::string_view kFinalPathTooLongDetail = "shorten the replacement or choose a shallower folder.";
// All final paths of a plan together.
inline constexpr std::uint64_t kMaxFinalPathStorageBytes = 16 * kMiB;
inline constexpr std::string_view kFinalPathsTooLarge =
    "Final destination path storage exceeds 16 MiB. Shorten the replacement or narrow the selection.";

// Retained original plus replacement bytes over one preview.
inline constexpr std::uint64_t kMaxContentTransactionBytes = 256 * kMiB;
inline constexpr std::string_view kContentTransactionTooLarge =
    "Preview exceeds the 256 MiB content transaction limit. Narrow the folder, depth or file extensions.";
inline constexpr std::string_view kContentTransactionOverflow = "Transaction size overflow.";

// Re-reading a file at apply: to verify its original bytes, and to compare
// installed or recovery content.
inline constexpr std::uint64_t kApplyVerifyReadLimitBytes = 64 * kMiB;
inline constexpr std::uint64_t kApplyCompareReadLimitBytes = 128 * kMiB;

}  // namespace tarnwick::limits
