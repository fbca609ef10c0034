// Helpers for the apply tests: plans of real trees, hidden-file checks, and
// the leading texts the apply may stop with.
#pragma once

#include <string>
#include <vector>

#include "engine/engine.h"
#include "support/temp_tree.h"

namespace tarnwick::testing {

// The preview's plan of the tree at target: every name and every file content
// with find replaced (case-sensitive). Until content editing is built in, the
// plan is made by hand_made_plan instead.
PreviewPlan plan_of(const std::string& target, const std::string& find, const std::string& replacement);

enum class ContentEditing : bool { Off, On };
PreviewPlan preview_plan(const std::string& target, const std::string& find, const std::string& replacement,
                         ContentEditing contents);
// What the preview makes of a tree of plain text files, built without it.
PreviewPlan hand_made_plan(const std::string& target, const std::string& find, const std::string& replacement);
bool content_editing_available();

// Relative paths of the hidden transaction files in a snapshot.
std::vector<std::string> hidden_files(const TreeSnapshot& snapshot);
TreeSnapshot without_hidden_files(TreeSnapshot snapshot);
// The text of a failed apply, or "" for success.
std::string failure_text(const ApplyFinished& finished);

}  // namespace tarnwick::testing
