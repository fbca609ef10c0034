// The review pane's text: status block, running texts, apply results, one
// preview page with its notices, or the welcome text.
#include <algorithm>
#include <string>

#include "native_linux/ui/ui_state.h"

namespace tarnwick {
namespace {

constexpr std::string_view kPreserveCaseSentence =
    "Preserve case is on: a match in lower case gets the replacement in lower case, a match in upper case (two "
    "letters or more) gets it in upper case, a match with only its first letter in upper case gets the replacement "
    "with its first letter in upper case, and any other match gets it as typed (ASCII letters only).";

std::string_view running_text(WorkerKind kind) {
  switch (kind) {
    case WorkerKind::Preview:
      return "Building your preview...\nYour files stay unchanged during preview.";
    case WorkerKind::Apply:
      return "Preparing backup and applying reviewed changes...\n"
             "If backup is enabled, it must finish before any file changes.\n"
             "Keep the app open until this operation finishes.";
    case WorkerKind::Backup:
      return "Creating and verifying your backup...\n"
             "The entire selected target is copied. Your selected files stay unchanged.\n"
             "Keep the app open until the backup finishes.";
    case WorkerKind::Recover:
      return "Recovering the interrupted apply...\n"
             "Its changes are undone from its journal and the files it set aside.\n"
             "Keep the app open until this operation finishes.";
  }
  return {};
}

void append_results(std::string& text, const ApplyOutcome& results) {
  text.append("CHANGES COMPLETE\n\n")
      .append(std::to_string(results.names_changed))
      .append(" names changed\n")
      .append(std::to_string(results.files_edited))
      .append(" files edited\n")
      .append(std::to_string(results.literal_replacements))
      .append(" literal replacements\n\nCurrent target\n")
      .append(results.final_target_path);
  if (!results.backup) {
    text += "\n\nAutomatic backup was turned off for this operation.";
    return;
  }
  text.append("\n\nOriginals backed up and verified\n")
      .append(results.backup->folder)
      .append("\n")
      .append(std::to_string(results.backup->files))
      .append(" files / ")
      .append(std::to_string(results.backup->bytes))
      .append(" bytes\nThe backup keeps original names and data.");
}

std::string_view content_label(const ChangeEntry& entry) {
  if (!entry.content_changes) return {};
  if (entry.content_summary) return *entry.content_summary;
  return "CONTENT";
}

// The excerpt lines of one entry: what its content edit changes inside the
// file, from the preview's bytes and the request it was made from.
std::vector<ExcerptLine> entry_excerpts(const UiState& ui, const ChangeEntry& entry) {
  if (!entry.content_changes || !ui.request_snapshot) return {};
  auto lines = compose_change_excerpts(*ui.preview, entry, *ui.request_snapshot);
  if (!lines) return {ExcerptLine{"  Matching lines cannot be shown: " + lines.error(), {}}};
  return std::move(*lines);
}

void append_excerpt_line(MarkedReviewText& review, const ExcerptLine& line) {
  const std::size_t shift = review.text.size();
  review.text.append(line.text).append("\n");
  for (ExcerptSpan mark : line.marks) {
    mark.begin += shift;
    mark.end += shift;
    review.marks.push_back(mark);
  }
}

void append_preview_page(MarkedReviewText& review, const UiState& ui, std::size_t page) {
  std::string& text = review.text;
  const PreviewPlan& plan = *ui.preview;
  const auto renames = std::ranges::count_if(plan.changes, [](const ChangeEntry& e) { return e.name_changes; });
  const auto contents = std::ranges::count_if(plan.changes, [](const ChangeEntry& e) { return e.content_changes; });
  if (plan.kind == PlanKind::Undo) text.append("UNDO PREVIEW\n");
  text.append(std::to_string(renames))
      .append(" renames / ")
      .append(std::to_string(contents))
      .append(" content edits / ")
      .append(std::to_string(ui.items_scanned))
      .append(" items scanned\nPage ")
      .append(std::to_string(page + 1))
      .append(" of ")
      .append(std::to_string(review_page_count(ui)))
      .append("\n\n");
  if (ui.request_snapshot && preserves_case(*ui.request_snapshot)) text.append(kPreserveCaseSentence).append("\n\n");
  const std::size_t first = page * kReviewPageEntries;
  const std::size_t entries_end = std::min(plan.changes.size(), first + kReviewPageEntries);
  const ReviewExcerpts& held = ui.review_excerpts;
  const bool page_held = held.page == page && held.entries.size() == entries_end - first;
  for (std::size_t i = first; i < entries_end; ++i) {
    const ChangeEntry& entry = plan.changes[i];
    text.append(entry.is_folder ? "FOLDER  " : "FILE  ")
        .append(entry.name_changes ? "NAME " : "")
        .append(content_label(entry))
        .append("  ")
        .append(std::to_string(entry.literal_count))
        .append(" literal matches\n")
        .append(entry.original_path)
        .append("\n> ")
        .append(entry.final_path)
        .append("\n");
    if (page_held) {
      for (const ExcerptLine& line : held.entries[i - first]) append_excerpt_line(review, line);
    } else {
      for (const ExcerptLine& line : entry_excerpts(ui, entry)) append_excerpt_line(review, line);
    }
    text.append("\n");
  }
  if (plan.notices.empty()) return;
  text.append("PREVIEW NOTICES (").append(std::to_string(plan.notices.size())).append(")\n");
  const std::size_t notices_end = std::min(plan.notices.size(), first + kReviewPageEntries);
  for (std::size_t i = first; i < notices_end; ++i) text.append("- ").append(plan.notices[i]).append("\n");
}

// Everything above the page: the status block and a report of files to preserve.
void append_status(std::string& text, const UiState& ui) {
  if (ui.status) {
    text.append(ui.status->severity == StatusSeverity::Information ? "NOTICE" : "OPERATION STOPPED")
        .append("\n")
        .append(ui.status->message)
        .append("\n\n");
  }
  // The report of files to preserve stays until the next operation, even
  // after the status that first carried it was replaced or dropped.
  if (ui.recovery_report && (!ui.status || ui.status->message != *ui.recovery_report)) {
    text.append("OPERATION STOPPED\n").append(*ui.recovery_report).append("\n\n");
  }
}

bool shows_preview(const UiState& ui) { return !ui.worker.busy() && !ui.results && ui.preview; }

}  // namespace

std::string_view welcome_text() {
  return "A fresh name. Everywhere.\n\nChoose a target, set your replacement, then preview every change here.\n\n"
         "Tarn v0.2  >  Tarnwick v0.2";
}

MarkedReviewText compose_marked_review_text(const UiState& ui) {
  MarkedReviewText review;
  std::string& text = review.text;
  append_status(text, ui);
  if (ui.worker.busy()) {
    text += running_text(ui.worker.kind);
  } else if (ui.results) {
    append_results(text, *ui.results);
  } else if (ui.preview) {
    append_preview_page(review, ui, shown_review_page(ui));
  } else if (!ui.status && !ui.recovery_report) {
    text += welcome_text();
  }
  return review;
}

std::string compose_review_text(const UiState& ui) { return compose_marked_review_text(ui).text; }

std::string compose_all_pages_review_text(const UiState& ui) {
  if (!shows_preview(ui)) return compose_review_text(ui);
  MarkedReviewText review;
  append_status(review.text, ui);
  for (std::size_t page = 0; page < review_page_count(ui); ++page) {
    // A blank line between pages, as between the entries of one.
    if (page > 0 && !review.text.ends_with("\n\n")) review.text += "\n";
    append_preview_page(review, ui, page);
  }
  return std::move(review.text);
}

void refresh_review_excerpts(UiState& ui) {
  if (!shows_preview(ui)) return;
  const std::size_t page = shown_review_page(ui);
  if (ui.review_excerpts.page == page) return;
  ReviewExcerpts excerpts{page, {}};
  const std::vector<ChangeEntry>& changes = ui.preview->changes;
  const std::size_t first = std::min(changes.size(), page * kReviewPageEntries);
  const std::size_t end = std::min(changes.size(), first + kReviewPageEntries);
  for (std::size_t i = first; i < end; ++i) excerpts.entries.push_back(entry_excerpts(ui, changes[i]));
  ui.review_excerpts = std::move(excerpts);
}

}  // namespace tarnwick
