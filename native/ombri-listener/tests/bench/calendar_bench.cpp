// `calendarEvents` over a large calendar: 10,000 events, each with 50
// attendees and 4 KB of notes without a link, from the request to its
// response value and to its answer line. And the link scan on one notes text full of "https://" candidates
// that name no meeting service, at 256 KB and 1 MB: linear time makes the
// second four times the first (the BigO line below fits N).

#include <benchmark/benchmark.h>

#include <string>

#include "calendar/join_url.hpp"
#include "listener/commands.hpp"
#include "platform/sim/calendar_world.hpp"
#include "protocol/json.hpp"

namespace {

using namespace ombri;

constexpr int kEvents = 10000;
constexpr int kAttendees = 50;
constexpr std::size_t kNotesBytes = 4096;

sim::CalendarWorldSpec large_calendar() {
  sim::CalendarWorldSpec spec;
  spec.authorization = eventkit::EKAuthorizationStatusFullAccess;
  const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  std::string notes;
  while (notes.size() < kNotesBytes) notes += "Agenda item, owner and a few words of background. ";
  notes.resize(kNotesBytes);
  for (int i = 0; i < kEvents; ++i) {
    eventkit::Event event;
    event.event_identifier = "event-" + std::to_string(i);
    event.title = "Meeting " + std::to_string(i);
    // Spread over the window, in no order of start.
    event.start_date = {now + static_cast<double>((i * 7919) % 36000)};
    event.end_date = {event.start_date.time_interval_since_1970 + 1800};
    event.location = "Room " + std::to_string(i % 40);
    event.notes = notes;
    event.organizer =
        eventkit::Participant{"Organizer " + std::to_string(i % 97), eventkit::EKParticipantStatusAccepted};
    event.attendees.emplace();
    for (int a = 0; a < kAttendees; ++a)
      event.attendees->push_back({"Attendee " + std::to_string(a), a % 3 == 0 ? eventkit::EKParticipantStatusAccepted
                                                                              : eventkit::EKParticipantStatusPending});
    event.calendar = eventkit::Calendar{"Work", eventkit::Color{{{0.2, 0.4, 0.6, 1.0}}}};
    spec.events.push_back(std::move(event));
  }
  return spec;
}

// The command's handling alone, then with the answer line written: the
// second is what one request costs the listener before the pipe.
void calendar_events(benchmark::State& state, bool write_line) {
  sim::ScopedCalendarWorld world(large_calendar());
  const Json request = Json::parse(R"({"id":"e","cmd":"calendarEvents","args":{"hoursForward":24}})");
  RuntimeState runtime(std::nullopt);
  std::size_t events = 0;
  std::size_t line_bytes = 0;
  for (auto _ : state) {
    CommandOutcome outcome;
    handle_command(outcome, request, runtime);
    events = outcome.response["result"]["events"].size();
    if (write_line) line_bytes = to_json_text(outcome.response).size();
  }
  if (events != kEvents) state.SkipWithError("not every event was listed");
  state.counters["events"] = static_cast<double>(events);
  if (write_line) state.counters["line_MB"] = static_cast<double>(line_bytes) / 1e6;
}

void BM_CalendarEventsHandling(benchmark::State& state) { calendar_events(state, false); }
void BM_CalendarEventsRequest(benchmark::State& state) { calendar_events(state, true); }

// Candidates back to back, then some separated by blanks: no listed domain anywhere.
std::string candidates(std::size_t bytes) {
  std::string text;
  while (text.size() < bytes) text += (text.size() / 4096) % 2 ? "https://example.com/a " : "https://example.com/b";
  text.resize(bytes);
  return text;
}

void BM_LinkScan(benchmark::State& state) {
  const std::string notes = candidates(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto link = find_join_url({std::nullopt, "Room 4", notes});
    if (link) state.SkipWithError("found a link in text that has none");
    benchmark::DoNotOptimize(link);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_CalendarEventsHandling)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_CalendarEventsRequest)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_LinkScan)
    ->Arg(256 << 10)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MinTime(1.0)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
