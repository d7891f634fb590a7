#include "core/SmallObjectPool.h"

#include <mutex>

namespace {

// Slabs are chained through their first word, which keeps every slab reachable: the leak checker
// then counts pooled memory as held, as it is.
struct Slab {
  Slab* next;
};
constexpr std::size_t kSlabBytes = 16384;
constexpr std::size_t kSlabHeader = 16;  // keeps the slots on 16-byte boundaries

std::mutex slabsLock;
Slab* slabs = nullptr;

}  // namespace

void* SmallObjectPool::carve(std::size_t c) {
  const std::size_t size = c * kWord;
  if (unused[c] == nullptr || static_cast<std::size_t>(unusedEnd[c] - unused[c]) < size) {
    char* raw = static_cast<char*>(::operator new(kSlabBytes));
    {
      const std::lock_guard<std::mutex> lock(slabsLock);
      reinterpret_cast<Slab*>(raw)->next = slabs;
      slabs = reinterpret_cast<Slab*>(raw);
    }
    unused[c] = raw + kSlabHeader;
    unusedEnd[c] = raw + kSlabBytes;
    VUDI_POOL_POISON(unused[c], kSlabBytes - kSlabHeader);
  }
  void* slot = unused[c];
  unused[c] += size;
  VUDI_POOL_UNPOISON(slot, size);
  return slot;
}
