#pragma once
// A mutex around a value that marks itself poisoned when a thread leaves the
// locked section by an exception, so later holders can tell the guarded value
// may be half-updated.

#include <atomic>
#include <chrono>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

namespace ombri {

// `Mutex` is std::timed_mutex where a holder must be able to give up waiting.
template <class T, class Mutex = std::mutex>
class PoisonMutex {
 public:
  class Guard {
   public:
    Guard(PoisonMutex& owner, std::unique_lock<Mutex> lock)
        : owner_(&owner), lock_(std::move(lock)), exceptions_(std::uncaught_exceptions()) {}
    Guard(Guard&&) = default;
    ~Guard() {
      if (owner_ && lock_.owns_lock() && std::uncaught_exceptions() > exceptions_)
        owner_->poisoned_.store(true, std::memory_order_relaxed);
    }

    bool poisoned() const { return owner_->poisoned_.load(std::memory_order_relaxed); }
    T& operator*() { return owner_->value_; }
    T* operator->() { return &owner_->value_; }

   private:
    PoisonMutex* owner_;
    std::unique_lock<Mutex> lock_;
    int exceptions_;
  };

  PoisonMutex() = default;
  explicit PoisonMutex(T value) : value_(std::move(value)) {}

  Guard lock() { return Guard(*this, std::unique_lock<Mutex>(mutex_)); }
  // Nothing when the lock is not free within `timeout`.
  std::optional<Guard> try_lock_for(std::chrono::milliseconds timeout) {
    std::unique_lock<Mutex> lock(mutex_, timeout);
    if (!lock.owns_lock()) return std::nullopt;
    return Guard(*this, std::move(lock));
  }

 private:
  Mutex mutex_;
  std::atomic<bool> poisoned_{false};
  T value_{};
};

}  // namespace ombri
