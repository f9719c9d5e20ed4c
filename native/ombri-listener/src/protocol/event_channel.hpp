#pragma once
// An unbounded channel of JSON values with many senders and one receiver.
// Sending never blocks; the receiver learns the channel is disconnected once
// every sender is gone and nothing is left.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "protocol/json.hpp"

namespace ombri {

namespace detail {
struct ChannelState {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<Json> values;
  std::size_t senders = 0;
  bool receiver_alive = true;
};
}  // namespace detail

class EventSender {
 public:
  explicit EventSender(std::shared_ptr<detail::ChannelState> state);
  EventSender(const EventSender& other);
  EventSender(EventSender&& other) noexcept;
  EventSender& operator=(EventSender other) noexcept;
  ~EventSender();

  // A failed send (receiver gone) is ignored, like every caller wants.
  void send(Json value) const;

 private:
  void release();
  std::shared_ptr<detail::ChannelState> state_;
};

class EventReceiver {
 public:
  explicit EventReceiver(std::shared_ptr<detail::ChannelState> state);
  EventReceiver(EventReceiver&&) noexcept = default;
  EventReceiver& operator=(EventReceiver&&) noexcept = default;
  ~EventReceiver();

  // Blocks for the next value; nothing once every sender is gone and the channel is empty.
  std::optional<Json> receive();

 private:
  std::shared_ptr<detail::ChannelState> state_;
};

std::pair<EventSender, EventReceiver> make_event_channel();

}  // namespace ombri
