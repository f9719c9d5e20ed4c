#include "calendar/access_request.hpp"

#include <future>
#include <memory>
#include <optional>
#include <string>

#include "platform/eventkit.hpp"

namespace ombri {

bool request_access(std::chrono::milliseconds wait) {
  eventkit::EventStore store;
  // Only the completion owns the sending end: an answer after the wait finds
  // the channel still there and is merely never read, and a store that drops
  // the completion unanswered ends the wait.
  auto sender = std::make_shared<std::promise<bool>>();
  std::future<bool> receiver = sender->get_future();
  store.request_full_access_to_events([sender = std::move(sender)](bool granted, std::optional<std::string>) {
    try {
      sender->set_value(granted);
    } catch (const std::future_error&) {
      // A second answer to the same request: the first one stands.
    }
  });
  if (receiver.wait_for(wait) != std::future_status::ready) return false;
  try {
    return receiver.get();
  } catch (const std::future_error&) {
    return false;  // the store let go of the completion without calling it
  }
}

}  // namespace ombri
