// Names of the hidden transaction files, made and recognised.
#include "engine/transaction_names.h"

#include <unistd.h>

#include <array>
#include <utility>

namespace tarnwick {

namespace {

constexpr std::string_view kPrefix = ".tarnwick-";
constexpr std::array<std::pair<std::string_view, TransactionKind>, 3> kKindWords = {{
    {"stage", TransactionKind::Stage},
    {"recovery", TransactionKind::Recovery},
    {"journal", TransactionKind::Journal},
}};

std::string_view word_of(TransactionKind kind) {
  for (const auto& [word, named] : kKindWords) {
    if (named == kind) return word;
  }
  return {};
}

// Consumes one or more decimal digits and the hyphen after them.
bool take_number(std::string_view& rest) {
  std::size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
  if (digits == 0 || digits >= rest.size() || rest[digits] != '-') return false;
  rest.remove_prefix(digits + 1);
  return true;
}

}  // namespace

std::atomic<std::uint64_t>& transaction_counter() {
  static std::atomic<std::uint64_t> counter{0};
  return counter;
}

std::string transaction_file_name(std::uint64_t counter, TransactionKind kind) {
  std::string name(kPrefix);
  name.append(std::to_string(::getpid())).append("-").append(std::to_string(counter)).append("-");
  name.append(word_of(kind));
  return name;
}

std::optional<TransactionKind> transaction_kind_of(std::string_view name) {
  if (!name.starts_with(kPrefix)) return std::nullopt;
  std::string_view rest = name.substr(kPrefix.size());
  if (!take_number(rest) || !take_number(rest)) return std::nullopt;
  for (const auto& [word, kind] : kKindWords) {
    if (rest == word) return kind;
  }
  return std::nullopt;
}

}  // namespace tarnwick
