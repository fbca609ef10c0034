// What the apply will need of the user the program runs as, checked at
// preview, so that a plan is shown only when the apply can carry it out.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <unordered_map>

#include "common/result.h"

namespace tarnwick {

// "A matching entry is read-only: change its permissions or exclude it before previewing"
std::string read_only_text(std::string_view path);

enum class ContentChange : bool { No, Yes };

class ApplyAccess {
 public:
  // An entry the apply renames, or whose content it replaces through a stage
  // file created beside it and two renames in its folder. Its folder must let
  // this user create, rename and remove entries; the entry must carry no
  // attribute that forbids renaming it; an edited file must be writable.
  Result<void> check_change(const std::string& path, const struct stat& status, ContentChange content);

 private:
  // Whether the folder's sticky bit limits this user to entries of their own.
  Result<bool> check_folder(const std::string& folder);

  const uid_t user_ = ::geteuid();
  std::unordered_map<std::string, bool> folders_;  // each folder is checked once
};

}  // namespace tarnwick
