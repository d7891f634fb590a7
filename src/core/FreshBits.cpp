#include "core/FreshBits.h"

#include <unistd.h>

#include <chrono>

namespace {

std::uint64_t mixed(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

}  // namespace

std::uint64_t freshBits() {
  // The process id is mixed in on its own: added to the clock, two processes some seconds apart
  // could meet on one sum.
  static std::uint64_t state = mixed(static_cast<std::uint64_t>(getpid()));
  state += 0x9E3779B97F4A7C15u;  // calls within one tick of the clock still differ
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return mixed(state ^ static_cast<std::uint64_t>(
                           std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
}
