#include "sockets/task.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>
#include <type_traits>

#include "sockets/console.h"

namespace {

struct start_info {
  task::fptr routine;
  void* arg;
  task::priority pri;
};

// Niceness added per priority step away from normal.
constexpr int kNicePerStep = 5;

void* run(void* info_ptr) {
  start_info info = *static_cast<start_info*>(info_ptr);
  delete static_cast<start_info*>(info_ptr);
  if (info.pri != task::pri_normal) {
    // Threads of the normal scheduler differ only in niceness, which Linux keeps per thread.
    // Raising it above the process's needs privileges; without them the thread runs at normal.
    int nice = getpriority(PRIO_PROCESS, 0) + (task::pri_normal - info.pri) * kNicePerStep;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
  }
  info.routine(info.arg);
  return nullptr;
}

task* as_task(pthread_t id) {
  if constexpr (std::is_pointer_v<pthread_t>) {
    return reinterpret_cast<task*>(id);
  } else {
    return reinterpret_cast<task*>(static_cast<std::uintptr_t>(id));
  }
}

}  // namespace

task* task::create(fptr routine, void* arg, priority pri, size_t stack_size) {
  pthread_attr_t attributes;
  int error = pthread_attr_init(&attributes);
  if (error == 0) {
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    const auto smallest = static_cast<size_t>(PTHREAD_STACK_MIN);
    if (stack_size != 0) {
      error = pthread_attr_setstacksize(&attributes, stack_size < smallest ? smallest : stack_size);
    }
  }
  pthread_t id{};
  auto* info = new start_info{routine, arg, pri};
  if (error == 0) {
    error = pthread_create(&id, &attributes, run, info);
  }
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    delete info;
    console::error("CreateThread failed with erro code=%d\n", error);
  }
  return as_task(id);
}

void task::initialize(size_t) {}

void task::reschedule() {}

void task::reschedule(priority) {}

task* task::current() { return as_task(pthread_self()); }

void task::exit() { pthread_exit(nullptr); }

void task::sleep(timeout_t msec) {
  timespec left{static_cast<time_t>(msec / 1000), static_cast<long>(msec % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
