// Helpers for the apply tests: plans of real trees, hidden-file checks, and
// the leading texts the apply may stop with.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "support/temp_tree.h"

namespace tarnwick::testing {

// The preview's plan of the tree at target: every name and every file content
// with find replaced (case-sensitive, text only).
PreviewPlan plan_of(const std::string& target, const std::string& find, const std::string& replacement);

// Relative paths of the hidden transaction files in a snapshot.
std::vector<std::string> hidden_files(const TreeSnapshot& snapshot);
TreeSnapshot without_hidden_files(TreeSnapshot snapshot);
// The text of a failed apply, or "" for success.
std::string failure_text(const ApplyFinished& finished);

// Runs body in a forked child (for privileges or namespaces of its own) and
// returns the text it returned, or "child failed: {status}".
std::string text_from_child(const std::function<std::string()>& body);
// Makes the calling process the ordinary account nobody (uid and gid 65534, no
// supplementary groups); false when the system refuses.
bool become_nobody();

}  // namespace tarnwick::testing
