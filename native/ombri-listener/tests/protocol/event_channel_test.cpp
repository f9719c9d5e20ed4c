#include "protocol/event_channel.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

namespace ombri {
namespace {

TEST(EventChannel, DeliversInOrderThenReportsDisconnection) {
  auto [sender, receiver] = make_event_channel();
  std::optional<EventSender> clone(sender);
  std::thread producer([moved = std::move(sender)] {
    for (int i = 0; i < 1000; ++i) moved.send(Json(i));
  });
  producer.join();
  clone->send(Json("last"));
  clone.reset();
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(receiver.receive(), Json(i));
  EXPECT_EQ(receiver.receive(), Json("last"));
  EXPECT_FALSE(receiver.receive().has_value());
}

TEST(EventChannel, SendingWithoutReceiverIsIgnored) {
  auto [sender, receiver] = make_event_channel();
  { EventReceiver gone = std::move(receiver); }
  sender.send(Json(1));
}

}  // namespace
}  // namespace ombri
