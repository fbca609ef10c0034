// The lines the includes must keep: each library includes only the libraries
// below it (so the link graph cannot grow a cycle again), and the screen logic
// under native_linux/ui/ includes nothing of X, its fonts or its font files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

const fs::path kSources = fs::path(TARNWICK_TEST_SOURCE_DIR) / "src";

struct Include {
  std::string target;  // as written, without its quotes or angle brackets
  bool quoted = false;
  int line = 0;
};

std::vector<Include> includes_of(const fs::path& file) {
  std::vector<Include> found;
  std::ifstream in(file);
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    const std::size_t hash = text.find_first_not_of(" \t");
    if (hash == std::string::npos || text[hash] != '#') continue;
    const std::size_t word = text.find_first_not_of(" \t", hash + 1);
    if (word == std::string::npos || text.compare(word, 7, "include") != 0) continue;
    const std::size_t open = text.find_first_not_of(" \t", word + 7);
    if (open == std::string::npos) continue;
    if (text[open] != '"' && text[open] != '<') {
      found.push_back({text.substr(open), false, line});  // a macro, such as FT_FREETYPE_H
      continue;
    }
    const std::size_t close = text.find(text[open] == '"' ? '"' : '>', open + 1);
    found.push_back({text.substr(open + 1, close - open - 1), text[open] == '"', line});
  }
  return found;
}

// The library a path under src/ belongs to ("" for the program's entry).
std::string library_of(const std::string& relative) {
  const auto starts = [&](const char* prefix) { return relative.starts_with(prefix); };
  if (starts("resource/deflate/")) return "deflate";
  if (starts("native_linux/ui/")) return "ui";
  if (starts("native_linux/x11/")) return "x11";
  const std::size_t slash = relative.find('/');
  return slash == std::string::npos ? "" : relative.substr(0, slash);
}

std::vector<fs::path> sources_under(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string extension = entry.path().extension().string();
    if (entry.is_regular_file() && (extension == ".h" || extension == ".cpp" || extension == ".inc"))
      files.push_back(entry.path());
  }
  return files;
}

TEST(IncludeLines, EveryLibraryIncludesOnlyTheLibrariesBelowIt) {
  const std::map<std::string, std::set<std::string>> kBelow = {
      {"common", {}},
      {"text_codec", {"common"}},
      {"literal", {"common", "text_codec"}},
      {"deflate", {"common"}},
      {"resource", {"common", "text_codec", "literal", "deflate"}},
      {"content", {"common", "text_codec", "literal", "deflate", "resource"}},
      {"backup", {"common"}},
      {"engine", {"common", "text_codec", "literal", "deflate", "resource", "content", "backup"}},
      {"ui", {"common", "text_codec", "literal", "deflate", "resource", "content", "backup", "engine"}},
      {"x11", {"common", "text_codec", "literal", "deflate", "resource", "content", "backup", "engine", "ui"}},
  };
  std::size_t checked = 0;
  for (const fs::path& file : sources_under(kSources)) {
    const std::string library = library_of(fs::relative(file, kSources).string());
    if (library.empty()) continue;
    ASSERT_TRUE(kBelow.contains(library)) << "a library this test does not know: " << file;
    for (const Include& include : includes_of(file)) {
      if (!include.quoted || include.target.find('/') == std::string::npos) continue;
      const std::string target = library_of(include.target);
      EXPECT_TRUE(target == library || kBelow.at(library).contains(target))
          << file << ":" << include.line << " (" << library << ") includes " << include.target;
      ++checked;
    }
  }
  EXPECT_GT(checked, 200u) << "the scan lost its reach";
}

TEST(IncludeLines, TheScreenLogicIncludesNoX11Header) {
  const std::vector<std::string> kForbidden = {"X11/", "Xft", "fontconfig", "ft2build", "freetype", "FT_",
                                               "native_linux/x11/"};
  std::size_t files = 0;
  for (const fs::path& file : sources_under(kSources / "native_linux" / "ui")) {
    ++files;
    for (const Include& include : includes_of(file)) {
      for (const std::string& forbidden : kForbidden) {
        EXPECT_EQ(include.target.find(forbidden), std::string::npos)
            << file << ":" << include.line << " includes " << include.target;
      }
    }
  }
  EXPECT_GT(files, 20u) << "the scan lost its reach";
}

}  // namespace
}  // namespace tarnwick
