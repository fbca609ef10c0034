// Case-preserving replacement: the case a match's ASCII letters show, and the
// replacement's forms for it, as text and encoded for raw bytes.
#include <algorithm>

#include "common/utf8.h"
#include "literal/case_forms.h"

namespace tarnwick {

namespace {

bool has_ascii_letter(std::string_view text) {
  return std::ranges::any_of(text, [](char c) { return is_ascii_lower(c) || is_ascii_upper(c); });
}

std::string ascii_lowered(std::string_view text) {
  std::string lowered(text);
  lower_ascii_in_place(lowered);
  return lowered;
}

std::string ascii_uppered(std::string_view text) {
  std::string uppered(text);
  upper_ascii_in_place(uppered);
  return uppered;
}

std::string first_letter_uppered(std::string_view text) {
  std::string capitalized(text);
  const auto letter = std::ranges::find_if(capitalized, [](char c) { return is_ascii_lower(c) || is_ascii_upper(c); });
  if (letter != capitalized.end()) *letter = ascii_upper(*letter);
  return capitalized;
}

constexpr std::size_t index_of(CaseForm form) { return static_cast<std::size_t>(form); }

// Where the encoded find shows the case of each of its ASCII letters: the
// find encoded all lower and all upper case differs in one byte per letter
// in every encoding of the table (a letter is one ASCII byte, or one code
// unit of UTF-16 or UTF-32 whose other bytes are zero). None when an
// encoding does not show case that way.
std::optional<std::vector<BinaryCaseForms::LetterByte>> letter_bytes(std::string_view lower, std::string_view upper,
                                                                     std::size_t letter_count) {
  if (lower.size() != upper.size()) return std::nullopt;
  std::vector<BinaryCaseForms::LetterByte> letters;
  for (std::size_t at = 0; at < lower.size(); ++at) {
    if (lower[at] != upper[at]) letters.push_back({at, upper[at]});
  }
  if (letters.size() != letter_count) return std::nullopt;
  return letters;
}

}  // namespace

CaseForm CaseFormTally::form() const {
  if (letters_ == 0) return CaseForm::AsTyped;
  if (!first_upper_ && !later_upper_) return CaseForm::Lower;
  // A single upper-case letter is not "all upper case": it only starts a word.
  if (first_upper_ && !later_lower_ && letters_ >= 2) return CaseForm::Upper;
  if (first_upper_ && !later_upper_) return CaseForm::Capitalized;
  return CaseForm::AsTyped;
}

CaseForm case_form_of(std::string_view matched) {
  CaseFormTally tally;
  for (const char c : matched) {
    if (is_ascii_upper(c) || is_ascii_lower(c)) tally.add_letter(is_ascii_upper(c));
  }
  return tally.form();
}

Replacement::Replacement(std::string_view find, std::string_view typed, MatchCase match_case,
                         PreserveCase preserve_case)
    : forms_{std::string(typed)},
      preserving_(preserve_case == PreserveCase::Yes && match_case == MatchCase::Ignore && has_ascii_letter(find) &&
                  has_ascii_letter(typed)) {
  if (!preserving_) return;
  forms_[index_of(CaseForm::Lower)] = ascii_lowered(typed);
  forms_[index_of(CaseForm::Upper)] = ascii_uppered(typed);
  forms_[index_of(CaseForm::Capitalized)] = first_letter_uppered(typed);
}

std::string_view BinaryLiterals::case_form_for(std::string_view matched) const {
  CaseFormTally tally;
  for (const BinaryCaseForms::LetterByte& letter : case_forms->letters) tally.add_letter(matched[letter.offset] == letter.upper);
  return case_forms->forms[index_of(tally.form())];
}

Result<std::optional<BinaryCaseForms>> encode_case_forms(std::string_view find, const Replacement& replacement,
                                                         EncodingKind kind, std::int32_t code_page) {
  if (!replacement.preserves_case()) return std::optional<BinaryCaseForms>();
  const auto encode = [&](std::string_view text) { return encode_binary_literal(text, kind, code_page); };
  BinaryCaseForms case_forms;
  for (const CaseForm form : {CaseForm::AsTyped, CaseForm::Lower, CaseForm::Upper, CaseForm::Capitalized}) {
    case_forms.forms[index_of(form)] = TRY(encode(replacement.form(form)));
  }
  const std::string lower = TRY(encode(ascii_lowered(find)));
  const std::string upper = TRY(encode(ascii_uppered(find)));
  const auto letter_count = static_cast<std::size_t>(
      std::ranges::count_if(find, [](char c) { return is_ascii_lower(c) || is_ascii_upper(c); }));
  auto letters = letter_bytes(lower, upper, letter_count);
  const bool same_width = std::ranges::all_of(
      case_forms.forms, [&](const std::string& form) { return form.size() == case_forms.forms[0].size(); });
  if (!letters || !same_width) return fail("Preserve case cannot tell letter case apart in this encoding.");
  case_forms.letters = std::move(*letters);
  return std::optional<BinaryCaseForms>(std::move(case_forms));
}

}  // namespace tarnwick
