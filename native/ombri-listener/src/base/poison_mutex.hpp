#pragma once
// A mutex around a value that marks itself poisoned when a thread leaves the
// locked section by an exception, so later holders can tell the guarded value
// may be half-updated.

#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

namespace ombri {

template <class T>
class PoisonMutex {
 public:
  class Guard {
   public:
    Guard(PoisonMutex& owner, std::unique_lock<std::mutex> lock)
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
    std::unique_lock<std::mutex> lock_;
    int exceptions_;
  };

  PoisonMutex() = default;
  explicit PoisonMutex(T value) : value_(std::move(value)) {}

  Guard lock() { return Guard(*this, std::unique_lock<std::mutex>(mutex_)); }
  // Nothing when another thread holds the lock.
  std::optional<Guard> try_lock() {
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) return std::nullopt;
    return Guard(*this, std::move(lock));
  }

 private:
  std::mutex mutex_;
  std::atomic<bool> poisoned_{false};
  T value_{};
};

}  // namespace ombri
