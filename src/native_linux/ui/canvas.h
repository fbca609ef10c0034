// The drawing seam: the abstract Canvas every screen draws through, the palette,
// font slots, hit regions, a recording canvas for tests, and the common widgets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarnwick {

// A 24-bit 0xRRGGBB value; on the required 24/32-bit visuals it is also the X pixel.
using Colour = std::uint32_t;

namespace palette {
inline constexpr Colour kBackground = 0x0A0B0E;      // window, logo blend background
inline constexpr Colour kPanel = 0x121318;           // section panels, overlay dialogs
inline constexpr Colour kControl = 0x1A1B22;         // fields, buttons, unchecked boxes
inline constexpr Colour kBorder = 0x30323D;          // borders, separators, scroll tracks
inline constexpr Colour kAccent = 0xD72B42;          // top bar, primary buttons, checked boxes
inline constexpr Colour kAccentBright = 0xEC4D66;    // focus border, cursor, overlay borders
inline constexpr Colour kText = 0xF3F0EF;            // main text, check mark
inline constexpr Colour kTextSecondary = 0x9B9DAD;   // hints, placeholders, scroll thumbs
inline constexpr Colour kTextDisabledField = 0x646674;
inline constexpr Colour kLabelDisabled = 0x626471;
inline constexpr Colour kPositive = 0x64D4A5;        // success status, "LOCAL PROCESSING"
inline constexpr Colour kWarning = 0xE6B66C;         // stopped status, invalid-field border
inline constexpr Colour kSelection = 0x54303C;       // focused field with whole text selected
inline constexpr Colour kRowHighlight = 0x43232D;    // selected row in lists
}  // namespace palette

// The five font slots, in the order the surface opens them.
enum class FontRole : std::uint8_t { Mono13 = 0, Mono11 = 1, Sans16 = 2, Display34 = 3, Sans23 = 4 };
inline constexpr std::size_t kFontRoleCount = 5;

std::string_view font_role_name(FontRole role);

struct Rect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;

  bool contains(std::int32_t px, std::int32_t py) const;
  friend bool operator==(const Rect&, const Rect&) = default;
};

struct Size {
  std::int32_t width = 0;
  std::int32_t height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

// The action code of a UiAction (one byte); the screen logic owns the enum.
using ActionCode = std::uint8_t;

// A clickable area registered while drawing; payload is a field id, option or list index.
struct HitRegion {
  Rect rect;
  ActionCode action = 0;
  std::uint64_t payload = 0;
  friend bool operator==(const HitRegion&, const HitRegion&) = default;
};

// The embedded images a canvas can draw.
enum class Image : std::uint8_t { Logo };
inline constexpr std::int32_t kLogoWidth = 120;
inline constexpr std::int32_t kLogoHeight = 76;

// Everything the screens draw goes through this. Rectangles and lines are never
// clipped; the text clip affects text only. Hit regions are kept here so that a
// frame's drawing and its clickable areas cannot drift apart.
class Canvas {
 public:
  virtual ~Canvas() = default;

  // Nothing when width <= 0 or height <= 0.
  virtual void fill_rect(Rect rect, Colour colour) = 0;
  // Inside the rectangle; nothing when width < 2 or height < 2.
  virtual void outline_rect(Rect rect, Colour colour) = 0;
  virtual void draw_line(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, Colour colour) = 0;
  // Text at a baseline; invalid UTF-8 is shown as U+FFFD; empty text draws nothing.
  virtual void draw_text(std::int32_t x, std::int32_t baseline, std::string_view utf8, Colour colour,
                         FontRole role) = 0;
  // Advance width in pixels; 0 for empty text.
  virtual std::int32_t measure_text(std::string_view utf8, FontRole role) = 0;
  virtual void draw_image(Image image, std::int32_t x, std::int32_t y) = 0;

  // Text clip as a stack: push intersects with the clip in force, pop restores it.
  void push_text_clip(Rect rect);
  void pop_text_clip();
  void set_text_clip(Rect rect);  // replaces the whole stack with one rectangle
  void clear_text_clip();

  // Hit regions of the frame being drawn, in registration order.
  void begin_frame();    // empties the list and the clip stack
  void begin_overlay();  // empties the list: only the topmost layer stays clickable
  void add_hit_region(const HitRegion& region);
  const std::vector<HitRegion>& hit_regions() const { return hit_regions_; }

 protected:
  // The clip in force changed; nullopt means no clip.
  virtual void apply_text_clip(const std::optional<Rect>& clip) = 0;
  // A marker for recordings; the X surface needs nothing here.
  virtual void on_overlay_started() {}

 private:
  std::vector<Rect> clip_stack_;
  std::vector<HitRegion> hit_regions_;
};

// The first region (in registration order) containing the point, if any.
std::optional<HitRegion> hit_test(const std::vector<HitRegion>& regions, std::int32_t x, std::int32_t y);

// Records a frame as text for tests: one line per primitive, then the regions.
// Text is measured without X at a fixed advance per code point and slot:
// Mono13 8 px, Mono11 7 px, Sans16 9 px, Display34 17 px, Sans23 13 px;
// a code point given an advance of its own (a wide character drawn by a
// fallback font) measures that in every slot.
class RecordingCanvas final : public Canvas {
 public:
  static std::int32_t advance_of(FontRole role);
  void set_code_point_advance(char32_t code_point, std::int32_t advance);

  void fill_rect(Rect rect, Colour colour) override;
  void outline_rect(Rect rect, Colour colour) override;
  void draw_line(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, Colour colour) override;
  void draw_text(std::int32_t x, std::int32_t baseline, std::string_view utf8, Colour colour,
                 FontRole role) override;
  std::int32_t measure_text(std::string_view utf8, FontRole role) override;
  void draw_image(Image image, std::int32_t x, std::int32_t y) override;

  // Primitive lines, e.g.
  //   fill 0 0 1100 810 #0A0B0E
  //   outline 36 182 892 40 #30323D
  //   line 20 130 1080 130 #30323D
  //   text 158 54 Sans23 #EC4D66 "Tarn"
  //   clip 43 184 878 36 | clip none
  //   image logo 22 20
  //   overlay
  const std::vector<std::string>& primitives() const { return primitives_; }
  // The primitives, then "region x y w h action=N payload=P" per hit region.
  std::string dump() const;
  void clear();

 protected:
  void apply_text_clip(const std::optional<Rect>& clip) override;
  void on_overlay_started() override;

 private:
  std::vector<std::string> primitives_;
  std::unordered_map<char32_t, std::int32_t> code_point_advances_;
};

// ---- Widgets, written once against the canvas ----

struct TextFieldView {
  std::string_view text = {};
  std::string_view placeholder = {};
  std::size_t cursor = 0;  // byte offset on a character boundary; used when focused
  bool focused = false;
  bool whole_text_selected = false;
  bool enabled = true;
  bool invalid = false;  // amber border (the depth field with an unparsable number)
  ActionCode focus_action = 0;
  std::uint64_t field_id = 0;  // the region's payload
};

// Index of the first visible byte so that the text up to the visible end (the
// cursor when focused, else the end) fits in width - 22 pixels.
std::size_t text_field_first_visible(Canvas& canvas, Rect rect, const TextFieldView& field);
void draw_text_field(Canvas& canvas, Rect rect, const TextFieldView& field);

enum class ButtonStyle : std::uint8_t { Normal, Primary };
struct ButtonView {
  std::string_view label = {};
  ActionCode action = 0;
  std::uint64_t payload = 0;
  bool enabled = true;
  ButtonStyle style = ButtonStyle::Normal;
  char mnemonic = 0;  // a letter to underline where it first occurs in the label (either case)
};
void draw_button(Canvas& canvas, Rect rect, const ButtonView& button);

struct CheckboxView {
  std::string_view label = {};
  bool checked = false;
  ActionCode action = 0;
  std::uint64_t payload = 0;
  bool enabled = true;
  char mnemonic = 0;  // as for buttons
};
inline constexpr std::int32_t kCheckboxSize = 18;
void draw_checkbox(Canvas& canvas, std::int32_t x, std::int32_t y, const CheckboxView& checkbox);

// Thumb of a scroll bar along a track of track_length pixels: offset from the track
// top and length. Meaningful only when total > visible.
struct ScrollThumb {
  std::int32_t offset = 0;
  std::int32_t length = 0;
  friend bool operator==(const ScrollThumb&, const ScrollThumb&) = default;
};
ScrollThumb scroll_thumb(std::int32_t track_length, std::uint64_t total, std::uint64_t visible, std::uint64_t first);
inline constexpr std::int32_t kScrollBarWidth = 3;
// Draws a 3-pixel track along the right edge of list_area and its thumb, only when
// total > visible.
void draw_scroll_bar(Canvas& canvas, Rect list_area, std::uint64_t total, std::uint64_t visible, std::uint64_t first);

// Callers turn pixel widths into columns at this many pixels per character.
inline constexpr std::int32_t kWrapPixelsPerColumn = 8;

// Where wrapped display lines end: after `columns` characters (0 is taken as
// 1) and, when a canvas measures them, also before a character that would make
// the line wider than columns × kWrapPixelsPerColumn pixels in the font: wide
// characters (CJK, emoji) drawn by fallback fonts stay inside the area the
// columns were computed for. A line always takes at least one character.
class LineFit {
 public:
  explicit LineFit(std::size_t columns) : columns_(columns == 0 ? 1 : columns) {}
  LineFit(Canvas& canvas, FontRole role, std::size_t columns);

  // Starts counting a new source line.
  void new_line();
  // Takes one character (one code point of valid UTF-8); true when it must
  // begin a new display line.
  bool starts_display_line(std::string_view character);

 private:
  std::int32_t advance_of(std::string_view character);

  std::size_t columns_;
  Canvas* canvas_ = nullptr;
  FontRole role_ = FontRole::Mono13;
  std::int64_t limit_ = 0;  // pixels
  std::size_t count_ = 0;
  std::int64_t width_ = 0;
  std::array<std::int32_t, 128> ascii_advances_{};  // 0 until measured
  std::unordered_map<char32_t, std::int32_t> other_advances_;
};

// Splits at line feeds (dropping a CR before LF), expands tabs to four spaces,
// drops C0/C1 controls, then cuts each line where `fit` says (no word
// breaking); empty input gives one empty line. Invalid UTF-8 is shown as U+FFFD.
std::vector<std::string> wrap_text(std::string_view text, LineFit& fit);
// Pieces of exactly `columns` code points (the last shorter).
std::vector<std::string> wrap_text(std::string_view text, std::size_t columns);
// Pieces of at most `columns` code points that fit columns × 8 pixels as the
// canvas measures them in the font.
std::vector<std::string> wrap_text(Canvas& canvas, std::string_view text, std::size_t columns, FontRole role);

}  // namespace tarnwick
