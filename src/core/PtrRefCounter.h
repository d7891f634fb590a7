#pragma once

#include "core/Assert.h"
#include "core/QuickMutex.h"

#include <cstdint>

namespace ReferenceCountedSmartPointer {

// What SubtractActiveRef returns when the count block itself must go.
constexpr int DELETE_REF_COUNTER = 22;

// The count block shared by every Ptr to one object. The active count is 64 bits wide so no number
// of references can wrap it; the inactive count is never raised and only enters the deletion rule.
class PtrRefCounter {
 public:
  PtrRefCounter() = default;
  PtrRefCounter(const PtrRefCounter&) = delete;
  PtrRefCounter& operator=(const PtrRefCounter&) = delete;
  ~PtrRefCounter() = default;

  bool IsActive();
  bool ShouldThisObjectBeDeleted();
  std::uint64_t GetActiveCount();

  // Fails once the object has died, so a late copy cannot revive it.
  bool AddActiveRef() {
    m_pMutex.Lock();
    const bool active = m_uActiveCount != 0;
    if (active) {
      ++m_uActiveCount;
    }
    m_pMutex.Unlock();
    return active;
  }

  // Returns DELETE_REF_COUNTER when object and block are to be deleted, -1 when only the object
  // is, 0 otherwise. The check sits under the lock so two releases cannot both pass it.
  int SubtractActiveRef() {
    m_pMutex.Lock();
    KERNEL_ASSERT(m_uActiveCount > 0);
    --m_uActiveCount;
    int result = 0;
    if (m_uActiveCount == 0) {
      result = m_uInactiveCount == 0 ? DELETE_REF_COUNTER : -1;
    }
    m_pMutex.Unlock();
    return result;
  }

 private:
  std::uint64_t m_uActiveCount = 1;
  std::uint32_t m_uInactiveCount = 0;
  ThreadSafe::QuickMutex m_pMutex;
};

// An object that carries its own count block, so that object and block are one allocation. A Ptr
// to a class derived from it uses this block instead of making one; the block dies with the
// object. A copy of the object starts a block of its own, and assignment leaves the block alone.
class CountedObject {
 public:
  PtrRefCounter* GetEmbeddedRefCounter() const { return &m_refCount; }

 protected:
  CountedObject() = default;
  CountedObject(const CountedObject&) {}
  CountedObject& operator=(const CountedObject&) { return *this; }
  ~CountedObject() = default;

 private:
  mutable PtrRefCounter m_refCount;
};

}  // namespace ReferenceCountedSmartPointer
