// Case-preserving content edits of real files in UTF-16, Windows-1252 and raw
// binary, with Python's codecs and regular expressions computing each result.
#include <gtest/gtest.h>

#include "content/content.h"
#include "support/temp_tree.h"

namespace tarnwick {
namespace {

// Writes <name> and <name>.expect (the exact new bytes) for each case. The
// rule is Python's own, over re's ASCII-only case folding.
constexpr const char* kGenerator = R"PY(
import os, re, string, sys
folder = sys.argv[1]
LOWER = str.maketrans(string.ascii_uppercase, string.ascii_lowercase)
UPPER = str.maketrans(string.ascii_lowercase, string.ascii_uppercase)
def form(matched, typed):
    letters = [c for c in matched if c in string.ascii_letters]
    if not letters:
        return typed
    if all(c in string.ascii_lowercase for c in letters):
        return typed.translate(LOWER)
    if len(letters) >= 2 and all(c in string.ascii_uppercase for c in letters):
        return typed.translate(UPPER)
    if letters[0] in string.ascii_uppercase and all(c in string.ascii_lowercase for c in letters[1:]):
        at = next((i for i, c in enumerate(typed) if c in string.ascii_letters), None)
        return typed if at is None else typed[:at] + typed[at].upper() + typed[at + 1:]
    return typed
def replaced(text, find, typed):
    return re.sub(re.escape(find), lambda m: form(m.group(0), typed), text, flags=re.IGNORECASE | re.ASCII)
def case(name, data, expect):
    open(os.path.join(folder, name), "wb").write(data)
    open(os.path.join(folder, name + ".expect"), "wb").write(expect)
mixed = "sympy, SymPy, SYMPY, Sympy, SymPY and sYMPY; Größe \u00e9t\u00e9 sympy_sympy.\r\n"
case("utf16le.txt", b"\xff\xfe" + (mixed * 40).encode("utf-16-le"),
     b"\xff\xfe" + replaced(mixed * 40, "sympy", "mathKit-\u00df").encode("utf-16-le"))
case("utf16be.txt", (mixed * 40).encode("utf-16-be"), replaced(mixed * 40, "sympy", "mathKit-\u00df").encode("utf-16-be"))
case("western.txt", mixed.encode("cp1252"), replaced(mixed, "sympy", "mathKit-\u00df").encode("cp1252"))
blob = b"\x00\x89BIN\x01" + "sympy|SYMPY|Sympy|SymPy|S".encode("utf-16-le") + b"\xff\x00sympy"
case("blob.bin", blob,
     b"\x00\x89BIN\x01" + replaced("sympy|SYMPY|Sympy|SymPy|S", "sympy", "numPy").encode("utf-16-le") + b"\xff\x00sympy")
)PY";

struct FileCase {
  const char* name;
  const char* typed;
  EncodingChoice encoding;
  ContentMode mode;
};

TEST(PreserveCaseFiles, EachMatchKeepsItsCaseInEveryEncoding) {
  testing::TempDir folder;
  const std::string script = folder / "generate.py";
  testing::write_file(script, kGenerator);
  ASSERT_EQ(testing::run_command("python3 '" + script + "' '" + folder.path() + "/'"), 0);
  const FileCase cases[] = {
      {"utf16le.txt", "mathKit-\xC3\x9F", {}, ContentMode::TextOnly},
      {"utf16be.txt", "mathKit-\xC3\x9F", {EncodingKind::Utf16Be, 0}, ContentMode::TextOnly},
      {"western.txt", "mathKit-\xC3\x9F", {EncodingKind::CodePage, 1252}, ContentMode::TextOnly},
      // Raw bytes in UTF-16: the typed "numPy" is as wide as "sympy", and so is each of its forms.
      {"blob.bin", "numPy", {EncodingKind::Utf16Le, 0}, ContentMode::BinaryOnly},
  };
  for (const FileCase& c : cases) {
    const std::string path = folder / c.name;
    const Replacement replacement("sympy", c.typed, MatchCase::Ignore, PreserveCase::Yes);
    const auto edit = plan_content_edit(path, testing::read_file(path), "sympy", replacement, MatchCase::Ignore,
                                        ContentOptions{c.encoding, Resizable::No, c.mode});
    ASSERT_TRUE(edit) << c.name << ": " << edit.error();
    ASSERT_TRUE(edit->new_bytes) << c.name;
    EXPECT_EQ(*edit->new_bytes, testing::read_file(path + ".expect")) << c.name;
  }

  // What the encoding cannot hold is refused as it always was, whichever form a match takes.
  const std::string western = folder / "western.txt";
  const ContentOptions code_page{{EncodingKind::CodePage, 1252}, Resizable::No, ContentMode::TextOnly};
  const auto refused = plan_content_edit(western, testing::read_file(western), "sympy",
                                         Replacement("sympy", "\xCE\xA3ympy", MatchCase::Ignore, PreserveCase::Yes),
                                         MatchCase::Ignore, code_page);
  const auto as_typed =
      plan_content_edit(western, testing::read_file(western), "sympy", "\xCE\xA3ympy", MatchCase::Ignore, code_page);
  ASSERT_FALSE(refused);
  ASSERT_FALSE(as_typed);
  EXPECT_EQ(refused.error(), as_typed.error());
}

TEST(PreserveCaseFiles, RawBinaryKeepsTheFixedWidthRule) {
  const Replacement wider("sympy", "MathKit", MatchCase::Ignore, PreserveCase::Yes);
  const auto refused = plan_content_edit("/data/blob.bin", std::string("\x00SYMPY", 6), "sympy", wider,
                                         MatchCase::Ignore, ContentOptions{{}, Resizable::No, ContentMode::BinaryOnly});
  ASSERT_FALSE(refused);
  EXPECT_TRUE(refused.error().starts_with("Binary fixed-width mode requires equal encoded widths (find: 5 bytes; "
                                          "replacement: 7 bytes). This file contains 1 matches."))
      << refused.error();
  const auto resized = plan_content_edit("/data/blob.bin", std::string("\x00SYMPY.Sympy", 12), "sympy", wider,
                                         MatchCase::Ignore, ContentOptions{{}, Resizable::Yes, ContentMode::BinaryOnly});
  ASSERT_TRUE(resized && resized->new_bytes);
  EXPECT_EQ(*resized->new_bytes, std::string("\x00MATHKIT.MathKit", 16));
}

}  // namespace
}  // namespace tarnwick
