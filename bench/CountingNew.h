#pragma once

// Every allocation of the benchmark program through operator new is counted in `allocations`;
// the arrays and the nothrow forms come here too. Included by one source of a program only.

#include <cstdlib>
#include <new>

#include "core/IntTypes.h"

inline Counter allocations = 0;

// Out of line, so that the compiler does not pair an inlined malloc with a delete.
__attribute__((noinline)) void* operator new(std::size_t bytes) {
  ++allocations;
  if (void* p = std::malloc(bytes != 0 ? bytes : 1)) return p;
  throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }
