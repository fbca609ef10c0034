// plan_content_edit over a real folder of mixed encodings, archives and binaries
// written by Python, whose codecs also compute the bytes each plan must hold.
#include <gtest/gtest.h>

#include <dirent.h>

#include <map>

#include "content/content.h"
#include "support/temp_tree.h"

namespace tarnwick {
namespace {

// Writes each case as <name> (the file) and <name>.expect: "edit\n" or "binary\n"
// + the exact new bytes, "skip\n" + the notice's start, or "none\n".
constexpr const char* kGenerator = R"PY(
import gzip, io, os, sys, zipfile, zlib
folder = sys.argv[1]
def case(name, data, expect):
    open(os.path.join(folder, name), "wb").write(data)
    open(os.path.join(folder, name + ".expect"), "wb").write(expect)
def text_case(name, text, codec, bom=b""):
    data = bom + text.encode(codec)
    case(name, data, b"edit\n" + bom + text.replace("find", "Größe").encode(codec))
text_case("utf8.txt", "Grüße: find me\nand find again\n" * 50, "utf-8")
text_case("utf8-bom.txt", "find\tfind\r\n", "utf-8", b"\xef\xbb\xbf")
text_case("utf16le-bom.txt", "Unicode find \u20ac\U0001F600\n", "utf-16-le", b"\xff\xfe")
text_case("utf16be-bare.txt", "plain find text, long enough to look like UTF-16\n", "utf-16-be")
text_case("utf32le-bom.txt", "find \u0416\n", "utf-32-le", b"\xff\xfe\x00\x00")
text_case("western.txt", "Caf\u00e9 au lait: find\n", "cp1252")
def binary_case(name, data):
    case(name, data, b"binary\n" + data.replace(b"find", "Größe".encode()))
binary_case("vertical-tab.txt", b"find\x0bfind")
binary_case("image.png", b"\x89PNG\r\n\x1a\n\x00\x00find\x00")
binary_case("latin1-controls.dat", b"\x81\x8d find \x00")
case("no-match.txt", b"nothing to see\n", b"none\n")
buffer = io.BytesIO()
with zipfile.ZipFile(buffer, "w") as archive:
    archive.writestr("inner.txt", "find find find")
case("archive.zip", buffer.getvalue(), b"skip\nSkipped unsupported ZIP archive")
case("notes.gz", gzip.compress(b"find"), b"skip\nSkipped unsupported gzip stream")
case("blob.z", zlib.compress(b"find" * 100), b"skip\nSkipped unsupported zlib stream")
case("lisp.el", b"(require 'cl-lib) ; find\n", b"edit\n(require 'cl-lib) ; Gr\xc3\xb6\xc3\x9fe\n")
)PY";

std::vector<std::string> file_names(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && !name.ends_with(".expect")) names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

TEST(RealFiles, MixedFolderInTextAndBinaryMode) {
  testing::TempDir folder;
  const std::string script = folder / "generate.py";
  testing::write_file(script, kGenerator);
  ASSERT_EQ(testing::run_command("python3 '" + script + "' '" + folder.path() + "/'"), 0);
  ::unlink(script.c_str());
  const auto names = file_names(folder.path());
  ASSERT_EQ(names.size(), 14u);
  for (const std::string& name : names) {
    const std::string path = folder / name;
    const std::string bytes = testing::read_file(path);
    const std::string expect = testing::read_file(path + ".expect");
    const std::string kind = expect.substr(0, expect.find('\n'));
    const std::string detail = expect.substr(kind.size() + 1);
    // Resizable, so that the raw binary files can take the wider replacement.
    const ContentOptions options{{}, Resizable::Yes, ContentMode::TextAndBinary};
    const auto edit = plan_content_edit(path, bytes, "find", "Größe", MatchCase::Exact, options);
    ASSERT_TRUE(edit) << name << ": " << edit.error();
    if (kind == "edit" || kind == "binary") {
      ASSERT_TRUE(edit->new_bytes) << name;
      EXPECT_EQ(*edit->new_bytes, detail) << name;
      EXPECT_EQ(edit->binary, kind == "binary") << name;
      EXPECT_EQ(edit->notices.size(), kind == "binary" ? 1u : 0u) << name;
    } else if (kind == "skip") {
      EXPECT_FALSE(edit->new_bytes) << name;
      ASSERT_EQ(edit->notices.size(), 1u) << name;
      EXPECT_TRUE(edit->notices[0].starts_with(detail)) << name << ": " << edit->notices[0];
      EXPECT_TRUE(edit->notices[0].ends_with(": " + path)) << name;
    } else {
      EXPECT_FALSE(edit->new_bytes) << name;
      EXPECT_TRUE(edit->notices.empty()) << name;
    }
  }
}

}  // namespace
}  // namespace tarnwick
