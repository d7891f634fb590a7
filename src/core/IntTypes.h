#pragma once

#include <cstdint>

// The model, the front end and the stored files were made on a platform whose `long` is 32 bits
// wide. Values that are printed or that wrap the way that `long` did use these widths, so the
// program prints and wraps the same on every platform; counters and identities that grow over a
// long run use a 64-bit type so they never overflow.

using Long32 = std::int32_t;    // a printed or wrapping value of the model's `long`
using ULong32 = std::uint32_t;  // its unsigned counterpart
using Counter = std::int64_t;   // ids and event counters that must not overflow
