// The command line: the table of arguments against a made-up current folder,
// then the real program's output streams and exit statuses without a display.
#include "native_linux/x11/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/temp_tree.h"
#include "xvfb_session.h"

namespace tarnwick {
namespace {

struct ArgumentCase {
  const char* name;
  std::vector<std::string_view> arguments;
  CommandKind kind;
  // Start: the target field's text ("" for none); Usage: the problem.
  std::string expected;
};

class CommandLineTest : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(CommandLineTest, ParsesLikeTheTable) {
  const ArgumentCase& c = GetParam();
  const Command command =
      parse_command_line(c.arguments, []() -> Result<std::string> { return "/home/ann/work"; });
  ASSERT_EQ(command.kind, c.kind) << command.problem;
  if (c.kind == CommandKind::Start) {
    EXPECT_EQ(command.start_target.value_or(""), c.expected);
  }
  if (c.kind == CommandKind::Usage) {
    EXPECT_EQ(command.problem, c.expected);
  }
}

const std::string kLongPath = "/" + std::string(32768, 'a');

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineTest,
    ::testing::Values(
        ArgumentCase{"none", {}, CommandKind::Start, ""},
        // The parser never looks at the filesystem: a folder, a file and a
        // missing path all start with their text; the preview reports a missing one.
        ArgumentCase{"folder", {"/srv/Projects"}, CommandKind::Start, "/srv/Projects"},
        ArgumentCase{"file", {"/srv/Projects/notes.txt"}, CommandKind::Start, "/srv/Projects/notes.txt"},
        ArgumentCase{"missing", {"/does/not/exist"}, CommandKind::Start, "/does/not/exist"},
        ArgumentCase{"tidied", {"//srv/./Projects//"}, CommandKind::Start, "/srv/Projects"},
        ArgumentCase{"relative", {"notes/a.txt"}, CommandKind::Start, "/home/ann/work/notes/a.txt"},
        ArgumentCase{"current folder", {"."}, CommandKind::Start, "/home/ann/work"},
        ArgumentCase{"parent", {"../"}, CommandKind::Start, "/home/ann"},
        ArgumentCase{"above the root", {"../../../../x"}, CommandKind::Start, "/x"},
        // Only a leading ".." climbs: a later one may follow a link.
        ArgumentCase{"inner parent kept", {"../link/../x"}, CommandKind::Start, "/home/ann/link/../x"},
        ArgumentCase{"lone dash", {"-"}, CommandKind::Start, "/home/ann/work/-"},
        ArgumentCase{"after double dash", {"--", "--help"}, CommandKind::Start, "/home/ann/work/--help"},
        ArgumentCase{"uri with escapes", {"file:///tmp/My%20Files/caf%C3%A9/"}, CommandKind::Start,
                     "/tmp/My Files/café"},
        ArgumentCase{"uri on localhost", {"file://localhost/tmp/x"}, CommandKind::Start, "/tmp/x"},
        ArgumentCase{"help", {"--help"}, CommandKind::Help, ""},
        ArgumentCase{"version", {"--version"}, CommandKind::Version, ""},
        ArgumentCase{"first option wins", {"/a", "--version", "--bogus"}, CommandKind::Version, ""},
        ArgumentCase{"unknown option", {"--verbose"}, CommandKind::Usage, "unrecognised option '--verbose'"},
        ArgumentCase{"short option", {"-h"}, CommandKind::Usage, "unrecognised option '-h'"},
        ArgumentCase{"option with a value", {"--help=all"}, CommandKind::Usage, "unrecognised option '--help=all'"},
        ArgumentCase{"unknown before help", {"--bogus", "--help"}, CommandKind::Usage,
                     "unrecognised option '--bogus'"},
        ArgumentCase{"escape sequence not echoed", {"--\x1b[2Jx"}, CommandKind::Usage, "unrecognised option '--[2Jx'"},
        ArgumentCase{"two paths", {"/a", "/b"}, CommandKind::Usage, "give one path at most"},
        ArgumentCase{"empty path", {""}, CommandKind::Usage, "the path is empty"},
        ArgumentCase{"remote uri", {"file://server/share"}, CommandKind::Usage,
                     "only local files and folders can be opened, not a remote file URI"},
        ArgumentCase{"malformed uri", {"file:///a%2"}, CommandKind::Usage, "the file URI is malformed"},
        ArgumentCase{"uri not utf-8", {"file:///a%FF"}, CommandKind::Usage, "the path is not valid UTF-8"},
        ArgumentCase{"uri control", {"file:///a%0Ab"}, CommandKind::Usage, "the path contains control characters"},
        ArgumentCase{"path not utf-8", {"/tmp/\xff"}, CommandKind::Usage, "the path is not valid UTF-8"},
        ArgumentCase{"path control", {"a\tb"}, CommandKind::Usage, "the path contains control characters"},
        ArgumentCase{"too long", {kLongPath}, CommandKind::Usage,
                     "the path is longer than the 32768 bytes the target field holds"}),
    [](const ::testing::TestParamInfo<ArgumentCase>& case_info) {
      std::string name = case_info.param.name;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

// The current folder is read only for a relative path.
TEST(CommandLine, RelativePathWithoutACurrentFolderIsRefused) {
  const auto unreadable = []() -> Result<std::string> { return fail("cannot read the current folder: gone"); };
  const std::vector<std::string_view> relative{"x"};
  const std::vector<std::string_view> absolute{"/x"};
  const std::vector<std::string_view> uri{"file:///x"};
  EXPECT_EQ(parse_command_line(relative, unreadable).problem, "cannot read the current folder: gone");
  EXPECT_EQ(parse_command_line(absolute, unreadable).start_target, "/x");
  EXPECT_EQ(parse_command_line(uri, unreadable).start_target, "/x");
  EXPECT_EQ(parse_command_line({}, unreadable).kind, CommandKind::Start);
}

// "tarnwick X.Y.Z" and a line feed (std::regex draws false warnings from g++ 12
// in the sanitizer build).
bool is_version_line(std::string_view text) {
  if (!text.starts_with("tarnwick ") || !text.ends_with('\n')) return false;
  int dots = 0;
  bool digit_before = false;
  for (const char c : text.substr(9, text.size() - 10)) {
    if (c == '.' && digit_before) {
      ++dots;
      digit_before = false;
    } else if (c >= '0' && c <= '9') {
      digit_before = true;
    } else {
      return false;
    }
  }
  return dots == 2 && digit_before;
}

TEST(CommandLine, VersionLineNamesTheProgramAndThreeNumbers) { EXPECT_TRUE(is_version_line(version_text())); }

// The real program, with DISPLAY unset: options never need a display.
struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

ProgramRun run_program(const std::string& arguments, const std::string& redirect_out = "") {
  testing::TempDir streams;
  ProgramRun run;
  const std::string out = redirect_out.empty() ? streams / "out" : redirect_out;
  run.status = testing::run_command("env -u DISPLAY " + testing::program_path() + " " + arguments + " >" + out +
                                    " 2>" + (streams / "err"));
  if (redirect_out.empty()) run.out = testing::read_file(out);
  run.err = testing::read_file(streams / "err");
  return run;
}

TEST(CommandLineProgram, HelpAndVersionGoToStandardOutputUsageErrorsToStandardError) {
  if (testing::program_path().empty()) GTEST_SKIP() << "TARNWICK_BINARY is not set";
  const ProgramRun help = run_program("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, help_text());
  EXPECT_EQ(help.err, "");

  const ProgramRun version = run_program("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, version_text());
  EXPECT_EQ(version.err, "");

  for (const std::string arguments : {"--bogus", "/a /b", "'file://server/x'"}) {
    const ProgramRun refused = run_program(arguments);
    EXPECT_EQ(refused.status, 2) << arguments;
    EXPECT_EQ(refused.out, "") << arguments;
    EXPECT_TRUE(refused.err.starts_with("tarnwick: ") &&
                refused.err.ends_with("\nUsage: tarnwick [--help | --version | PATH]\n") &&
                std::count(refused.err.begin(), refused.err.end(), '\n') == 2)
        << refused.err;
  }
  // A path alone starts the window, which without a display ends quietly as ever.
  const ProgramRun no_display = run_program("/tmp");
  EXPECT_EQ(no_display.status, 0);
  EXPECT_EQ(no_display.out + no_display.err, "");
}

TEST(CommandLineProgram, HelpThatCannotBeWrittenFails) {
  if (testing::program_path().empty()) GTEST_SKIP() << "TARNWICK_BINARY is not set";
  EXPECT_EQ(run_program("--help", "/dev/full").status, 1);
}

}  // namespace
}  // namespace tarnwick
