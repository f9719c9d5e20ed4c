#include "protocol/event_channel.hpp"

namespace ombri {

EventSender::EventSender(std::shared_ptr<detail::ChannelState> state) : state_(std::move(state)) {
  std::lock_guard lock(state_->mutex);
  ++state_->senders;
}

EventSender::EventSender(const EventSender& other) : EventSender(other.state_) {}

EventSender::EventSender(EventSender&& other) noexcept : state_(std::move(other.state_)) {}

EventSender& EventSender::operator=(EventSender other) noexcept {
  release();
  state_ = std::move(other.state_);
  return *this;
}

EventSender::~EventSender() { release(); }

void EventSender::release() {
  if (!state_) return;
  {
    std::lock_guard lock(state_->mutex);
    --state_->senders;
  }
  state_->ready.notify_all();
  state_.reset();
}

void EventSender::send(Json value) const {
  if (!state_) return;
  {
    std::lock_guard lock(state_->mutex);
    if (!state_->receiver_alive) return;
    state_->values.push_back(std::move(value));
  }
  state_->ready.notify_one();
}

EventReceiver::EventReceiver(std::shared_ptr<detail::ChannelState> state) : state_(std::move(state)) {}

EventReceiver::~EventReceiver() {
  if (!state_) return;
  std::lock_guard lock(state_->mutex);
  state_->receiver_alive = false;
  state_->values.clear();
}

std::optional<Json> EventReceiver::receive() {
  std::unique_lock lock(state_->mutex);
  state_->ready.wait(lock, [&] { return !state_->values.empty() || state_->senders == 0; });
  if (state_->values.empty()) return std::nullopt;
  Json value = std::move(state_->values.front());
  state_->values.pop_front();
  return value;
}

std::pair<EventSender, EventReceiver> make_event_channel() {
  auto state = std::make_shared<detail::ChannelState>();
  return {EventSender(state), EventReceiver(state)};
}

}  // namespace ombri
