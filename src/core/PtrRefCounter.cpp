#include "core/PtrRefCounter.h"

namespace ReferenceCountedSmartPointer {

bool PtrRefCounter::IsActive() {
  return GetActiveCount() != 0;
}

bool PtrRefCounter::ShouldThisObjectBeDeleted() {
  m_pMutex.Lock();
  const bool unused = m_uActiveCount == 0 && m_uInactiveCount == 0;
  m_pMutex.Unlock();
  return unused;
}

std::uint64_t PtrRefCounter::GetActiveCount() {
  m_pMutex.Lock();
  const std::uint64_t count = m_uActiveCount;
  m_pMutex.Unlock();
  return count;
}

}  // namespace ReferenceCountedSmartPointer
