#pragma once
// Collects every value of an event channel on a thread of its own, so a test
// can look at what arrived while producers still hold their senders.

#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/event_channel.hpp"
#include "protocol/json.hpp"

namespace ombri::test {

class EventCollector {
 public:
  EventCollector() {
    auto [sender, receiver] = make_event_channel();
    sender_.emplace(std::move(sender));
    thread_ = std::thread([this, receiver = std::move(receiver)]() mutable {
      while (auto value = receiver.receive()) {
        std::lock_guard lock(mutex_);
        values_.push_back(std::move(*value));
      }
    });
  }
  ~EventCollector() { done(); }

  // A clone of the collector's own sender; take them before done().
  EventSender sender() const { return *sender_; }

  std::vector<Json> values() const {
    std::lock_guard lock(mutex_);
    return values_;
  }
  std::vector<Json> of_type(const std::string& type) const {
    std::vector<Json> matching;
    for (auto& value : values())
      if (value.value("type", "") == type) matching.push_back(value);
    return matching;
  }

  // Drops the test's sender and waits until every other sender is gone too.
  std::vector<Json> done() {
    sender_.reset();
    if (thread_.joinable()) thread_.join();
    return values();
  }

 private:
  std::optional<EventSender> sender_;
  mutable std::mutex mutex_;
  std::vector<Json> values_;
  std::thread thread_;
};

}  // namespace ombri::test
