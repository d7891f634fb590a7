#pragma once

#include <array>
#include <cstdint>

#include "core/IntTypes.h"
#include "core/RngStream.h"

// The kernel's handle on one random stream; each wrapper takes the next stream of the package.
class RandomWrapper {
 public:
  RandomWrapper();

  // Kept inline: every firing delay and every conflict draw comes through here.
  double randu01() {
    if (skipped != 0) takeSkipped();
    return stream.RandU01();
  }
  Long32 randint(Long32 i, Long32 j) {
    if (skipped != 0) takeSkipped();
    return stream.RandInt(i, j);
  }
  // A draw whose value is known beforehand, a choice among one: the stream moves on by that
  // number all the same, but only once the next value is asked for, so that nobody waits for a
  // number no one reads.
  void skip() { ++skipped; }

  // False (with the refusal on standard error) when the seed is not a valid package seed.
  static bool SetPackageSeed(const unsigned long seed[6]);
  // The six words of a package seed made from one user seed: each word a valid, non-zero value
  // of its component, and seeds that lie close together (s, s + 1, 2s) giving unrelated words.
  static std::array<unsigned long, 6> seedWords(std::uint64_t seed);

 private:
  void takeSkipped();

  RngStream stream;
  Counter skipped = 0;
};
