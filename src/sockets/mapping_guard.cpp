#include "sockets/mapping_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace {

// A process holds a listener or a connection or two; the table is read by the handler without a
// lock, so it cannot grow.
constexpr int kSlots = 256;

struct guarded {
  std::atomic<uintptr_t> base{0};  // 0: a free slot
  std::atomic<size_t> size{0};
  std::atomic<bool> struck{false};
};

guarded slots[kSlots];
std::mutex slots_lock;  // between add and remove; the handler never takes it
struct sigaction previous {};

static_assert(std::atomic<uintptr_t>::is_always_lock_free &&
              std::atomic<size_t>::is_always_lock_free);

void pass_on(int signal, siginfo_t* info, void* context) {
  if ((previous.sa_flags & SA_SIGINFO) != 0) {
    previous.sa_sigaction(signal, info, context);
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
  } else {
    // A fault repeats once the handler returns and then meets the default action; a signal that
    // was sent is sent again.
    sigaction(SIGBUS, &previous, nullptr);
    if (info->si_code <= 0) {
      raise(SIGBUS);
    }
  }
}

void on_sigbus(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (guarded& slot : slots) {
    const uintptr_t base = slot.base.load(std::memory_order_acquire);
    if (info->si_code <= 0 || base == 0 || address - base >= slot.size.load()) {
      continue;
    }
    // The system call itself, which is safe in a handler, unlike a library wrapper that may be
    // intercepted.
    const long laid = syscall(SYS_mmap, base, slot.size.load(), PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (laid != -1) {
      slot.struck.store(true);
      return;
    }
    break;
  }
  pass_on(signal, info, context);
}

void install() {
  struct sigaction action {};
  action.sa_sigaction = on_sigbus;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &previous);
}

}  // namespace

int mapping_guard::add(void* base, size_t size) {
  static std::once_flag installed;
  std::call_once(installed, install);
  const std::lock_guard<std::mutex> hold(slots_lock);
  for (int i = 0; i < kSlots; ++i) {
    if (slots[i].base.load() == 0) {
      slots[i].size.store(size);
      slots[i].struck.store(false);
      slots[i].base.store(reinterpret_cast<uintptr_t>(base), std::memory_order_release);
      return i;
    }
  }
  return -1;
}

void mapping_guard::remove(int slot) {
  if (slot >= 0) {
    const std::lock_guard<std::mutex> hold(slots_lock);
    slots[slot].base.store(0);
  }
}

bool mapping_guard::struck(int slot) {
  return slot >= 0 && slots[slot].struck.load(std::memory_order_relaxed);
}
