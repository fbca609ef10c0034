// The installed application: an install of this build tree into a temporary
// DESTDIR holds exactly the listed files, which pass their validators; the
// icon files are the window icon's drawing at their sizes; the version is the
// same everywhere; and a desktop launcher opens a folder through the entry.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "native_linux/ui/pictures.h"
#include "native_linux/x11/command_line.h"
#include "support/temp_tree.h"
#include "xvfb_session.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kAppId = "org.tarnwick.RecursiveRenames";
const std::string kSourceDir = TARNWICK_TEST_SOURCE_DIR;

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// packaging/installed-files.txt: paths below the prefix.
std::set<std::string> listed_files() {
  std::set<std::string> files;
  std::ifstream list(kSourceDir + "/packaging/installed-files.txt");
  for (std::string line; std::getline(list, line);) {
    if (!line.empty() && line.front() != '#') files.insert(line);
  }
  return files;
}

class InstallTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    destdir_ = new TempDir;
    install_status_ = run_command("DESTDIR=" + quoted(destdir_->path()) + " " + quoted(TARNWICK_TEST_CMAKE) +
                                  " --install " + quoted(TARNWICK_TEST_BUILD_DIR) + " --prefix /usr >/dev/null");
  }
  static void TearDownTestSuite() {
    delete destdir_;
    destdir_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(install_status_, 0) << "cmake --install failed"; }

  static std::string installed(const std::string& relative) { return destdir_->path() + "/usr/" + relative; }

  static inline TempDir* destdir_ = nullptr;
  static inline int install_status_ = -1;
};

TEST_F(InstallTest, HoldsExactlyTheListedFilesWithTheirModes) {
  std::set<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(destdir_->path())) {
    if (entry.is_directory()) continue;
    const std::string relative = fs::relative(entry.path(), destdir_->path() + "/usr").string();
    EXPECT_TRUE(entry.is_regular_file()) << relative;
    found.insert(relative);
    struct stat status{};
    ASSERT_EQ(::lstat(entry.path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, relative.starts_with("bin/") ? 0755u : 0644u) << relative;
  }
  EXPECT_EQ(found, listed_files());
}

TEST_F(InstallTest, IconFilesAreTheWindowIconDrawnAtTheirSizes) {
  std::size_t icons = 0;
  for (const std::string& file : listed_files()) {
    if (!file.ends_with(".png")) continue;
    ++icons;
    // share/icons/hicolor/{N}x{N}/apps/...
    const std::size_t side_at = file.find("hicolor/") + 8;
    const int size = std::stoi(file.substr(side_at));
    ASSERT_NE(file.find("/" + std::to_string(size) + "x" + std::to_string(size) + "/apps/"), std::string::npos);
    const std::string path = quoted(installed(file));
    EXPECT_EQ(command_output("identify -format '%m %w %h' " + path), "PNG " + std::to_string(size) + " " +
                                                                         std::to_string(size));
    // ImageMagick decodes the file independently of the writer.
    const std::string pixels = command_output("convert " + path + " -depth 8 rgba:-");
    const std::vector<std::uint8_t> expected = icon_rgba(size);
    EXPECT_TRUE(pixels.size() == expected.size() && std::equal(expected.begin(), expected.end(), pixels.begin(),
                                                               [](std::uint8_t a, char b) {
                                                                 return a == static_cast<std::uint8_t>(b);
                                                               }))
        << file;
  }
  EXPECT_EQ(icons, 7u);
}

TEST_F(InstallTest, DesktopEntryMetainfoAndManualPagePassTheirValidators) {
  const std::string entry = quoted(installed("share/applications/" + kAppId + ".desktop"));
  EXPECT_EQ(command_output("desktop-file-validate " + entry + " 2>&1; echo $?"), "0\n");
  const std::string metainfo = quoted(installed("share/metainfo/" + kAppId + ".metainfo.xml"));
  const std::string validation = command_output("appstreamcli validate --no-net " + metainfo + " 2>&1; echo $?");
  EXPECT_TRUE(validation.ends_with("\n0\n")) << validation;
  // Errors and warnings start their lines with "E:" and "W:".
  EXPECT_EQ(("\n" + validation).find("\nE: "), std::string::npos) << validation;
  EXPECT_EQ(("\n" + validation).find("\nW: "), std::string::npos) << validation;
  // -ww reports every warning groff knows; -z draws nothing.
  const std::string manual = quoted(installed("share/man/man1/tarnwick.1.gz"));
  EXPECT_EQ(command_output("zcat " + manual + " | groff -man -ww -z -Tutf8 2>&1; echo $?"), "0\n");
}

TEST_F(InstallTest, VersionIsTheSameInTheProgramTheManualPageAndTheMetainfo) {
  const std::string program_version = version_text();
  const std::string version = program_version.substr(9, program_version.size() - 10);  // "tarnwick X.Y.Z\n"
  EXPECT_EQ(command_output("env -u DISPLAY " + quoted(installed("bin/tarnwick")) + " --version"), program_version);
  const std::string manual = command_output("zcat " + quoted(installed("share/man/man1/tarnwick.1.gz")));
  EXPECT_NE(manual.find("\"tarnwick " + version + "\""), std::string::npos);
  const std::string metainfo = read_file(installed("share/metainfo/" + kAppId + ".metainfo.xml"));
  EXPECT_NE(metainfo.find("<release version=\"" + version + "\""), std::string::npos);
}

// A launcher that reads the entry itself (as a file manager's "Open with"
// does) substitutes the folder for %f and starts the installed program.
TEST_F(InstallTest, DesktopLauncherOpensAFolderThroughTheEntry) {
  TempDir tree;
  const std::string folder = tree.folder("Old Project");
  XvfbSession server;
  ASSERT_TRUE(server.ok());
  const std::string entry = installed("share/applications/" + kAppId + ".desktop");
  ASSERT_EQ(server.run("env PATH=" + quoted(installed("bin") + ":" + std::getenv("PATH")) + " gio launch " +
                       quoted(entry) + " " + quoted(folder) + " >/dev/null 2>&1"),
            0);
  const std::optional<unsigned long> window = wait_for_window(server, "Tarnwick Recursive Renames");
  ASSERT_TRUE(window.has_value());
  const std::string id = std::to_string(*window);
  EXPECT_EQ(server.output("xprop -id " + id + " WM_CLASS"), "WM_CLASS(STRING) = \"tarnwick\", \"Tarnwick\"\n");

  // The target field's text, copied with Control+A and Control+C.
  ASSERT_EQ(server.run("xdotool windowfocus --sync " + id + " mousemove --window " + id + " 300 200 click 1"), 0);
  std::string copied;
  for (int attempt = 0; attempt < 40 && copied != folder; ++attempt) {
    server.run("xdotool key ctrl+a ctrl+c");
    std::this_thread::sleep_for(100ms);
    copied = server.output("xclip -o -selection clipboard 2>/dev/null");
  }
  EXPECT_EQ(copied, folder);

  // The program is no child of this test: close it and wait for its window to go.
  ASSERT_TRUE(send_delete_window(server, *window));
  std::string remaining = "?";
  for (int attempt = 0; attempt < 50 && !remaining.empty(); ++attempt) {
    std::this_thread::sleep_for(100ms);
    remaining = server.output("xdotool search --name '^Tarnwick Recursive Renames$' 2>/dev/null");
  }
  EXPECT_EQ(remaining, "");
}

}  // namespace
}  // namespace tarnwick::testing
