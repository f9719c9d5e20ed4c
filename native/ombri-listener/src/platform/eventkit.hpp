#pragma once
// The calendar store: authorization for events, the full-access request
// whose answer arrives later on a thread of the store, and the events of a
// time window over all calendars. A query can raise PlatformException.

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ombri::eventkit {

enum EKEntityType : std::uint64_t { EKEntityTypeEvent = 0, EKEntityTypeReminder = 1 };

enum EKAuthorizationStatus : std::int64_t {
  EKAuthorizationStatusNotDetermined = 0,
  EKAuthorizationStatusRestricted = 1,
  EKAuthorizationStatusDenied = 2,
  EKAuthorizationStatusFullAccess = 3,
  EKAuthorizationStatusWriteOnly = 4,
};

enum EKParticipantStatus : std::int64_t {
  EKParticipantStatusUnknown = 0,
  EKParticipantStatusPending = 1,
  EKParticipantStatusAccepted = 2,
  EKParticipantStatusDeclined = 3,
  EKParticipantStatusTentative = 4,
  EKParticipantStatusDelegated = 5,
  EKParticipantStatusCompleted = 6,
  EKParticipantStatusInProcess = 7,
};

struct Date {
  double time_interval_since_1970;  // may be NaN
};

// A calendar colour's components in its own colour space, any number of
// them; nothing stands for a null components pointer.
struct Color {
  std::optional<std::vector<double>> components;
};

struct Calendar {
  std::string title;
  std::optional<Color> cg_color;
};

struct Participant {
  std::optional<std::string> name;
  EKParticipantStatus participant_status = EKParticipantStatusUnknown;
};

struct Url {
  std::optional<std::string> absolute_string;
};

// Absent optionals are nil.
struct Event {
  std::optional<std::string> event_identifier;
  std::optional<std::string> title;
  Date start_date{0.0};
  Date end_date{0.0};
  bool is_all_day = false;
  std::optional<std::string> location;
  std::optional<std::string> notes;
  std::optional<Url> url;
  std::optional<Participant> organizer;
  std::optional<std::vector<Participant>> attendees;
  std::optional<Calendar> calendar;
};

// What the platform raises from inside a query.
class PlatformException : public std::exception {
 public:
  explicit PlatformException(std::string reason) : reason_(std::move(reason)) {}
  const char* what() const noexcept override { return reason_.c_str(); }

 private:
  std::string reason_;
};

struct Predicate {
  Date start;
  Date end;
};

// Called once, on a thread of the store, with the decision and an error description or nothing.
using AccessCompletion = std::function<void(bool granted, std::optional<std::string> error)>;

class EventStore {
 public:
  static EKAuthorizationStatus authorization_status_for_entity_type(EKEntityType type);

  // Returns at once. The completion may come late or never.
  void request_full_access_to_events(AccessCompletion completion);

  // Over all calendars. Both can raise PlatformException.
  Predicate predicate_for_events(Date start, Date end) const;
  // The events that overlap the window, in the store's order.
  std::vector<Event> events_matching(const Predicate& predicate) const;
};

}  // namespace ombri::eventkit
