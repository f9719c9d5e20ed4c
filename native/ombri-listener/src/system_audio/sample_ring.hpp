#pragma once
// The lock-free ring of single-precision samples between the tap IO callback
// (its only writer) and the drain thread (its only reader).
//
// Each end publishes its position with a release store and reads the other's
// with an acquire load; neither end locks, allocates or makes a system call.
// An end may be used by one thread at a time; the two ends on two threads.

#include <boost/lockfree/policies.hpp>
#include <boost/lockfree/spsc_queue.hpp>
#include <cstddef>
#include <memory>

namespace ombri {

// About 21.8 seconds of 48 kHz mono.
inline constexpr std::size_t kSampleRingCapacity = 1'048'576;

// Writes storage once as it allocates it, so every page is resident from the
// start. Left untouched, the kernel would commit the pages one by one as the
// writer first reaches them: the process would grow through the ring's first
// pass (4 MiB over 21.8 s at 48 kHz), each time with a page fault on the
// real-time IO thread.
template <class T>
struct ResidentAllocator {
  using value_type = T;

  ResidentAllocator() = default;
  template <class U>
  ResidentAllocator(const ResidentAllocator<U>&) {}

  T* allocate(std::size_t n) {
    T* storage = std::allocator<T>().allocate(n);
    std::uninitialized_value_construct_n(storage, n);
    return storage;
  }
  void deallocate(T* storage, std::size_t n) { std::allocator<T>().deallocate(storage, n); }

  friend bool operator==(const ResidentAllocator&, const ResidentAllocator&) { return true; }
};

using SampleQueue = boost::lockfree::spsc_queue<float, boost::lockfree::allocator<ResidentAllocator<float>>>;

class RingProducer {
 public:
  explicit RingProducer(std::shared_ptr<SampleQueue> queue) : queue_(std::move(queue)) {}

  // Copies as many of the `count` samples as there is room for, from the first
  // on; the rest is dropped and what the ring already holds stays. Returns the
  // number taken.
  std::size_t push(const float* samples, std::size_t count) { return queue_->push(samples, count); }

  // Room for this many samples at least (the reader only ever frees more).
  std::size_t free_space() const { return queue_->write_available(); }

 private:
  std::shared_ptr<SampleQueue> queue_;
};

class RingConsumer {
 public:
  explicit RingConsumer(std::shared_ptr<SampleQueue> queue) : queue_(std::move(queue)) {}

  // Moves up to `max` of the oldest samples into `out`; returns how many.
  std::size_t pop(float* out, std::size_t max) { return queue_->pop(out, max); }

 private:
  std::shared_ptr<SampleQueue> queue_;
};

struct SampleRing {
  RingProducer producer;
  RingConsumer consumer;
};

// An empty ring of `capacity` samples (its storage is allocated here), split into its ends.
SampleRing make_sample_ring(std::size_t capacity = kSampleRingCapacity);

}  // namespace ombri
