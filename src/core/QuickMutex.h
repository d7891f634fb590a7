#pragma once

#include <mutex>

namespace ThreadSafe {

// The lock that guards the reference counts of one shared object.
class QuickMutex {
 public:
  QuickMutex() = default;
  QuickMutex(const QuickMutex&) = delete;
  QuickMutex& operator=(const QuickMutex&) = delete;

  void Lock() {
    m_Mutex.lock();
    m_bLocked = true;
  }

  void Unlock() {
    m_bLocked = false;
    m_Mutex.unlock();
  }

 private:
  std::mutex m_Mutex;
  bool m_bLocked = false;
};

}  // namespace ThreadSafe
