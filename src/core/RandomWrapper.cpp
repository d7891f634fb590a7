#include "core/RandomWrapper.h"

#include <algorithm>
#include <limits>

RandomWrapper::RandomWrapper() : stream("") {}

bool RandomWrapper::SetPackageSeed(const unsigned long seed[6]) {
  return RngStream::SetPackageSeed(seed);
}

std::array<unsigned long, 6> RandomWrapper::seedWords(std::uint64_t seed) {
  // MRG32k3a is linear: words that are simple functions of the seed (bit fields, say) keep seeds
  // like s and 2s related along the whole stream. The words are therefore drawn from splitmix64,
  // whose output mixes every bit of its counter, and each is put into [1, m) of its component.
  constexpr std::uint64_t m1 = 4294967087ULL, m2 = 4294944443ULL;
  std::array<unsigned long, 6> words{};
  std::uint64_t state = seed;
  for (size_t i = 0; i < words.size(); ++i) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    words[i] = static_cast<unsigned long>(1 + z % ((i < 3 ? m1 : m2) - 1));
  }
  return words;
}

void RandomWrapper::takeSkipped() {
  // One draw is one step of the generator (the stream never runs at increased precision here).
  // Jumping costs about as much as a few hundred draws, whatever the distance.
  constexpr Counter kJumpFrom = 512;
  while (skipped >= kJumpFrom) {
    const Counter steps = std::min<Counter>(skipped, std::numeric_limits<Long32>::max());
    stream.AdvanceState(0, static_cast<Long32>(steps));
    skipped -= steps;
  }
  for (; skipped > 0; --skipped) stream.RandU01();
}
