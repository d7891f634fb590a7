#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define VUDI_POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define VUDI_POOL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define VUDI_POOL_POISON(p, n) static_cast<void>(0)
#define VUDI_POOL_UNPOISON(p, n) static_cast<void>(0)
#endif

// The kernel's small objects (bindings, event-set and token-list nodes, tokens) are made and
// dropped several times per event, and the net's places, transitions and measures at every
// rebuild of the net; a free list per size class serves them without the general allocator. Sizes
// are rounded up to whole words: an object whose size is a multiple of 16 lands on a 16-byte
// boundary, and any other has no stricter alignment than 8, so every object of the fundamental
// alignments fits. Larger requests go to operator new.
//
// Each thread has its own free lists, so no lock is taken; an object freed by another thread than
// the one that made it simply joins that thread's lists. Memory once taken for the pool stays
// with it (reachable from a list of slabs) and is reused, never returned.
class SmallObjectPool {
 public:
  static constexpr std::size_t kWord = 8;
  static constexpr std::size_t kLargest = 1024;

  static void* allocate(std::size_t bytes) {
    if (bytes > kLargest) return ::operator new(bytes);
    const std::size_t c = sizeClass(bytes);
    Slot* slot = freeLists[c];
    if (slot == nullptr) return carve(c);
    VUDI_POOL_UNPOISON(slot, c * kWord);
    freeLists[c] = slot->next;
    return slot;
  }

  // `bytes` must be the size the object was allocated with.
  static void deallocate(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    if (bytes > kLargest) {
      ::operator delete(p);
      return;
    }
    const std::size_t c = sizeClass(bytes);
    Slot* slot = static_cast<Slot*>(p);
    slot->next = freeLists[c];
    freeLists[c] = slot;
    VUDI_POOL_POISON(slot, c * kWord);
  }

 private:
  struct Slot {
    Slot* next;
  };
  static constexpr std::size_t kClasses = kLargest / kWord + 1;

  static std::size_t sizeClass(std::size_t bytes) {
    return bytes == 0 ? 1 : (bytes + kWord - 1) / kWord;
  }
  // A slot from the unused end of this thread's slab of the class, after a new slab if needed.
  static void* carve(std::size_t c);

  static inline thread_local Slot* freeLists[kClasses] = {};
  static inline thread_local char* unused[kClasses] = {};
  static inline thread_local char* unusedEnd[kClasses] = {};
};

// A standard allocator drawing from the pool; stateless, so containers of it stay as small as
// with std::allocator.
template <class T>
struct PoolAllocator {
  using value_type = T;

  PoolAllocator() = default;
  template <class U>
  PoolAllocator(const PoolAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if constexpr (alignof(T) > 16) {
      return std::allocator<T>().allocate(n);
    } else {
      if (n > std::numeric_limits<std::size_t>::max() / sizeof(T))
        throw std::bad_array_new_length();
      return static_cast<T*>(SmallObjectPool::allocate(n * sizeof(T)));
    }
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if constexpr (alignof(T) > 16) {
      std::allocator<T>().deallocate(p, n);
    } else {
      SmallObjectPool::deallocate(p, n * sizeof(T));
    }
  }

  template <class U>
  bool operator==(const PoolAllocator<U>&) const noexcept {
    return true;
  }
};

// Class-scope operator new and delete from the pool, for a class whose objects are made with new.
// A class with a virtual destructor gets the size of the object's own class on deletion.
#define VUDI_POOLED_NEW                                                                     \
  static void* operator new(std::size_t bytes) { return SmallObjectPool::allocate(bytes); } \
  static void operator delete(void* p, std::size_t bytes) noexcept {                        \
    SmallObjectPool::deallocate(p, bytes);                                                  \
  }                                                                                         \
  static void* operator new(std::size_t bytes, std::align_val_t a) {                        \
    return ::operator new(bytes, a);                                                        \
  }                                                                                         \
  static void operator delete(void* p, std::size_t, std::align_val_t a) noexcept {          \
    ::operator delete(p, a);                                                                \
  }
