// One-shot channel between a worker and the UI thread: the sender sends at most
// once and never blocks; the receiver polls without blocking and can tell "no
// message yet" from "sender gone without a message".
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace tarnwick {

namespace detail {
template <class T>
struct ChannelState {
  std::mutex mutex;
  std::optional<T> message;
  bool sender_alive = true;
};
}  // namespace detail

template <class T>
class OneShotSender {
 public:
  OneShotSender() = default;
  explicit OneShotSender(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}
  OneShotSender(OneShotSender&&) noexcept = default;
  OneShotSender& operator=(OneShotSender&& other) noexcept {
    if (this != &other) {
      close();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  OneShotSender(const OneShotSender&) = delete;
  OneShotSender& operator=(const OneShotSender&) = delete;
  ~OneShotSender() { close(); }

  // Delivers the message and closes the channel; a receiver that is gone is no error.
  void send(T message) && {
    if (!state_) return;
    {
      std::lock_guard lock(state_->mutex);
      state_->message.emplace(std::move(message));
      state_->sender_alive = false;
    }
    state_.reset();
  }

 private:
  void close() {
    if (!state_) return;
    std::lock_guard lock(state_->mutex);
    state_->sender_alive = false;
    state_.reset();
  }
  std::shared_ptr<detail::ChannelState<T>> state_;
};

enum class PollStatus { Empty, Message, Disconnected };

template <class T>
class OneShotReceiver {
 public:
  OneShotReceiver() = default;
  explicit OneShotReceiver(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}

  // Never blocks beyond the sender's own few-instruction critical section.
  PollStatus try_receive(std::optional<T>& out) {
    if (!state_) return PollStatus::Disconnected;
    std::lock_guard lock(state_->mutex);
    if (state_->message) {
      out.emplace(std::move(*state_->message));
      state_->message.reset();
      return PollStatus::Message;
    }
    return state_->sender_alive ? PollStatus::Empty : PollStatus::Disconnected;
  }

 private:
  std::shared_ptr<detail::ChannelState<T>> state_;
};

template <class T>
std::pair<OneShotSender<T>, OneShotReceiver<T>> make_channel() {
  auto state = std::make_shared<detail::ChannelState<T>>();
  return {OneShotSender<T>(state), OneShotReceiver<T>(state)};
}

}  // namespace tarnwick
