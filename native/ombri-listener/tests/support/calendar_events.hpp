#pragma once
// Calendar store events for tests: a titled, timed event with nothing else.

#include <chrono>
#include <string>

#include "platform/eventkit.hpp"

namespace ombri::test {

inline eventkit::Event timed_event(std::string title, double starts, double ends) {
  eventkit::Event event;
  event.title = std::move(title);
  event.start_date = {starts};
  event.end_date = {ends};
  return event;
}

inline double seconds_since_1970() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace ombri::test
