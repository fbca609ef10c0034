// Fuzz entry point for the RSC7 container: decoding either refuses or gives consistent
// segments, and a fixed-width edit gives a file that decodes to the edited pages.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "resource/resource.h"
#include "resource/rsc7.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  const auto resource = tarnwick::decode_rsc7(file);
  if (!resource.has_value()) return 0;
  require(resource->decoded.size() == resource->system_size + resource->graphics_size);
  require(resource->decoded.size() <= tarnwick::kRsc7DecodedLimitBytes);
  require(tarnwick::kRsc7HeaderBytes + resource->stream_bytes + resource->trailing.size() == size);

  const auto edited = tarnwick::edit_rsc7_resource(file, "a", "b", tarnwick::MatchCase::Exact, {},
                                                   tarnwick::ResourceKind::None);
  if (!edited.has_value() || !std::holds_alternative<tarnwick::Rsc7Edit>(*edited)) return 0;
  const std::string& bytes = std::get<tarnwick::Rsc7Edit>(*edited).bytes;
  require(bytes.substr(0, 16) == file.substr(0, 16));
  const auto reopened = tarnwick::decode_rsc7(bytes);
  require(reopened.has_value());
  std::string expected = resource->decoded;
  for (char& c : expected) {
    if (c == 'a') c = 'b';
  }
  require(reopened->decoded == expected);
  const auto trailer = tarnwick::classify_trailer(*resource);
  if (trailer == tarnwick::TrailerHandling::Adler32) {
    require(tarnwick::classify_trailer(*reopened) == tarnwick::TrailerHandling::Adler32);
  } else {
    require(reopened->trailing == resource->trailing);
  }
  return 0;
}
