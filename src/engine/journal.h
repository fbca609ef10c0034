// The transaction journal: what one apply is about to change, written and
// flushed before its first change, so that an apply killed at any instant can
// be rolled back by Recover from the journal and what the filesystem shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "engine/engine.h"

namespace tarnwick {

// A folder in which the apply installs or renames entries, by its original path.
struct JournalFolder {
  std::string path;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

// One content install: the original moves to the recovery name, the stage file
// takes its place. Both names are in the original's folder.
struct JournalInstall {
  std::string path;  // original path
  FileIdentity original;
  std::uint64_t replacement_size = 0;
  std::string stage_name;
  std::string recovery_name;
  // The stage file once written and flushed; recorded before any install.
  std::optional<FileIdentity> staged;
};

// One rename, from the original path to the own-renamed path (same folder).
struct JournalRename {
  std::string from;
  std::string to;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool is_folder = false;
};

struct TransactionJournal {
  std::string target;  // the selected target's original path
  std::vector<JournalFolder> folders;
  std::vector<JournalInstall> installs;
  std::vector<JournalRename> renames;  // in the order the apply performs them
  // Every change is made and flushed: Recover finishes the cleanup instead of rolling back.
  bool committed = false;
};

// The plan part, written once and flushed before the first change.
std::string journal_plan_text(const TransactionJournal& journal);
// Appended as the apply goes.
std::string journal_staged_line(std::size_t install, const FileIdentity& staged);
std::string_view journal_committed_line();

struct ReadJournal {
  TransactionJournal journal;
  // False when the plan part was never completely written: the apply that
  // wrote it had not changed anything yet.
  bool plan_complete = false;
};
// The journal's bytes; the failure is a detail text ("the plan part is damaged", ...).
Result<ReadJournal> parse_journal(std::string_view text);

}  // namespace tarnwick
