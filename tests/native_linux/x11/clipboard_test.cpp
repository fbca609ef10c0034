// The CLIPBOARD owner on a real X server, read by xclip: a text that fits one
// property goes whole, a larger one in pieces (INCR), and TARGETS lists both.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/temp_tree.h"
#include "xvfb_session.h"
// After gtest: Xlib's macros clash with gtest's names.
#include "native_linux/x11/clipboard.h"
#include "native_linux/x11/drawing_surface.h"

namespace tarnwick::testing {
namespace {

constexpr std::size_t kTestPieceLimit = 100'000;

// Owns CLIPBOARD with `text` in a forked child and answers requests until killed.
ChildProcess serve_clipboard(const XvfbSession& server, const std::string& text) {
  return ChildProcess::fork_running(server.display(), [text] {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return 2;
    XSetErrorHandler(record_x_error);
    const Window window = XCreateSimpleWindow(display, XDefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
    const ClipboardAtoms atoms = intern_clipboard_atoms(display);
    claim_clipboard(display, window, atoms);
    std::vector<IncrementalTransfer> transfers;
    while (true) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == SelectionRequest) {
        answer_selection_request(display, event.xselectionrequest, atoms, text, kTestPieceLimit, transfers);
      } else if (event.type == PropertyNotify) {
        continue_incremental_transfer(display, event.xproperty, transfers);
      }
    }
  });
}

std::string read_with_xclip(const XvfbSession& server, const std::string& target, TempDir& folder) {
  const std::string out = folder / "out";
  // The owner needs a moment to claim the selection.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (server.run("timeout 10 xclip -o -selection clipboard -target " + target + " > '" + out + "' 2>/dev/null") == 0)
      return read_file(out);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return "(xclip failed)";
}

TEST(Clipboard, LargeTextsGoInPiecesAndSmallOnesWhole) {
  XvfbSession server;
  ASSERT_TRUE(server.ok());
  TempDir folder;
  std::string large;
  for (int i = 0; large.size() < 1'050'000; ++i) large += "line " + std::to_string(i) + ": Grüße → tarn\n";
  {
    ChildProcess owner = serve_clipboard(server, large);
    EXPECT_EQ(read_with_xclip(server, "UTF8_STRING", folder), large);
    // A second transfer from the same owner works the same way.
    EXPECT_EQ(read_with_xclip(server, "UTF8_STRING", folder), large);
    const std::string targets = read_with_xclip(server, "TARGETS", folder);
    EXPECT_NE(targets.find("UTF8_STRING"), std::string::npos) << targets;
  }
  const std::string small = "one piece → " + std::string(kTestPieceLimit - 14, 'x');
  ASSERT_EQ(small.size(), kTestPieceLimit);
  ChildProcess owner = serve_clipboard(server, small);
  EXPECT_EQ(read_with_xclip(server, "UTF8_STRING", folder), small);
}

}  // namespace
}  // namespace tarnwick::testing
