#pragma once
// The global operator new of the out-of-memory tests, which a test can make
// fail: while a RefuseAllocations lives, every allocation of its size or more
// throws std::bad_alloc, on any thread.

#include <cstddef>

namespace ombri::test {

class RefuseAllocations {
 public:
  explicit RefuseAllocations(std::size_t from_size);
  ~RefuseAllocations();
  RefuseAllocations(const RefuseAllocations&) = delete;
  RefuseAllocations& operator=(const RefuseAllocations&) = delete;
};

}  // namespace ombri::test
