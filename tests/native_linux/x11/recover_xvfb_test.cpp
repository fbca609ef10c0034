// An apply of the real program under Xvfb killed with SIGKILL in the middle
// of its changes (while it writes stage files, while it installs them, while
// it renames), then the program started again on the same target: the preview
// is refused, Recover (its button, or Control+R) rolls the apply back, the tree
// is byte for byte what it was with no transaction file left, and a fresh
// preview plans the same changes again. A Recover killed in turn is finished
// by the next start's Recover.
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "screen_xvfb_fixture.h"
#include "support/temp_tree.h"

namespace tarnwick::testing {
namespace {

constexpr Point kEditFileContents{50, 551};
// The review's main button reads "Recover" while an interrupted apply blocks previewing.
constexpr Point kRecoverButton = kApplyReviewed;
// Each slow step (a preview or an apply of thousands of files, a Recover with
// its flushes) on a loaded two-core machine, in the sanitizer build too.
constexpr auto kSlowStep = std::chrono::minutes(3);

// The start values of the window: find "Tarn", replace with "Tarnwick", match case.
constexpr std::string_view kRenamedMark = "Tarnwick";
constexpr int kFolders = 20;
constexpr int kFilesPerFolder = 100;
// Of every four files, three are edited and two renamed; every folder is renamed.
constexpr int kEdits = kFolders * kFilesPerFolder / 4 * 3;
constexpr int kRenames = kFolders + kFolders * kFilesPerFolder / 2;
constexpr int kItems = 1 + kFolders + kFolders * kFilesPerFolder;

std::string counts_line() {
  return std::to_string(kRenames) + " renames / " + std::to_string(kEdits) + " content edits / " +
         std::to_string(kItems) + " items scanned\n";
}

// About 16 KiB of text with the find text on every line.
std::string text_body(int seed) {
  std::string text;
  for (int line = 0; text.size() < 16 * 1024; ++line) {
    text += "line " + std::to_string(line) + " of Tarn record " + std::to_string(seed) + "\n";
  }
  return text;
}

// Binary bytes without a single ASCII letter, so nothing in them matches.
std::string binary_body(int seed) {
  std::string bytes(4096, '\0');
  std::uint32_t state = static_cast<std::uint32_t>(seed) * 2654435761U + 1;
  for (std::size_t i = 1; i < bytes.size(); ++i) {
    state = state * 1664525U + 1013904223U;
    bytes[i] = static_cast<char>(0x80 | (state >> 25));
  }
  return bytes;
}

// The target "tree" keeps its name, so the journal lies in it. Below it,
// renamed folders of two modes hold files renamed and edited, edited only,
// renamed only and edited scripts, in four modes.
std::string build_tree(TempDir& dir) {
  for (int folder_index = 0; folder_index < kFolders; ++folder_index) {
    const std::string folder = "tree/Tarn_set_" + std::to_string(folder_index);
    dir.folder(folder, folder_index % 2 == 0 ? 0755 : 0750);
    for (int file = 0; file < kFilesPerFolder; ++file) {
      const int seed = folder_index * kFilesPerFolder + file;
      const std::string n = std::to_string(file);
      switch (file % 4) {
        case 0:
          dir.file(folder + "/Tarn_note_" + n + ".txt", text_body(seed), 0644);
          break;
        case 1:
          dir.file(folder + "/plain_" + n + ".txt", text_body(seed), 0600);
          break;
        case 2:
          dir.file(folder + "/Tarn_data_" + n + ".bin", binary_body(seed), 0640);
          break;
        default:
          dir.file(folder + "/run_" + n + ".sh", "#!/bin/sh\n" + text_body(seed), 0755);
      }
    }
  }
  return dir / "tree";
}

std::vector<std::string> folders_of(const std::string& target) {
  std::vector<std::string> folders{target};
  for (int folder_index = 0; folder_index < kFolders; ++folder_index) {
    folders.push_back(target + "/Tarn_set_" + std::to_string(folder_index));
  }
  return folders;
}

bool is_transaction_file(std::string_view name, std::string_view kind) {
  return name.starts_with(".tarnwick-") && name.ends_with(kind);
}

// What an apply left on disk, counted from outside.
struct Census {
  int journals = 0;
  int stage_files = 0;
  int reservations = 0;     // recovery names held by an empty file
  int originals_aside = 0;  // recovery files holding an original
  int renamed = 0;          // entries under their new names
  std::string journal;

  int transaction_files() const { return journals + stage_files + reservations + originals_aside; }
};

Census take_census(const std::string& root) {
  Census census;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    if (is_transaction_file(name, "-journal")) {
      ++census.journals;
      census.journal = entry.path().string();
    } else if (is_transaction_file(name, "-stage")) {
      ++census.stage_files;
    } else if (is_transaction_file(name, "-recovery")) {
      ++(entry.file_size() == 0 ? census.reservations : census.originals_aside);
    } else if (name.find(kRenamedMark) != std::string::npos) {
      ++census.renamed;
    }
  }
  return census;
}

enum class Phase : std::uint8_t { StageWriting, Installs, Renames };

std::string_view phase_name(Phase phase) {
  switch (phase) {
    case Phase::StageWriting:
      return "stage writing";
    case Phase::Installs:
      return "installs";
    case Phase::Renames:
      return "renames";
  }
  return {};
}

// The phase the apply was in when it died, read from what it left: stage files
// are all written before the first original moves aside, and every install is
// done before the first rename.
std::optional<Phase> phase_of(const Census& census) {
  if (census.journals != 1) return std::nullopt;
  if (census.renamed > 0) {
    if (census.stage_files == 0 && census.originals_aside == kEdits && census.renamed < kRenames) return Phase::Renames;
    return std::nullopt;
  }
  if (census.originals_aside > 0) {
    // One install may have its original aside and its stage file not yet in place.
    if (census.stage_files > 0 && census.originals_aside + census.stage_files <= kEdits + 1) return Phase::Installs;
    return std::nullopt;
  }
  if (census.stage_files > 0) return Phase::StageWriting;
  return std::nullopt;
}

std::string describe(const Census& census) {
  return std::to_string(census.stage_files) + " stage files, " + std::to_string(census.reservations) +
         " recovery names reserved, " + std::to_string(census.originals_aside) + " of " + std::to_string(kEdits) +
         " originals set aside, " + std::to_string(census.renamed) + " of " + std::to_string(kRenames) +
         " entries renamed, " + std::to_string(census.journals) + " journal(s) " + census.journal;
}

// The event of each phase that the kill counts: a stage file created, an
// original moved aside to its recovery name, an entry moved to its new name.
bool marks_phase(Phase phase, std::uint32_t mask, std::string_view name) {
  switch (phase) {
    case Phase::StageWriting:
      return (mask & IN_CREATE) != 0 && is_transaction_file(name, "-stage");
    case Phase::Installs:
      return (mask & IN_MOVED_TO) != 0 && is_transaction_file(name, "-recovery");
    case Phase::Renames:
      return (mask & IN_MOVED_TO) != 0 && !name.starts_with(".tarnwick-") && name.find(kRenamedMark) != name.npos;
  }
  return false;
}

// Kills a process with SIGKILL from a thread of its own at the nth matching
// creation or move into the watched folders. The thread asks for real-time
// priority, so that the kill follows the event at once on a busy machine too
// (where that is refused, it runs at the priority it has).
class KillAtEvent {
 public:
  using Matcher = std::function<bool(std::uint32_t mask, std::string_view name)>;

  KillAtEvent(pid_t victim, const std::vector<std::string>& folders, Matcher matcher, int nth)
      : victim_(victim), matcher_(std::move(matcher)), nth_(nth), fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
    for (const std::string& folder : folders) {
      if (::inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR) < 0) watch_failed_ = true;
    }
    thread_ = std::thread([this] { watch(); });
  }
  ~KillAtEvent() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  KillAtEvent(const KillAtEvent&) = delete;
  KillAtEvent& operator=(const KillAtEvent&) = delete;

  bool ready() const { return fd_ >= 0 && !watch_failed_; }
  bool fired() const { return fired_; }
  bool overflowed() const { return overflowed_; }

 private:
  void watch() {
    sched_param priority{};
    priority.sched_priority = 1;
    if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &priority) != 0) {
      ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), -20);
    }
    alignas(inotify_event) char buffer[64 * 1024];
    int seen = 0;
    while (!stop_ && !fired_) {
      pollfd entry{fd_, POLLIN, 0};
      if (::poll(&entry, 1, 50) <= 0) continue;
      const ssize_t got = ::read(fd_, buffer, sizeof buffer);
      // Never spin at real-time priority on a descriptor that went bad.
      if (got < 0 && errno != EAGAIN && errno != EINTR) return;
      for (ssize_t at = 0; at < got && !fired_;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if ((event->mask & IN_Q_OVERFLOW) != 0) overflowed_ = true;
        if (event->len == 0 || !matcher_(event->mask, event->name)) continue;
        if (++seen < nth_) continue;
        ::kill(victim_, SIGKILL);
        fired_ = true;
      }
    }
  }

  pid_t victim_;
  Matcher matcher_;
  int nth_;
  int fd_;
  bool watch_failed_ = false;
  std::atomic<bool> stop_ = false;
  std::atomic<bool> fired_ = false;
  std::atomic<bool> overflowed_ = false;
  std::thread thread_;
};

enum class RecoverBy : std::uint8_t { Button, ControlR };

struct KillCase {
  const char* name;
  Phase phase;
  int nth_event;  // well inside the phase, with most of it still to come
  RecoverBy recover_by;
};

void PrintTo(const KillCase& kill_case, std::ostream* out) { *out << kill_case.name; }

class KilledApplyXvfbTest : public ScreenXvfbTest {
 protected:
  // Copies the review text until it contains needle.
  std::string review_containing(const std::string& needle) {
    std::string text;
    for (const auto deadline = std::chrono::steady_clock::now() + kSlowStep;
         std::chrono::steady_clock::now() < deadline;) {
      copy_review();
      std::this_thread::sleep_for(200ms);
      text = clipboard();
      if (text.find(needle) != std::string::npos) return text;
      std::this_thread::sleep_for(300ms);
    }
    ADD_FAILURE() << "the review never showed \"" << needle << "\"; last text:\n" << text.substr(0, 2000);
    return text;
  }

  void preview_with_contents() {
    click(kEditFileContents);
    keys("Return");
    const std::string preview = review_containing("renames /");
    EXPECT_NE(preview.find(counts_line()), std::string::npos) << preview.substr(0, 2000);
  }

  // Runs start, then kills the program at the nth event that matcher accepts
  // among the creations and moves in the tree; returns what it left.
  Census kill_at(const std::string& target, const KillAtEvent::Matcher& matcher, int nth,
                 const std::function<void()>& start) {
    std::optional<int> status;
    {
      KillAtEvent watcher(program_->pid(), folders_of(target), matcher, nth);
      EXPECT_TRUE(watcher.ready());
      start();
      for (const auto deadline = std::chrono::steady_clock::now() + kSlowStep;
           !watcher.fired() && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(20ms);
      }
      EXPECT_TRUE(watcher.fired()) << "event " << nth << " never came";
      EXPECT_FALSE(watcher.overflowed());
      status = program_->wait(kSlowStep);
    }
    EXPECT_TRUE(status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL) << program_->captured_output();
    return take_census(target);
  }

  // Previews the tree, confirms the apply (backup off: it is not what is
  // tested here) and kills it at the nth event of the phase.
  Census apply_killed_in(const std::string& target, Phase phase, int nth) {
    retype(kTargetField, target);
    keys("Escape");
    preview_with_contents();
    click(kApplyReviewed);
    settle();
    click(kConfirmBackupCheckbox);
    std::this_thread::sleep_for(100ms);
    const Census left = kill_at(
        target, [phase](std::uint32_t mask, std::string_view name) { return marks_phase(phase, mask, name); }, nth,
        [this] { click(kConfirmApply); });
    const std::optional<Phase> found = phase_of(left);
    const std::string killed = "apply killed " +
                               (found ? "during " + std::string(phase_name(*found)) : std::string("outside its phases")) +
                               ": " + describe(left);
    std::printf("[ killed   ] %s\n", killed.c_str());
    EXPECT_EQ(found, phase) << killed;
    return left;
  }

  // Starts the program again once the killed one's window is gone, as
  // "tarnwick TARGET", and previews: the preview is refused, naming the journal.
  void restart_and_preview(const std::string& target, const std::string& journal) {
    const std::string search = "xdotool search --onlyvisible --name '^" + std::string(kTitle) + "$' 2>/dev/null";
    for (const auto deadline = std::chrono::steady_clock::now() + kSlowStep;
         !server_.output(search).empty() && std::chrono::steady_clock::now() < deadline;) {
      std::this_thread::sleep_for(50ms);
    }
    program_.reset();
    program_.emplace(ChildProcess::start_program(server_.display(), {}, {target}));
    const std::optional<unsigned long> window =
        wait_for_window(server_, kTitle, std::chrono::duration_cast<std::chrono::milliseconds>(kSlowStep));
    ASSERT_TRUE(window.has_value()) << program_->captured_output();
    window_ = *window;
    ASSERT_EQ(server_.run("xdotool windowfocus --sync " + std::to_string(window_)), 0);
    keys("Escape Return");
    const std::string refused = review_containing("Recover it before previewing.");
    EXPECT_NE(refused.find("OPERATION STOPPED\nAn earlier apply was interrupted here. Recover it before previewing.\n"
                           "Path: " +
                           journal),
              std::string::npos)
        << refused;
  }

  // After Recover: the notice, the tree as it was, and a fresh preview that
  // plans every change again.
  void expect_rolled_back(const TempDir& dir, const TreeSnapshot& original) {
    const std::string recovered = review_containing("The interrupted apply was rolled back.");
    EXPECT_NE(recovered.find("NOTICE\nThe interrupted apply was rolled back. Every file is as it was before that apply."),
              std::string::npos)
        << recovered;
    EXPECT_EQ(describe_difference(original, snapshot_tree(dir.path())), "");
    EXPECT_EQ(take_census(dir.path()).transaction_files(), 0);
    preview_with_contents();
  }
};

class KilledApplyPhaseXvfbTest : public KilledApplyXvfbTest, public ::testing::WithParamInterface<KillCase> {};

TEST_P(KilledApplyPhaseXvfbTest, IsRefusedThenRecoveredToTheOriginalTree) {
  const KillCase& kill_case = GetParam();
  TempDir dir;
  const std::string target = build_tree(dir);
  const TreeSnapshot original = snapshot_tree(dir.path());
  const Census left = apply_killed_in(target, kill_case.phase, kill_case.nth_event);
  ASSERT_FALSE(HasFailure());

  ASSERT_NO_FATAL_FAILURE(restart_and_preview(target, left.journal));
  screenshot(std::string("recover_offered_") + kill_case.name + ".png");
  if (kill_case.recover_by == RecoverBy::Button) {
    click(kRecoverButton);
  } else {
    keys("ctrl+r");
  }
  expect_rolled_back(dir, original);
}

INSTANTIATE_TEST_SUITE_P(
    Phases, KilledApplyPhaseXvfbTest,
    ::testing::Values(KillCase{"StageWriting", Phase::StageWriting, kEdits / 4, RecoverBy::Button},
                      KillCase{"Installs", Phase::Installs, kEdits / 4, RecoverBy::ControlR},
                      KillCase{"Renames", Phase::Renames, kRenames / 4, RecoverBy::Button}),
    [](const ::testing::TestParamInfo<KillCase>& param_info) { return std::string(param_info.param.name); });

// Recover itself killed while it undoes the renames: the next start finds the
// journal again, and the next Recover finishes the rollback.
TEST_F(KilledApplyXvfbTest, ARecoverKilledInTurnIsFinishedByTheNextStart) {
  TempDir dir;
  const std::string target = build_tree(dir);
  const TreeSnapshot original = snapshot_tree(dir.path());
  const Census applied = apply_killed_in(target, Phase::Renames, kRenames / 2);
  ASSERT_FALSE(HasFailure());

  ASSERT_NO_FATAL_FAILURE(restart_and_preview(target, applied.journal));
  const auto moved_back = [](std::uint32_t mask, std::string_view name) {
    return (mask & IN_MOVED_TO) != 0 && !name.starts_with(".tarnwick-") && name.find(kRenamedMark) == name.npos;
  };
  const Census recovering = kill_at(target, moved_back, applied.renamed / 2, [this] { keys("ctrl+r"); });
  std::printf("[ killed   ] Recover killed after undoing %d of %d renames: %s\n",
              applied.renamed - recovering.renamed, applied.renamed, describe(recovering).c_str());
  ASSERT_EQ(recovering.journal, applied.journal);
  ASSERT_GT(recovering.renamed, 0);
  ASSERT_LT(recovering.renamed, applied.renamed);

  ASSERT_NO_FATAL_FAILURE(restart_and_preview(target, applied.journal));
  click(kRecoverButton);
  expect_rolled_back(dir, original);
}

}  // namespace
}  // namespace tarnwick::testing
