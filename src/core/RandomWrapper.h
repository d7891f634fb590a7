#pragma once

#include "core/IntTypes.h"
#include "core/RngStream.h"

// The kernel's handle on one random stream; each wrapper takes the next stream of the package.
class RandomWrapper {
 public:
  RandomWrapper();

  // Kept inline: every firing delay and every conflict draw comes through here.
  double randu01() { return stream.RandU01(); }
  Long32 randint(Long32 i, Long32 j) { return stream.RandInt(i, j); }

  // False (with the refusal on standard error) when the seed is not a valid package seed.
  static bool SetPackageSeed(const unsigned long seed[6]);

 private:
  RngStream stream;
};
