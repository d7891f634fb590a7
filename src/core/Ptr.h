#pragma once

#include "core/Assert.h"
#include "core/PtrRefCounter.h"

#include <type_traits>

namespace PtrExceptions {

class DereferencedNULL {};

}  // namespace PtrExceptions

namespace ReferenceCountedSmartPointer {

// Whether objects of type U carry their own count block.
template <class U>
inline constexpr bool EmbeddedBlock = std::is_base_of_v<CountedObject, U>;

// Shared owning pointer: every Ptr to one object shares one count block, and the last one deletes
// the object through its virtual destructor. A raw object is handed to a Ptr once; further owners
// are made by copying a Ptr.
//
// Every change of target installs the new target before the old one is released: releasing may
// destroy the object that holds this Ptr or the Ptr it was assigned from.
//
// An object derived from CountedObject carries its block: a Ptr taking it uses that block, and
// the block goes with the object. Ptrs sharing one object must agree on where its block lives, so
// conversions only go between two such types or two other ones.
template <class T>
class Ptr {
 public:
  Ptr() = default;

  explicit Ptr(T* p) : m_pRawPtr(p), m_pRefCount(p != nullptr ? NewBlock(p) : nullptr) {}

  // Shares block c; a null p leaves c untouched, a null c gives p a block of its own.
  Ptr(T* p, PtrRefCounter* c) {
    if (p == nullptr) {
      return;
    }
    m_pRawPtr = p;
    if (c == nullptr) {
      m_pRefCount = NewBlock(p);
      return;
    }
    m_pRefCount = c;
    AdjustRefCount();
  }

  Ptr(const Ptr& other) : m_pRawPtr(other.m_pRawPtr), m_pRefCount(other.m_pRefCount) {
    AdjustRefCount();
  }

  template <class U>
    requires std::is_convertible_v<U*, T*>
  Ptr(const Ptr<U>& other) : m_pRawPtr(other.GetRawPtr()), m_pRefCount(other.GetRefObject()) {
    static_assert(EmbeddedBlock<U> == EmbeddedBlock<T>,
                  "both types keep the block in the same place");
    AdjustRefCount();
  }

  ~Ptr() { ResetPtr(); }

  Ptr& operator=(const Ptr& other) {
    ReassignSelf(other.m_pRawPtr, other.m_pRefCount);
    return *this;
  }

  template <class U>
    requires std::is_convertible_v<U*, T*>
  Ptr& operator=(const Ptr<U>& other) {
    static_assert(EmbeddedBlock<U> == EmbeddedBlock<T>,
                  "both types keep the block in the same place");
    ReassignSelf(other.GetRawPtr(), other.GetRefObject());
    return *this;
  }

  // Handing over the object already held keeps it and its count as they are.
  Ptr& operator=(T* p) {
    if (p == m_pRawPtr) {
      return *this;
    }
    T* oldRaw = m_pRawPtr;
    PtrRefCounter* oldCount = m_pRefCount;
    m_pRefCount = p != nullptr ? NewBlock(p) : nullptr;
    m_pRawPtr = p;
    Release(oldRaw, oldCount);
    return *this;
  }

  T& operator*() const {
    KERNEL_ASSERT(m_pRawPtr != 0);
    if (m_pRawPtr == nullptr) {
      throw PtrExceptions::DereferencedNULL();
    }
    return *m_pRawPtr;
  }

  T* operator->() const {
    KERNEL_ASSERT(m_pRawPtr != 0);
    if (m_pRawPtr == nullptr) {
      throw PtrExceptions::DereferencedNULL();
    }
    return m_pRawPtr;
  }

  // Only a literal 0 may be compared with: true for a null Ptr.
  bool operator==(int iShouldBeNull) const {
    KERNEL_ASSERT(iShouldBeNull == 0);
    return m_pRawPtr == nullptr;
  }

  template <class U>
  bool operator==(const Ptr<U>& other) const {
    return m_pRawPtr == other.GetRawPtr();
  }

  T* GetRawPtr() const { return m_pRawPtr; }
  PtrRefCounter* GetRefObject() const { return m_pRefCount; }

 private:
  // The block of an object just handed over: its own, or a new one.
  static PtrRefCounter* NewBlock(T* p) {
    if constexpr (EmbeddedBlock<T>) {
      return p->GetEmbeddedRefCounter();
    } else {
      return new PtrRefCounter;
    }
  }

  // Takes a reference in the block just copied; a block whose object has died yields null.
  void AdjustRefCount() {
    if (m_pRefCount != nullptr && !m_pRefCount->AddActiveRef()) {
      m_pRawPtr = nullptr;
      m_pRefCount = nullptr;
    }
  }

  void ResetPtr() {
    T* oldRaw = m_pRawPtr;
    PtrRefCounter* oldCount = m_pRefCount;
    m_pRawPtr = nullptr;
    m_pRefCount = nullptr;
    Release(oldRaw, oldCount);
  }

  void ReassignSelf(T* p, PtrRefCounter* c) {
    if (c == m_pRefCount) {
      return;
    }
    T* oldRaw = m_pRawPtr;
    PtrRefCounter* oldCount = m_pRefCount;
    m_pRawPtr = p;
    m_pRefCount = c;
    AdjustRefCount();
    Release(oldRaw, oldCount);
  }

  // Gives up one reference; the decision is taken under the block's lock, the deletions after it.
  static void Release(T* raw, PtrRefCounter* count) {
    static_assert(std::has_virtual_destructor_v<T>, "Ptr deletes through a virtual destructor");
    if (count == nullptr) {
      return;
    }
    const int result = count->SubtractActiveRef();
    if (result != 0) {
      // An embedded block goes with its object; since nothing raises the inactive count, no block
      // ever has to outlive its object.
      delete raw;
      if (!EmbeddedBlock<T> && result == DELETE_REF_COUNTER) {
        delete count;
      }
    }
  }

  T* m_pRawPtr = nullptr;
  PtrRefCounter* m_pRefCount = nullptr;
};

// The result shares p's block when p holds a T; otherwise it is null and p's count is untouched.
template <class T, class U>
Ptr<T> Dynamic_Cast(const Ptr<U>& p) {
  static_assert(EmbeddedBlock<T> == EmbeddedBlock<U>,
                "both types keep the block in the same place");
  return Ptr<T>(dynamic_cast<T*>(p.GetRawPtr()), p.GetRefObject());
}

}  // namespace ReferenceCountedSmartPointer
