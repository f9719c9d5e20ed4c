#pragma once
// Where live system-audio chunks go when the session streams system audio.

#include <string>

#include "protocol/event_channel.hpp"

namespace ombri {

struct StreamSink {
  EventSender event_sender;
  std::string session_id;  // carried by every chunk
};

}  // namespace ombri
