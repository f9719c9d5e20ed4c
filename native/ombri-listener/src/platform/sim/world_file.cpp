#include "platform/sim/world_file.hpp"

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <sstream>

namespace ombri::sim {

namespace {

using eventkit::Event;

struct BadWorld {
  std::string text;
};

[[noreturn]] void bad(const std::string& where, const std::string& what) { throw BadWorld{where + ": " + what}; }

// Reads one JSON object and refuses keys it does not know, so a typo in a
// world file is an error rather than a silently different world.
class Fields {
 public:
  Fields(const Json& object, std::string where, std::set<std::string> known)
      : object_(object), where_(std::move(where)) {
    if (!object.is_object()) bad(where_, "expected an object");
    for (const auto& [key, value] : object.items())
      if (!known.count(key)) bad(where_, fmt::format("unknown key \"{}\"", key));
  }

  const std::string& where() const { return where_; }
  const Json* find(const char* key) const {
    auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
  }
  std::string at(const char* key) const { return where_ + "." + key; }

  std::optional<std::string> text(const char* key) const {
    const Json* value = find(key);
    if (!value || value->is_null()) return std::nullopt;
    if (!value->is_string()) bad(at(key), "expected a string or null");
    return value->get<std::string>();
  }
  double number(const char* key, double fallback) const {
    const Json* value = find(key);
    return value ? number_value(*value, at(key)) : fallback;
  }
  bool flag(const char* key, bool fallback) const {
    const Json* value = find(key);
    if (!value) return fallback;
    if (!value->is_boolean()) bad(at(key), "expected true or false");
    return value->get<bool>();
  }

  // A number, or "nan", "inf", "-inf" for what JSON cannot write.
  static double number_value(const Json& value, const std::string& where) {
    if (value.is_number()) return value.get<double>();
    if (value.is_string()) {
      const auto text = value.get<std::string>();
      if (text == "nan") return std::numeric_limits<double>::quiet_NaN();
      if (text == "inf") return std::numeric_limits<double>::infinity();
      if (text == "-inf") return -std::numeric_limits<double>::infinity();
    }
    bad(where, "expected a number, \"nan\", \"inf\" or \"-inf\"");
  }

 private:
  const Json& object_;
  std::string where_;
};

template <class T>
T choice(const std::string& where, const std::string& text, std::initializer_list<std::pair<const char*, T>> options) {
  std::string names;
  for (const auto& [name, value] : options) {
    if (text == name) return value;
    names += names.empty() ? name : std::string(", ") + name;
  }
  bad(where, fmt::format("\"{}\" is not one of {}", text, names));
}

std::uint32_t whole(double value, const std::string& where, double min, double max) {
  if (!(value >= min && value <= max) || value != std::floor(value))
    bad(where, fmt::format("expected a whole number from {} to {}", min, max));
  return static_cast<std::uint32_t>(value);
}

AudioStreamBasicDescription stream_format(const Json& json, const std::string& where) {
  Fields f(json, where, {"rate", "channels", "sample"});
  const double rate = f.number("rate", 48000.0);
  const std::uint32_t channels = whole(f.number("channels", 1.0), f.at("channels"), 1, 64);
  const auto kind = choice<platform::PcmKind>(f.at("sample"), f.text("sample").value_or("f32"),
                                              {{"f32", platform::PcmKind::F32},
                                               {"f64", platform::PcmKind::F64},
                                               {"i16", platform::PcmKind::I16},
                                               {"i32", platform::PcmKind::I32},
                                               {"u16", platform::PcmKind::U16},
                                               {"i24", platform::PcmKind::Other}});
  return platform::pcm_format(rate, channels, kind);
}

std::optional<AudioStreamBasicDescription> optional_format(const Fields& f, const char* key) {
  const Json* value = f.find(key);
  if (!value || value->is_null()) return std::nullopt;
  return stream_format(*value, f.at(key));
}

Signal signal(const Json* json, const std::string& where, const std::string& base_dir) {
  if (!json) return Silence{};
  Fields f(*json, where, {"kind", "frequency", "amplitude", "values", "loop", "path"});
  const std::string kind = f.text("kind").value_or("");
  if (kind == "silence") return Silence{};
  if (kind == "tone") return Tone{f.number("frequency", 440.0), f.number("amplitude", 0.25)};
  if (kind == "samples") {
    const Json* values = f.find("values");
    if (!values || !values->is_array()) bad(f.at("values"), "expected an array");
    Samples samples{{}, f.flag("loop", false)};
    for (const Json& value : *values)
      samples.values.push_back(static_cast<float>(Fields::number_value(value, f.at("values"))));
    return samples;
  }
  if (kind == "wav") {
    std::string path = f.text("path").value_or("");
    if (path.empty()) bad(f.at("path"), "expected the path of a WAV file");
    if (path.front() != '/') path = base_dir + "/" + path;
    auto loaded = wav_signal(path, f.flag("loop", false));
    if (!loaded) bad(f.at("path"), loaded.error());
    return std::move(*loaded);
  }
  bad(f.at("kind"), "expected \"silence\", \"tone\", \"samples\" or \"wav\"");
}

std::uint32_t transport(const std::string& code, const std::string& where) {
  if (code.empty() || code.size() > 4) bad(where, "expected a code of one to four characters, such as \"bltn\"");
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | std::uint8_t(i < code.size() ? code[i] : ' ');
  return value;
}

DeviceSpec device(const Json& json, const std::string& where, const std::string& base_dir) {
  Fields f(json, where,
           {"uid", "name", "transport", "input", "output", "bufferFrames", "alive", "runningSomewhere", "signal"});
  DeviceSpec spec;
  spec.uid = f.text("uid").value_or("");
  if (spec.uid.empty()) bad(f.at("uid"), "every device needs a uid");
  const Json* name = f.find("name");
  spec.name = name ? f.text("name") : hal::StringRef(spec.uid);
  spec.transport = transport(f.text("transport").value_or("bltn"), f.at("transport"));
  spec.input = optional_format(f, "input");
  spec.output = optional_format(f, "output");
  spec.buffer_frames = whole(f.number("bufferFrames", 512.0), f.at("bufferFrames"), 1, 4096);
  spec.alive = f.flag("alive", true);
  spec.running_somewhere = f.flag("runningSomewhere", false);
  spec.signal = signal(f.find("signal"), f.at("signal"), base_dir);
  return spec;
}

Result<Json> read_json_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return ErrorText{"cannot be read"};
  Json json = Json::parse(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), nullptr,
                          /*allow_exceptions=*/false);
  if (json.is_discarded()) return ErrorText{"not valid JSON"};
  return json;
}

std::string directory_of(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// ---- calendar ----

eventkit::EKParticipantStatus participant_status(const Fields& f) {
  using namespace eventkit;
  return choice<EKParticipantStatus>(f.at("status"), f.text("status").value_or("unknown"),
                                     {{"unknown", EKParticipantStatusUnknown},
                                      {"pending", EKParticipantStatusPending},
                                      {"accepted", EKParticipantStatusAccepted},
                                      {"declined", EKParticipantStatusDeclined},
                                      {"tentative", EKParticipantStatusTentative},
                                      {"delegated", EKParticipantStatusDelegated},
                                      {"completed", EKParticipantStatusCompleted},
                                      {"inProcess", EKParticipantStatusInProcess}});
}

eventkit::Participant participant(const Json& json, const std::string& where) {
  Fields f(json, where, {"name", "status"});
  return {f.text("name"), participant_status(f)};
}

eventkit::Calendar calendar(const Json& json, const std::string& where) {
  Fields f(json, where, {"title", "color"});
  eventkit::Calendar result{f.text("title").value_or(""), std::nullopt};
  if (const Json* color = f.find("color"); color && !color->is_null()) {
    // An array gives the components; {"components": null} a colour without them.
    eventkit::Color value;
    if (color->is_array()) {
      value.components.emplace();
      for (const Json& c : *color) value.components->push_back(Fields::number_value(c, f.at("color")));
    } else {
      Fields colour_fields(*color, f.at("color"), {"components"});
      if (const Json* c = colour_fields.find("components"); c && !c->is_null())
        bad(f.at("color"), "give components as an array");
    }
    result.cg_color = std::move(value);
  }
  return result;
}

Event event(const Json& json, const std::string& where, double now) {
  Fields f(json, where,
           {"id", "title", "startsInMinutes", "endsInMinutes", "allDay", "location", "notes", "url", "organizer",
            "attendees", "calendar"});
  Event e;
  e.event_identifier = f.text("id");
  e.title = f.text("title");
  const double starts = f.number("startsInMinutes", 0.0);
  e.start_date = {now + starts * 60.0};
  e.end_date = {now + f.number("endsInMinutes", starts + 30.0) * 60.0};
  e.is_all_day = f.flag("allDay", false);
  e.location = f.text("location");
  e.notes = f.text("notes");
  if (const Json* url = f.find("url"); url && !url->is_null()) e.url = eventkit::Url{f.text("url")};
  if (const Json* organizer = f.find("organizer"); organizer && !organizer->is_null())
    e.organizer = participant(*organizer, f.at("organizer"));
  if (const Json* attendees = f.find("attendees"); attendees && !attendees->is_null()) {
    if (!attendees->is_array()) bad(f.at("attendees"), "expected an array or null");
    e.attendees.emplace();
    for (const Json& a : *attendees) e.attendees->push_back(participant(a, f.at("attendees")));
  }
  if (const Json* cal = f.find("calendar"); cal && !cal->is_null()) e.calendar = calendar(*cal, f.at("calendar"));
  return e;
}

}  // namespace

Result<AudioWorldSpec> audio_world_from_json(const Json& world, const std::string& base_dir) {
  try {
    Fields f(world, "world", {"devices", "defaultInput", "defaultOutput", "tap"});
    AudioWorldSpec spec;
    if (const Json* devices = f.find("devices")) {
      if (!devices->is_array()) bad(f.at("devices"), "expected an array");
      std::set<std::string> uids;
      for (std::size_t i = 0; i < devices->size(); ++i) {
        spec.devices.push_back(device((*devices)[i], fmt::format("{}[{}]", f.at("devices"), i), base_dir));
        if (!uids.insert(spec.devices.back().uid).second)
          bad(f.at("devices"), "uid \"" + spec.devices.back().uid + "\" is used twice");
      }
      for (const char* key : {"defaultInput", "defaultOutput"}) {
        const auto uid = f.text(key);
        if (uid && !uids.count(*uid)) bad(f.at(key), "no device has the uid \"" + *uid + "\"");
      }
    }
    spec.default_input = f.text("defaultInput");
    spec.default_output = f.text("defaultOutput");
    if (const Json* tap = f.find("tap")) {
      Fields t(*tap, f.at("tap"), {"rate", "channels", "sample", "bufferFrames", "signal"});
      Json format = Json::object();
      for (const char* key : {"rate", "channels", "sample"})
        if (const Json* value = t.find(key)) format[key] = *value;
      spec.tap.format = stream_format(format, t.where());
      spec.tap.buffer_frames = whole(t.number("bufferFrames", 512.0), t.at("bufferFrames"), 1, 4096);
      spec.tap.signal = signal(t.find("signal"), t.at("signal"), base_dir);
    }
    return spec;
  } catch (const BadWorld& failure) {
    return ErrorText{failure.text};
  }
}

Result<AudioWorldSpec> load_audio_world_file(const std::string& path) {
  auto json = read_json_file(path);
  if (!json) return ErrorText{json.error()};
  return audio_world_from_json(*json, directory_of(path));
}

Result<CalendarWorldSpec> calendar_world_from_json(const Json& world, double now) {
  using namespace eventkit;
  try {
    Fields f(world, "calendar", {"authorization", "answer", "raise", "events"});
    CalendarWorldSpec spec;
    spec.authorization =
        choice<EKAuthorizationStatus>(f.at("authorization"), f.text("authorization").value_or("notDetermined"),
                                      {{"notDetermined", EKAuthorizationStatusNotDetermined},
                                       {"restricted", EKAuthorizationStatusRestricted},
                                       {"denied", EKAuthorizationStatusDenied},
                                       {"fullAccess", EKAuthorizationStatusFullAccess},
                                       {"writeOnly", EKAuthorizationStatusWriteOnly}});
    if (const Json* answer = f.find("answer")) {
      Fields a(*answer, f.at("answer"), {"decision", "delaySeconds", "error"});
      spec.answer.decision = choice<AccessAnswer::Decision>(a.at("decision"), a.text("decision").value_or("grant"),
                                                            {{"grant", AccessAnswer::Decision::Grant},
                                                             {"deny", AccessAnswer::Decision::Deny},
                                                             {"never", AccessAnswer::Decision::Never}});
      const double delay = a.number("delaySeconds", 0.0);
      if (!(delay >= 0.0 && delay <= 86400.0)) bad(a.at("delaySeconds"), "expected seconds from 0 to 86400");
      spec.answer.delay = std::chrono::milliseconds(std::llround(delay * 1000.0));
      spec.answer.error = a.text("error");
    }
    spec.raise = choice<QueryRaise>(
        f.at("raise"), f.text("raise").value_or("none"),
        {{"none", QueryRaise::None}, {"predicate", QueryRaise::Predicate}, {"query", QueryRaise::Query}});
    if (const Json* events = f.find("events")) {
      if (!events->is_array()) bad(f.at("events"), "expected an array");
      for (std::size_t i = 0; i < events->size(); ++i)
        spec.events.push_back(event((*events)[i], fmt::format("{}[{}]", f.at("events"), i), now));
    }
    return spec;
  } catch (const BadWorld& failure) {
    return ErrorText{failure.text};
  }
}

Result<CalendarWorldSpec> load_calendar_world_file(const std::string& path) {
  auto json = read_json_file(path);
  if (!json) return ErrorText{json.error()};
  const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  return calendar_world_from_json(*json, now);
}

}  // namespace ombri::sim
