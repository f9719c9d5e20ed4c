#include "refused_allocations.hpp"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

namespace {
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
std::atomic<std::size_t> refused_from{kNone};
}  // namespace

void* operator new(std::size_t size) {
  if (size >= refused_from.load(std::memory_order_relaxed)) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace ombri::test {

RefuseAllocations::RefuseAllocations(std::size_t from_size) { refused_from.store(from_size); }
RefuseAllocations::~RefuseAllocations() { refused_from.store(kNone); }

}  // namespace ombri::test
