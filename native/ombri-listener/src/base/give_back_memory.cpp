#include "base/give_back_memory.hpp"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

// A sanitizer's allocator serves every allocation, so glibc's has nothing to
// give back; and glibc's, never used, would set itself up on this first call,
// which is not safe from two threads at once (it aborts at their exit).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OMBRI_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define OMBRI_SANITIZER_ALLOCATOR 1
#endif
#endif

namespace ombri {

void give_back_freed_memory() {
#if defined(__GLIBC__) && !defined(OMBRI_SANITIZER_ALLOCATOR)
  malloc_trim(0);
#endif
}

}  // namespace ombri
