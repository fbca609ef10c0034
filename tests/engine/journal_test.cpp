// The journal's text form: any name survives the round trip, a plan cut short
// anywhere reads as "nothing changed yet", and an altered plan is refused.
#include <gtest/gtest.h>

#include "engine/journal.h"

namespace tarnwick {
namespace {

FileIdentity identity(std::uint64_t inode, std::uint32_t mode) {
  FileIdentity id;
  id.modified_seconds = -3;  // before the epoch
  id.modified_nanoseconds = kNanosecondsUnavailable;
  id.size = 1ull << 40;
  id.device = 65024;
  id.inode = inode;
  id.mode = mode;
  id.read_only = (mode & 0222) == 0;
  id.is_folder = (mode & 0170000) == 0040000;
  return id;
}

TransactionJournal sample() {
  TransactionJournal journal;
  journal.target = "/tmp/a target/with%percent";
  journal.folders = {{"/tmp/a target", 1, 2}, {"/tmp/line\nfeed\t\x01\x7f", 3, 4}};
  journal.installs = {{"/tmp/a target/M\xfcller \xe2\x82\xac.txt", identity(9, 0100444), 12,
                       ".tarnwick-1-2-stage", ".tarnwick-1-3-recovery", std::nullopt}};
  journal.renames = {{"/tmp/a target/old", "/tmp/a target/new name", 65024, 5, true},
                     {"/tmp/a target/%41", "/tmp/a target/b", 65024, 6, false}};
  return journal;
}

// Equal plans write the same text; the progress is compared on its own.
void expect_same(const TransactionJournal& a, const TransactionJournal& b) {
  EXPECT_EQ(journal_plan_text(a), journal_plan_text(b));
  ASSERT_EQ(a.installs.size(), b.installs.size());
  for (std::size_t i = 0; i < a.installs.size(); ++i) EXPECT_EQ(a.installs[i].staged, b.installs[i].staged);
  EXPECT_EQ(a.committed, b.committed);
}

TEST(Journal, EveryNameAndIdentitySurvivesTheRoundTripWithProgress) {
  TransactionJournal journal = sample();
  const std::string plan = journal_plan_text(journal);
  EXPECT_EQ(plan.find('\0'), std::string::npos);
  const auto read = parse_journal(plan);
  ASSERT_TRUE(read) << read.error();
  EXPECT_TRUE(read->plan_complete);
  expect_same(journal, read->journal);
  ASSERT_EQ(read->journal.installs.size(), 1u);
  EXPECT_EQ(read->journal.installs[0].path, journal.installs[0].path);
  EXPECT_EQ(read->journal.installs[0].original, journal.installs[0].original);
  EXPECT_EQ(read->journal.folders[1].path, journal.folders[1].path);
  EXPECT_EQ(read->journal.renames[1].from, "/tmp/a target/%41") << "an escape-like name is kept as it is";

  journal.installs[0].staged = identity(77, 0100644);
  journal.committed = true;
  const std::string progressed = plan + journal_staged_line(0, *journal.installs[0].staged) +
                                 "staged 9 1 2 3 4 5 6\n" +  // an index no install has: passed over
                                 std::string(journal_committed_line());
  const auto again = parse_journal(progressed);
  ASSERT_TRUE(again) << again.error();
  expect_same(journal, again->journal);
}

TEST(Journal, APlanCutShortAnywhereMeansNothingChangedAndAnAlteredOneIsRefused) {
  const std::string plan = journal_plan_text(sample());
  for (std::size_t length = 0; length < plan.size(); ++length) {
    const auto read = parse_journal(plan.substr(0, length));
    ASSERT_TRUE(read) << length << ": " << read.error();
    EXPECT_FALSE(read->plan_complete) << length;
  }
  // A staged line cut short after a complete plan is passed over.
  const auto torn = parse_journal(plan + "staged 0 65024 7");
  ASSERT_TRUE(torn);
  EXPECT_TRUE(torn->plan_complete);
  EXPECT_FALSE(torn->journal.installs[0].staged);

  for (std::size_t at = 0; at + 1 < plan.rfind("\nend "); ++at) {
    std::string altered = plan;
    altered[at] = static_cast<char>(altered[at] ^ 0x04);
    const auto read = parse_journal(altered);
    EXPECT_FALSE(read) << "byte " << at;
  }
  EXPECT_FALSE(parse_journal("tarnwick-journal 1\nstaged 0 1 2 3 4 5 6\n"))
      << "progress without a complete plan cannot be";
}

}  // namespace
}  // namespace tarnwick
