// Whether the bytes after a zlib header really are a DEFLATE stream.
#include "content/classify.h"
#include "resource/deflate/deflate.h"

namespace tarnwick {

namespace {

// Enough to tell a stream from text; a real stream that inflates this far is
// taken as one without decoding the rest.
constexpr std::uint64_t kZlibProbeOutputBytes = std::uint64_t{128} << 20;
constexpr std::size_t kZlibHeaderBytes = 2;

}  // namespace

bool is_zlib_stream(std::string_view bytes) {
  const auto inflated = inflate_raw_with_fault(bytes.substr(kZlibHeaderBytes), kZlibProbeOutputBytes);
  if (inflated) return true;
  // Running into the bound (or out of memory on the way) means the data kept
  // decoding: a stream, not text that happens to start with a valid header.
  return inflated.error().fault != InflateFault::InvalidStream;
}

}  // namespace tarnwick
