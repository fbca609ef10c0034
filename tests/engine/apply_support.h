// Helpers for the apply tests: plans of real trees, hidden-file checks, and
// the leading texts the apply may stop with.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "support/temp_tree.h"

namespace tarnwick::testing {

// A named tree for the sweeps: build makes it in a fresh folder and returns the target.
struct Fixture {
  const char* name;
  std::function<std::string(TempDir&)> build;
};

// The request of plan_of: names and contents, match case on, the other options as they start.
OperationRequest apply_request(const std::string& target, const std::string& find, const std::string& replacement);
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

// ASCII text as UTF-16 with its byte-order mark.
std::string utf16(std::string_view ascii, bool big_endian);

// Polls like the UI loop until the worker's one event arrives or its sender is
// gone (Empty after about ten seconds of neither).
PollStatus wait_for_event(EventReceiver& receiver, std::optional<WorkerEvent>& event);

}  // namespace tarnwick::testing
