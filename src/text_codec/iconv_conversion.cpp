// Bounded conversion through the system library's iconv, refusing every substitution.
#include <iconv.h>

#include <algorithm>
#include <cerrno>

#include "common/text.h"
#include "text_codec/buffer.h"
#include "text_codec/codec_messages.h"
#include "text_codec/text_codec.h"

namespace tarnwick {

namespace {

constexpr std::size_t kInitialSlackBytes = 64;

// Owns one conversion descriptor so that every path closes it.
class IconvHandle {
 public:
  explicit IconvHandle(iconv_t handle) : handle_(handle) {}
  ~IconvHandle() { iconv_close(handle_); }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  iconv_t get() const { return handle_; }

 private:
  iconv_t handle_;
};

const iconv_t kOpenFailed = reinterpret_cast<iconv_t>(-1);
constexpr std::size_t kCallFailed = static_cast<std::size_t>(-1);

}  // namespace

Result<std::string> convert_with_iconv(std::string_view bytes, const std::string& from_name,
                                       const std::string& to_name) {
  if (bytes.size() > kTextConversionLimitBytes) return fail(codec_text::kTooLarge);
  const iconv_t opened = iconv_open(to_name.c_str(), from_name.c_str());
  if (opened == kOpenFailed) return fail(codec_text::kUnavailable);
  const IconvHandle converter(opened);

  std::string output;
  const std::size_t initial =
      std::min<std::uint64_t>(saturating_add(saturating_mul(2, bytes.size()), kInitialSlackBytes),
                              kTextConversionLimitBytes);
  if (!resize_zero_filled(output, initial)) return fail(codec_text::kNoMemory);

  // iconv's input pointer is not const for historical reasons; it never writes through it.
  char* input = const_cast<char*>(bytes.data());
  std::size_t input_left = bytes.size();
  std::size_t written = 0;
  bool flushing = false;
  for (;;) {
    char* out = output.data() + written;
    std::size_t out_left = output.size() - written;
    // The call without input writes any pending shift sequence (stateful encodings).
    const std::size_t result = flushing ? iconv(converter.get(), nullptr, nullptr, &out, &out_left)
                                        : iconv(converter.get(), &input, &input_left, &out, &out_left);
    const int error_number = errno;
    written = output.size() - out_left;
    if (result == kCallFailed) {
      if (error_number != E2BIG) return fail(codec_text::kRejected);
      if (output.size() >= kTextConversionLimitBytes) return fail(codec_text::kTooLarge);
      const std::size_t grown = std::min<std::uint64_t>(saturating_mul(2, output.size()), kTextConversionLimitBytes);
      if (!resize_zero_filled(output, grown)) return fail(codec_text::kNoMemory);
      continue;
    }
    if (result > 0) return fail(codec_text::kLossy);
    if (flushing) break;
    if (input_left != 0) return fail(codec_text::kNotConsumed);
    flushing = true;
  }
  output.resize(written);
  if (output.capacity() > 2 * written + 4096) output.shrink_to_fit();
  return output;
}

}  // namespace tarnwick
