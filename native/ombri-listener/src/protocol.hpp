#pragma once
// Protocol lines: the shared standard output, responses, timestamps and the
// outcome of one request.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "json.hpp"
#include "poison_mutex.hpp"
#include "result.hpp"

namespace ombri {

// The one lock around the process's standard output (or, in tests, any stream).
struct StdoutSlot {
  std::FILE* stream = stdout;
};
using SharedStdout = std::shared_ptr<PoisonMutex<StdoutSlot>>;

SharedStdout make_shared_stdout(std::FILE* stream = stdout);

// Writes one value as one flushed line under the lock.
Result<void> write_response(const SharedStdout& out, const Json& value);

Json response_ok(const std::string& id, Json result);
Json response_error(const std::string& id, const std::string& code, const std::string& message);
// The failure envelope without "id", for lines that carry no usable id.
Json response_error_without_id(const std::string& code, const std::string& message);

// "{seconds}.{millis:03}Z" since the Unix epoch; 0.000Z before it.
std::string timestamp_now();
std::string format_timestamp(long long seconds_since_epoch, long long nanoseconds);

struct CommandOutcome {
  std::vector<Json> events;
  // Null: the answer comes later through the event channel.
  Json response;
};

}  // namespace ombri
