// The X11 drawing surface: Xft text and X rectangles into a back-buffer pixmap
// that reaches the window in one copy per frame.
#pragma once

#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <array>
#include <memory>
#include <utility>
#include <vector>

#include "common/result.h"
#include "native_linux/ui/canvas.h"
#include "native_linux/x11/font_fallback.h"

namespace tarnwick {

inline constexpr std::int32_t kMaxSurfaceSide = 8192;
inline constexpr std::size_t kMeasurePieceBytes = 512;

// The FreeType library and the five faces. Xft never frees a face it was given,
// and may keep closed fonts cached until the display closes, so these outlive
// the display connection.
class FontFaces {
 public:
  FontFaces() = default;
  FontFaces(const FontFaces&) = delete;
  FontFaces& operator=(const FontFaces&) = delete;
  ~FontFaces();

  Result<void> load();
  FT_Face face(FontRole role) const { return faces_[static_cast<std::size_t>(role)]; }

 private:
  FT_Library library_ = nullptr;
  std::array<FT_Face, kFontRoleCount> faces_{};
};

struct SurfaceTarget {
  Display* display = nullptr;
  Window window = 0;
  Visual* visual = nullptr;
  Colormap colormap = 0;
  int depth = 0;
};

class DrawingSurface final : public Canvas {
 public:
  // Opens the fonts from `faces`, then the GC, back buffer and XftDraw, then the logo.
  static Result<std::unique_ptr<DrawingSurface>> create(const SurfaceTarget& target, const FontFaces& faces,
                                                        Size initial_size);
  DrawingSurface(const DrawingSurface&) = delete;
  DrawingSurface& operator=(const DrawingSurface&) = delete;
  // Logo, XftDraw, fonts, cached colours, back buffer, GC, system fonts, in that order.
  ~DrawingSurface() override;

  Size size() const { return size_; }
  // Replaces the back buffer with one of the new size (already clamped to
  // 1..8192); when the server cannot create it the old buffer stays.
  void resize(Size new_size);
  // Copies the whole back buffer to the window, then flushes.
  void present();
  std::size_t cached_colour_count() const { return colours_.size(); }
  bool has_logo() const { return logo_ != nullptr; }
  FontFallback& fallback() { return fallback_; }

  void fill_rect(Rect rect, Colour colour) override;
  void outline_rect(Rect rect, Colour colour) override;
  void draw_line(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, Colour colour) override;
  void draw_text(std::int32_t x, std::int32_t baseline, std::string_view utf8, Colour colour,
                 FontRole role) override;
  std::int32_t measure_text(std::string_view utf8, FontRole role) override;
  void draw_image(Image image, std::int32_t x, std::int32_t y) override;

 protected:
  void apply_text_clip(const std::optional<Rect>& clip) override;

 private:
  explicit DrawingSurface(const SurfaceTarget& target) : target_(target), fallback_(target.display) {}
  Result<void> open_fonts(const FontFaces& faces);
  Result<void> open_buffer(Size initial_size);
  void build_logo();
  const XftColor* colour_of(Colour colour);
  void draw_run(std::int32_t x, std::int32_t baseline, std::string_view run, const XftColor& colour, XftFont* font);
  // Sum of the advances, measured in pieces of at most kMeasurePieceBytes.
  std::int64_t advance_of(std::string_view text, XftFont* font);

  SurfaceTarget target_;
  GC gc_ = nullptr;
  Pixmap back_buffer_ = 0;
  Size size_;
  XftDraw* draw_ = nullptr;
  std::array<XftFont*, kFontRoleCount> fonts_{};
  // The system fonts for characters the embedded ones lack; they close last.
  FontFallback fallback_;
  std::vector<std::pair<Colour, XftColor>> colours_;
  XImage* logo_ = nullptr;
};

// Protocol errors are ignored, but the last one is remembered so that a request
// whose failure matters (a pixmap the server could not allocate) can be checked.
int record_x_error(Display* display, XErrorEvent* event);
// True when an error arrived for a request numbered `first_serial` or later.
bool x_error_since(unsigned long first_serial);

}  // namespace tarnwick
