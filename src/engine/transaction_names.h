// Names of the hidden files an apply keeps beside the files it changes:
// ".tarnwick-{pid}-{counter}-{stage|recovery|journal}".
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

enum class TransactionKind : std::uint8_t { Stage, Recovery, Journal };

// Numbers every hidden transaction file of this process; each attempt takes one value.
std::atomic<std::uint64_t>& transaction_counter();

// ".tarnwick-{this process id}-{counter}-{kind}"
std::string transaction_file_name(std::uint64_t counter, TransactionKind kind);

// The kind of a name of that form, whatever process made it; none for any other name.
std::optional<TransactionKind> transaction_kind_of(std::string_view name);

}  // namespace tarnwick
