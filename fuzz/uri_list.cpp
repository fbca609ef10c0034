// Fuzz entry point for the drop uri-list parser: any bytes give a path or a
// message, and an accepted path is valid UTF-8, absolute and control-free.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/utf8.h"
#include "native_linux/x11/drop_uri_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view list(reinterpret_cast<const char*>(data), size);
  const auto path = tarnwick::parse_uri_list(list);
  if (!path) return 0;
  if (path->empty() || path->front() != '/' || !tarnwick::is_valid_utf8(*path)) std::abort();
  for (const char c : *path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
  }
  return 0;
}
