#pragma once
// The one lock around the process's standard output, and the writing of one
// protocol line under it.
//
// Thread-safe: the main thread and the stdout writer thread share it, and a
// line is written, flushed and only then unlocked, so lines never interleave.

#include <cstdio>
#include <memory>

#include "base/poison_mutex.hpp"
#include "base/result.hpp"
#include "protocol/json.hpp"

namespace ombri {

// The stream behind the lock: standard output, or in tests any stream.
struct StdoutSlot {
  std::FILE* stream = stdout;
};
using SharedStdout = std::shared_ptr<PoisonMutex<StdoutSlot>>;

SharedStdout make_shared_stdout(std::FILE* stream = stdout);

// Writes one value as one flushed line under the lock; fails with
// "stdout lock poisoned" once a holder failed while holding it.
Result<void> write_response(const SharedStdout& out, const Json& value);

}  // namespace ombri
