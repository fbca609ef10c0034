// Internal pieces of content classification: the signature tables and the text screen.
#pragma once

#include <optional>
#include <string_view>

namespace tarnwick {

enum class SignatureKind { GameResource, Archive };

struct SignatureMatch {
  SignatureKind kind;
  std::string_view label;  // the archive's label; empty for a game resource
};

// The first row of the archive and compressed-stream table that matches, if any.
std::optional<SignatureMatch> match_archive_signature(std::string_view bytes);

// A zlib header is followed by a raw DEFLATE stream that decodes to the end of
// its final block, or at least until the output bound.
bool is_zlib_stream(std::string_view bytes);

// The magic numbers of common binary formats (documents, executables, images).
bool has_binary_signature(std::string_view bytes);

// Decoded text is edited as text only when every character is TAB, LF, FF, CR or
// at least U+0020, and none lies in U+007F..U+009F.
bool passes_text_screen(std::string_view text);
// The same screen at most sixteen bytes at a time: the form for processors
// without AVX2, and the reference the wider form is tested against.
bool passes_text_screen_narrow(std::string_view text);

}  // namespace tarnwick
