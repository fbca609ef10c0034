// The one-shot worker channel and detached workers: message, nothing yet, and a
// sender gone without a message, within one thread and across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "engine/channel.h"
#include "engine/engine.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

// Polls like the UI loop: never blocks, gives up after a generous time.
template <class T>
PollStatus poll_until_done(OneShotReceiver<T>& receiver, std::optional<T>& out) {
  for (int pass = 0; pass < 4000; ++pass) {
    const PollStatus status = receiver.try_receive(out);
    if (status != PollStatus::Empty) return status;
    std::this_thread::sleep_for(5ms);
  }
  return PollStatus::Empty;
}

TEST(OneShotChannel, MessageThenDisconnected) {
  auto [sender, receiver] = make_channel<int>();
  std::optional<int> out;
  EXPECT_EQ(receiver.try_receive(out), PollStatus::Empty);
  std::move(sender).send(42);
  EXPECT_EQ(receiver.try_receive(out), PollStatus::Message);
  EXPECT_EQ(out, 42);
  out.reset();
  EXPECT_EQ(receiver.try_receive(out), PollStatus::Disconnected) << "the one message is taken only once";
  EXPECT_FALSE(out.has_value());
}

TEST(OneShotChannel, DroppedSenderIsToldApartFromNoMessageYet) {
  auto [sender, receiver] = make_channel<std::string>();
  std::optional<std::string> out;
  EXPECT_EQ(receiver.try_receive(out), PollStatus::Empty);
  { auto gone = std::move(sender); }
  EXPECT_EQ(receiver.try_receive(out), PollStatus::Disconnected);
  EXPECT_FALSE(out.has_value());

  // Move-assigning over a live sender closes the channel it held.
  auto [first, first_receiver] = make_channel<int>();
  auto [second, second_receiver] = make_channel<int>();
  first = std::move(second);
  std::optional<int> value;
  EXPECT_EQ(first_receiver.try_receive(value), PollStatus::Disconnected);
  EXPECT_EQ(second_receiver.try_receive(value), PollStatus::Empty);
  std::move(first).send(7);
  EXPECT_EQ(second_receiver.try_receive(value), PollStatus::Message);
}

TEST(OneShotChannel, SendingToAGoneReceiverIsHarmless) {
  auto [sender, receiver] = make_channel<std::vector<int>>();
  { auto gone = std::move(receiver); }
  std::move(sender).send(std::vector<int>(1000, 1));
}

TEST(OneShotChannel, CrossThreadSendAndDrop) {
  for (int round = 0; round < 200; ++round) {
    auto [sender, receiver] = make_channel<int>();
    const bool send = round % 2 == 0;
    std::thread worker([send, s = std::move(sender)]() mutable {
      if (send) std::move(s).send(1234);
    });
    std::optional<int> out;
    const PollStatus status = poll_until_done(receiver, out);
    worker.join();
    EXPECT_EQ(status, send ? PollStatus::Message : PollStatus::Disconnected);
    if (send) {
      EXPECT_EQ(out, 1234);
    }
  }
}

TEST(SpawnWorker, DeliversTheBodysOneEvent) {
  auto [sender, receiver] = make_channel<WorkerEvent>();
  ASSERT_TRUE(spawn_worker([] { return WorkerEvent(BackupFinished{fail("expected text")}); }, std::move(sender)));
  std::optional<WorkerEvent> event;
  ASSERT_EQ(poll_until_done(receiver, event), PollStatus::Message);
  ASSERT_TRUE(std::holds_alternative<BackupFinished>(*event));
  EXPECT_EQ(std::get<BackupFinished>(*event).result.error(), "expected text");
  event.reset();
  EXPECT_EQ(receiver.try_receive(event), PollStatus::Disconnected);
}

TEST(SpawnWorker, AWorkerThatDiesWithoutSendingClosesTheChannel) {
  auto [sender, receiver] = make_channel<WorkerEvent>();
  ASSERT_TRUE(spawn_worker([]() -> WorkerEvent { throw std::runtime_error("vanished"); }, std::move(sender)));
  std::optional<WorkerEvent> event;
  EXPECT_EQ(poll_until_done(receiver, event), PollStatus::Disconnected);
}

TEST(SpawnWorker, RunsThePreviewOnAWorkerThread) {
  auto [sender, receiver] = make_channel<WorkerEvent>();
  OperationRequest request;
  request.target = "/";
  request.find = "x";
  ASSERT_TRUE(spawn_worker([request] { return WorkerEvent(run_preview(request)); }, std::move(sender)));
  std::optional<WorkerEvent> event;
  ASSERT_EQ(poll_until_done(receiver, event), PollStatus::Message);
  const auto& finished = std::get<PreviewFinished>(*event);
  EXPECT_EQ(finished.request.target, "/");
  EXPECT_EQ(finished.plan.error(), "Select a file or a folder below the filesystem root.");
}

}  // namespace
}  // namespace tarnwick
