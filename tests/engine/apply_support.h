// Helpers for the apply tests: plans of real trees, hidden-file checks, and
// the leading texts the apply may stop with.
#pragma once

#include <string>
#include <vector>

#include "engine/engine.h"
#include "support/temp_tree.h"

namespace tarnwick::testing {

// A plan of the tree at target, as the preview makes it: every name and every
// file content with find replaced (case-sensitive), every folder listed.
PreviewPlan plan_of(const std::string& target, const std::string& find, const std::string& replacement);

// Relative paths of the hidden transaction files in a snapshot.
std::vector<std::string> hidden_files(const TreeSnapshot& snapshot);
TreeSnapshot without_hidden_files(TreeSnapshot snapshot);
// Whether the backup's security copy and snapshot are built in (not placeholders).
bool staging_available();
bool backup_available();

// The text of a failed apply, or "" for success.
std::string failure_text(const ApplyFinished& finished);

}  // namespace tarnwick::testing
