#pragma once
// Asking the user, through the system, for full access to calendar events.

#include <chrono>

namespace ombri {

inline constexpr std::chrono::milliseconds kAccessAnswerWait = std::chrono::seconds(60);

// True only when the store answers within `wait` that full access is
// granted; false for a refusal, for no answer in time and for a store that
// drops the request unanswered. An error handed with the answer is ignored:
// the granted flag alone decides. An answer that comes after the wait is
// dropped; the authorization it gives is seen by later status reads.
// Blocks the calling thread for at most `wait`.
bool request_access(std::chrono::milliseconds wait = kAccessAnswerWait);

}  // namespace ombri
