#pragma once

#include <cstddef>

using timeout_t = unsigned int;  // milliseconds

// Static wrapper of the system's threads. A task is known by its thread id, handed out as an
// opaque pointer that is never dereferenced.
class task {
 public:
  enum priority { pri_background = 0, pri_low = 1, pri_normal = 2, pri_high = 3, pri_realtime = 4 };

  using fptr = void (*)(void* arg);

  // Starts routine(arg) on a new detached thread; a thread that cannot be made ends the process.
  // stack_size 0 takes the system's default.
  static task* create(fptr routine, void* arg, priority pri, size_t stack_size);
  static void initialize(size_t main_stack_size);
  static void reschedule();
  static void reschedule(priority pri);
  static task* current();
  // Ends the calling thread.
  [[noreturn]] static void exit();
  static void sleep(timeout_t msec);

  task() = delete;
};
