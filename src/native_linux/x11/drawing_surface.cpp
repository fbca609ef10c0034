// Xft text, X rectangles and lines into the back buffer; fonts loaded from memory.
#include "native_linux/x11/drawing_surface.h"

#include <fontconfig/fcfreetype.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/utf8.h"
#include "native_linux/ui/pictures.h"
#include "native_linux/x11/embedded_fonts.h"

namespace tarnwick {

namespace {

struct FontSlot {
  std::span<const unsigned char> (*data)();
  double pixel_size;
};

// Indexed by FontRole.
constexpr std::array<FontSlot, kFontRoleCount> kFontSlots = {{
    {jetbrains_mono_regular_data, 13},
    {jetbrains_mono_regular_data, 11},
    {inter_regular_data, 16},
    {rajdhani_bold_data, 34},
    {inter_regular_data, 23},
}};

constexpr double kPointsPerPixel = 0.75;  // 72 / 96 dpi
constexpr double kDotsPerInch = 96;

// Serial of the last request that failed (0: none yet). Only the UI thread talks
// to X, but the handler runs inside Xlib, so keep it a plain atomic.
std::atomic<unsigned long> g_last_error_serial{0};

// Xft stops at the first invalid byte, both drawing and measuring.
std::string valid_text(std::string_view utf8) { return lossy_utf8(utf8); }

short clamp_short(std::int32_t value) { return static_cast<short>(std::clamp<std::int32_t>(value, SHRT_MIN, SHRT_MAX)); }
std::int32_t saturate_to_int(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}
unsigned short clamp_extent(std::int32_t value) {
  return static_cast<unsigned short>(std::clamp<std::int32_t>(value, 0, USHRT_MAX));
}

}  // namespace

int record_x_error(Display*, XErrorEvent* event) {
  g_last_error_serial.store(event->serial);
  return 0;
}

bool x_error_since(unsigned long first_serial) {
  const unsigned long last = g_last_error_serial.load();
  return last != 0 && last >= first_serial;
}

// ---- FontFaces ----

FontFaces::~FontFaces() {
  for (FT_Face face : faces_) {
    if (face) FT_Done_Face(face);
  }
  if (library_) FT_Done_FreeType(library_);
}

Result<void> FontFaces::load() {
  if (FT_Init_FreeType(&library_) != 0) {
    library_ = nullptr;
    return fail("The system font renderer could not initialize.");
  }
  for (std::size_t slot = 0; slot < kFontRoleCount; ++slot) {
    const std::span<const unsigned char> data = kFontSlots[slot].data();
    if (FT_New_Memory_Face(library_, data.data(), static_cast<FT_Long>(data.size()), 0, &faces_[slot]) != 0) {
      faces_[slot] = nullptr;
      return fail("A bundled font could not be opened.");
    }
  }
  return {};
}

// ---- DrawingSurface ----

Result<std::unique_ptr<DrawingSurface>> DrawingSurface::create(const SurfaceTarget& target, const FontFaces& faces,
                                                               Size initial_size) {
  std::unique_ptr<DrawingSurface> surface(new DrawingSurface(target));
  TRY(surface->open_fonts(faces));
  TRY(surface->open_buffer(initial_size));
  surface->build_logo();
  return surface;
}

Result<void> DrawingSurface::open_fonts(const FontFaces& faces) {
  for (std::size_t slot = 0; slot < kFontRoleCount; ++slot) {
    FT_Face face = faces.face(static_cast<FontRole>(slot));
    FcPattern* pattern = FcFreeTypeQueryFace(face, reinterpret_cast<const FcChar8*>("embedded"), 0, nullptr);
    if (!pattern) return fail("A bundled font could not be described.");
    // Without removing the file name Xft would try to open "embedded" from disk.
    FcPatternDel(pattern, FC_FILE);
    const double size = kFontSlots[slot].pixel_size;
    FcPatternAddFTFace(pattern, FC_FT_FACE, face);
    FcPatternAddDouble(pattern, FC_PIXEL_SIZE, size);
    FcPatternAddDouble(pattern, FC_SIZE, size * kPointsPerPixel);
    FcPatternAddDouble(pattern, FC_DPI, kDotsPerInch);
    FcPatternAddBool(pattern, FC_ANTIALIAS, FcTrue);
    FcPatternAddBool(pattern, FC_HINTING, FcTrue);
    fonts_[slot] = XftFontOpenPattern(target_.display, pattern);  // owns the pattern on success only
    if (!fonts_[slot]) {
      FcPatternDestroy(pattern);
      return fail("A bundled font could not be rendered.");
    }
    fallback_.set_primary(static_cast<FontRole>(slot), fonts_[slot]);
  }
  return {};
}

Result<void> DrawingSurface::open_buffer(Size initial_size) {
  gc_ = XCreateGC(target_.display, target_.window, 0, nullptr);
  if (gc_) {
    back_buffer_ = XCreatePixmap(target_.display, target_.window, static_cast<unsigned>(initial_size.width),
                                 static_cast<unsigned>(initial_size.height), static_cast<unsigned>(target_.depth));
  }
  if (back_buffer_) draw_ = XftDrawCreate(target_.display, back_buffer_, target_.visual, target_.colormap);
  if (!gc_ || !back_buffer_ || !draw_) return fail("The desktop drawing surface could not initialize.");
  size_ = initial_size;
  return {};
}

void DrawingSurface::build_logo() {
  const std::vector<std::uint32_t> pixels = logo_pixels(logo_rgba());
  if (pixels.empty()) return;
  constexpr int kBytesPerLine = kLogoWidth * 4;
  constexpr std::size_t kBufferBytes = static_cast<std::size_t>(kBytesPerLine) * kLogoHeight;
  // XDestroyImage frees the buffer with free(), so it must come from malloc.
  char* buffer = static_cast<char*>(std::calloc(kBufferBytes, 1));
  if (!buffer) return;
  logo_ = XCreateImage(target_.display, target_.visual, static_cast<unsigned>(target_.depth), ZPixmap, 0, buffer,
                       kLogoWidth, kLogoHeight, 32, kBytesPerLine);
  if (!logo_) {
    std::free(buffer);
    return;
  }
  for (int y = 0; y < kLogoHeight; ++y) {
    for (int x = 0; x < kLogoWidth; ++x) XPutPixel(logo_, x, y, pixels[static_cast<std::size_t>(y) * kLogoWidth + x]);
  }
}

DrawingSurface::~DrawingSurface() {
  Display* display = target_.display;
  if (logo_) XDestroyImage(logo_);
  if (draw_) XftDrawDestroy(draw_);
  for (XftFont* font : fonts_) {
    if (font) XftFontClose(display, font);
  }
  for (auto& [value, colour] : colours_) XftColorFree(display, target_.visual, target_.colormap, &colour);
  if (back_buffer_) XFreePixmap(display, back_buffer_);
  if (gc_) XFreeGC(display, gc_);
}

void DrawingSurface::resize(Size new_size) {
  if (new_size == size_) return;
  // The pixmap request fails asynchronously (BadAlloc); one round trip tells.
  const unsigned long serial = NextRequest(target_.display);
  const Pixmap replacement =
      XCreatePixmap(target_.display, target_.window, static_cast<unsigned>(new_size.width),
                    static_cast<unsigned>(new_size.height), static_cast<unsigned>(target_.depth));
  XSync(target_.display, False);
  if (!replacement || x_error_since(serial)) {
    if (replacement) XFreePixmap(target_.display, replacement);
    return;
  }
  XftDrawChange(draw_, replacement);
  XFreePixmap(target_.display, back_buffer_);
  back_buffer_ = replacement;
  size_ = new_size;
}

void DrawingSurface::present() {
  XCopyArea(target_.display, back_buffer_, target_.window, gc_, 0, 0, static_cast<unsigned>(size_.width),
            static_cast<unsigned>(size_.height), 0, 0);
  XFlush(target_.display);
}

void DrawingSurface::fill_rect(Rect rect, Colour colour) {
  if (rect.width <= 0 || rect.height <= 0) return;
  XSetForeground(target_.display, gc_, colour);
  XFillRectangle(target_.display, back_buffer_, gc_, rect.x, rect.y, static_cast<unsigned>(rect.width),
                 static_cast<unsigned>(rect.height));
}

void DrawingSurface::outline_rect(Rect rect, Colour colour) {
  if (rect.width < 2 || rect.height < 2) return;
  XSetForeground(target_.display, gc_, colour);
  // X outlines cover width + 1 pixels; one less keeps the outline inside.
  XDrawRectangle(target_.display, back_buffer_, gc_, rect.x, rect.y, static_cast<unsigned>(rect.width - 1),
                 static_cast<unsigned>(rect.height - 1));
}

void DrawingSurface::draw_line(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, Colour colour) {
  XSetForeground(target_.display, gc_, colour);
  XDrawLine(target_.display, back_buffer_, gc_, x1, y1, x2, y2);
}

const XftColor* DrawingSurface::colour_of(Colour colour) {
  for (const auto& [value, cached] : colours_) {
    if (value == colour) return &cached;
  }
  XRenderColor render{};
  render.red = static_cast<unsigned short>(((colour >> 16) & 0xFF) * 257);
  render.green = static_cast<unsigned short>(((colour >> 8) & 0xFF) * 257);
  render.blue = static_cast<unsigned short>((colour & 0xFF) * 257);
  render.alpha = 0xFFFF;
  XftColor allocated{};
  if (!XftColorAllocValue(target_.display, target_.visual, target_.colormap, &render, &allocated)) return nullptr;
  colours_.emplace_back(colour, allocated);
  return &colours_.back().second;
}

void DrawingSurface::draw_text(std::int32_t x, std::int32_t baseline, std::string_view utf8, Colour colour,
                               FontRole role) {
  if (utf8.empty()) return;
  const XftColor* xft_colour = colour_of(colour);
  if (!xft_colour) return;
  const std::string text = valid_text(utf8);
  if (fallback_.is_single_run(text, role)) {
    draw_run(x, baseline, text, *xft_colour, fallback_.primary(role));
    return;
  }
  // Each run starts where the previous one's advance ends, exactly as measured.
  std::int64_t pen = x;
  fallback_.for_each_run(text, role, [&](std::string_view run, XftFont* font) {
    draw_run(saturate_to_int(pen), baseline, run, *xft_colour, font);
    pen += advance_of(run, font);
  });
}

void DrawingSurface::draw_run(std::int32_t x, std::int32_t baseline, std::string_view run, const XftColor& colour,
                              XftFont* font) {
  const int length = static_cast<int>(std::min<std::size_t>(run.size(), INT_MAX));
  XftDrawStringUtf8(draw_, &colour, font, x, baseline, reinterpret_cast<const FcChar8*>(run.data()), length);
}

std::int32_t DrawingSurface::measure_text(std::string_view utf8, FontRole role) {
  if (utf8.empty()) return 0;
  const std::string text = valid_text(utf8);
  if (fallback_.is_single_run(text, role)) return saturate_to_int(advance_of(text, fallback_.primary(role)));
  std::int64_t width = 0;
  fallback_.for_each_run(text, role, [&](std::string_view run, XftFont* font) { width += advance_of(run, font); });
  return saturate_to_int(width);
}

std::int64_t DrawingSurface::advance_of(std::string_view text, XftFont* font) {
  std::int64_t width = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = floor_boundary(text, std::min(text.size(), start + kMeasurePieceBytes));
    if (end == start) end = start + character_length(text, start);
    XGlyphInfo extents{};
    XftTextExtentsUtf8(target_.display, font, reinterpret_cast<const FcChar8*>(text.data() + start),
                       static_cast<int>(end - start), &extents);
    width += extents.xOff;
    start = end;
  }
  return width;
}

void DrawingSurface::draw_image(Image image, std::int32_t x, std::int32_t y) {
  (void)image;
  if (!logo_) return;
  XPutImage(target_.display, back_buffer_, gc_, logo_, 0, 0, x, y, kLogoWidth, kLogoHeight);
}

void DrawingSurface::apply_text_clip(const std::optional<Rect>& clip) {
  if (!clip) {
    XftDrawSetClip(draw_, nullptr);
    return;
  }
  XRectangle rectangle{clamp_short(clip->x), clamp_short(clip->y), clamp_extent(clip->width),
                       clamp_extent(clip->height)};
  XftDrawSetClipRectangles(draw_, 0, 0, &rectangle, 1);
}

}  // namespace tarnwick
