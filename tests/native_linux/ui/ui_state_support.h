// Test helpers for the screen logic: a worker spawner that keeps the senders so
// a test decides what each worker reports, small plan builders, recorded
// frames and key presses.
#pragma once

#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf8.h"
#include "native_linux/ui/keyboard.h"
#include "native_linux/ui/screen_layout.h"
#include "native_linux/ui/ui_state.h"

namespace tarnwick::testing {

struct FakeWorkers {
  std::vector<EventSender> senders;
  int starts = 0;
  bool refuse = false;

  WorkerSpawner spawner() {
    return [this](std::function<WorkerEvent()>, EventSender sender) {
      if (refuse) return false;
      ++starts;
      senders.push_back(std::move(sender));
      return true;
    };
  }
  void finish(WorkerEvent event) { std::move(senders.back()).send(std::move(event)); }
  void vanish() { senders.back() = EventSender{}; }
};

inline ChangeEntry rename_entry(std::size_t index) {
  ChangeEntry entry;
  entry.original_path = "/t/Tarn" + std::to_string(index) + ".txt";
  entry.final_path = "/t/Tarnwick" + std::to_string(index) + ".txt";
  entry.name_changes = true;
  entry.literal_count = 1;
  return entry;
}

inline PreviewPlan plan_with(std::size_t entries, std::size_t notices) {
  PreviewPlan plan;
  for (std::size_t i = 0; i < entries; ++i) plan.changes.push_back(rename_entry(i));
  for (std::size_t i = 0; i < notices; ++i) plan.notices.push_back("Notice " + std::to_string(i) + ".");
  plan.items_scanned = entries + 7;
  plan.target_path = "/t";
  return plan;
}

// A UiState with a target and a reviewed preview of the given plan in place.
inline UiState previewed_state(FakeWorkers& workers, PreviewPlan plan) {
  UiState ui;
  ui.spawn = workers.spawner();
  ui.fields[kFieldTarget] = "/t";
  start_preview(ui);
  workers.finish(PreviewFinished{build_request(ui), std::move(plan)});
  poll_worker(ui);
  return ui;
}

// One frame through the recording canvas: its dump, and its hit regions as
// "x y width height a=action p=payload".
struct RecordedFrame {
  std::string dump;
  std::vector<std::string> regions;
};

inline RecordedFrame record_frame(UiState& ui, Size window) {
  RecordingCanvas canvas;
  canvas.begin_frame();
  draw_frame(canvas, ui, window);
  RecordedFrame frame{canvas.dump(), {}};
  for (const HitRegion& r : canvas.hit_regions()) {
    std::ostringstream line;
    line << r.rect.x << ' ' << r.rect.y << ' ' << r.rect.width << ' ' << r.rect.height << " a=" << int{r.action}
         << " p=" << r.payload;
    frame.regions.push_back(line.str());
  }
  return frame;
}

inline bool contains(std::string_view text, std::string_view needle) { return text.find(needle) != std::string::npos; }

// Whether the frame registered a hit region for the action.
inline bool has_region_for(const RecordedFrame& frame, UiAction action) {
  const std::string wanted = " a=" + std::to_string(static_cast<int>(action)) + " ";
  for (const std::string& region : frame.regions) {
    if (contains(region, wanted)) return true;
  }
  return false;
}

// Key presses as the desktop reports them.
inline DecodedKey key(Key k, unsigned modifiers = 0, std::string text = {}) {
  return DecodedKey{k, 0, modifiers, std::move(text)};
}
// A letter key: folded, with the text it typed.
inline DecodedKey letter(char c, unsigned modifiers = 0, std::string text = {}) {
  return DecodedKey{Key::Letter, ascii_lower(c), modifiers, std::move(text)};
}
inline DecodedKey typed(std::string text) {
  const char first = ascii_lower(text[0]);
  return first >= 'a' && first <= 'z' ? letter(first, 0, text) : key(Key::Other, 0, text);
}
inline DecodedKey control(char c) { return letter(c, kModifierControl); }

// Sets HOME for one test and puts the old value back.
class ScopedHome {
 public:
  explicit ScopedHome(const char* value) {
    if (const char* old = std::getenv("HOME")) old_ = old;
    value ? ::setenv("HOME", value, 1) : ::unsetenv("HOME");
  }
  ~ScopedHome() { old_ ? ::setenv("HOME", old_->c_str(), 1) : ::unsetenv("HOME"); }
  ScopedHome(const ScopedHome&) = delete;
  ScopedHome& operator=(const ScopedHome&) = delete;

 private:
  std::optional<std::string> old_;
};

}  // namespace tarnwick::testing
