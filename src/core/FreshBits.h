#pragma once

#include <cstdint>

// 64 bits that neither another process nor an earlier call gives: the clock's nanoseconds and the
// process id, mixed (splitmix64). For names and seeds that runs started together must not share;
// not for secrets.
std::uint64_t freshBits();
