// Excerpt lines as text with their marks drawn in, for readable expectations:
// [found text] and {replacement}.
#pragma once

#include <string>
#include <vector>

#include "content/content.h"

namespace tarnwick::testing {

inline std::vector<std::string> marked_texts(const std::vector<ExcerptLine>& lines) {
  std::vector<std::string> texts;
  for (const ExcerptLine& line : lines) {
    std::string text;
    std::size_t at = 0;
    for (const ExcerptSpan& span : line.marks) {
      if (span.begin < at || span.end <= span.begin) return {"(marks out of order or empty)"};
      text.append(line.text, at, span.begin - at)
          .append(span.mark == ExcerptMark::Find ? "[" : "{")
          .append(line.text, span.begin, span.end - span.begin)
          .append(span.mark == ExcerptMark::Find ? "]" : "}");
      at = span.end;
    }
    texts.push_back(text.append(line.text, at));
  }
  return texts;
}

}  // namespace tarnwick::testing
