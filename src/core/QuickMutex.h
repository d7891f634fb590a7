#pragma once

#include <sys/single_threaded.h>

#include <atomic>

namespace ThreadSafe {

// The lock that guards the reference counts of one shared object: an inline spin lock on one
// flag. The kernel runs on one thread, and while the process has only that thread nothing can
// contend for the lock, so taking it then skips the atomic exchange (as the C++ library does for
// its own shared pointers). The thread that starts a second thread is never inside a lock at that
// moment, so every lock taken without the exchange is released before anyone else can take it.
class QuickMutex {
 public:
  QuickMutex() = default;
  QuickMutex(const QuickMutex&) = delete;
  QuickMutex& operator=(const QuickMutex&) = delete;

  void Lock() {
    if (!__libc_single_threaded) {
      while (m_Flag.test_and_set(std::memory_order_acquire)) {
        while (m_Flag.test(std::memory_order_relaxed)) {
        }
      }
    }
    m_bLocked = true;
  }

  void Unlock() {
    m_bLocked = false;
    m_Flag.clear(std::memory_order_release);
  }

 private:
  std::atomic_flag m_Flag;
  bool m_bLocked = false;
};

}  // namespace ThreadSafe
