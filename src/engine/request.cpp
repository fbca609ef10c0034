// The operation request: extension-list normalisation and the comparison that
// decides whether a held preview still matches the screen.
#include <algorithm>
#include <vector>

#include "common/utf8.h"
#include "engine/engine.h"

namespace tarnwick {

namespace {

// Components of a path text, so that doubled and trailing separators and "."
// in the middle make no difference; a leading "/" or "." is kept as a component.
std::vector<std::string_view> path_components(std::string_view path) {
  std::vector<std::string_view> components;
  if (path.starts_with('/')) components.emplace_back("/");
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t slash = path.find('/', at);
    const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
    const std::string_view piece = path.substr(at, end - at);
    if (!piece.empty() && (piece != "." || at == 0)) components.push_back(piece);
    at = end + 1;
  }
  return components;
}

}  // namespace

std::vector<std::string> normalize_extension_list(std::string_view text) {
  std::vector<std::string> extensions;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find_first_of(",; \n", at), text.size());
    std::string_view piece = trim_unicode_white_space(text.substr(at, end - at));
    at = end + 1;
    if (piece.empty()) continue;
    // A piece of full stops only becomes the empty extension, "<none>".
    while (piece.starts_with('.')) piece.remove_prefix(1);
    std::string extension(piece);
    lower_ascii_in_place(extension);
    extensions.push_back(std::move(extension));
  }
  return extensions;
}

bool preserves_case(const OperationRequest& request) { return request.preserve_case && !request.match_case; }

MatchCase match_case_of(const OperationRequest& request) {
  return request.match_case ? MatchCase::Exact : MatchCase::Ignore;
}

Replacement replacement_of(const OperationRequest& request) {
  return Replacement(request.find, request.replacement, match_case_of(request),
                     preserves_case(request) ? PreserveCase::Yes : PreserveCase::No);
}

bool same_request(const OperationRequest& a, const OperationRequest& b) {
  return path_components(a.target) == path_components(b.target) && a.max_depth == b.max_depth &&
         a.extension_filter == b.extension_filter && a.find == b.find && a.replacement == b.replacement &&
         a.encoding == b.encoding && a.resizable_binary == b.resizable_binary && a.content_mode == b.content_mode &&
         a.match_case == b.match_case && a.include_folder_contents == b.include_folder_contents &&
         a.edit_contents == b.edit_contents && preserves_case(a) == preserves_case(b);
}

}  // namespace tarnwick
