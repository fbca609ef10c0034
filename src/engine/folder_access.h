// Folders of the selection reached without following any link, and proved to
// be the folders the plan examined before anything is done inside them. Every
// change of the apply and of Recover is a call relative to such a folder, so a
// component swapped for a link cannot send it outside the selection.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "common/fs.h"

namespace tarnwick::apply {

struct FolderIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FolderIdentity&) const = default;
};

// Why a folder could not be used: the system error of reaching it, or (error 0)
// a different folder found at its path.
struct FolderFault {
  int error = 0;
  std::string folder;
};
using FolderResult = std::expected<int, FolderFault>;

// The complete text for a fault met while acting on subject: "{lead}: {system
// error}" naming the subject, or "Folder identity changed during operation"
// naming the folder.
std::string folder_fault_text(const FolderFault& fault, std::string_view lead, std::string_view subject);

class FolderAccess {
 public:
  // The folder now at path (absolute), opened without following a link in any
  // component, whose device and inode must be the expected ones. The descriptor
  // (O_PATH) stays valid until forget() or until it falls out of the small
  // cache of recent folders; use it at once.
  FolderResult reach(const std::string& path, const FolderIdentity& expected);
  // Drops every cached folder: after renames, paths name other folders.
  void forget() { cache_.clear(); }

 private:
  struct Cached {
    std::string path;
    FolderIdentity identity;
    sys::UniqueFd fd;
  };
  std::vector<Cached> cache_;  // most recent last
};

}  // namespace tarnwick::apply
