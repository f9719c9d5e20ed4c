#include "base/give_back_memory.hpp"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace ombri {

void give_back_freed_memory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace ombri
