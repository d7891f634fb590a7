#include "core/RandomWrapper.h"
#include "core/RngStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <tuple>

namespace {

using State = std::array<unsigned long, 6>;

const State kSeed = {987654321, 123456789, 42, 4000000000UL, 7, 31337};

State stateOf(const RngStream& s) {
  State st;
  s.GetState(st.data());
  return st;
}

RngStream seeded() {
  RngStream s;
  EXPECT_TRUE(s.SetSeed(kSeed.data()));
  return s;
}

TEST(RngStreamTest, PackageSeedsHandOutStreamsInConstructionOrderAndRefusedOnesChangeNothing) {
  const State published = {12345, 12345, 12345, 12345, 12345, 12345};
  ASSERT_TRUE(RandomWrapper::SetPackageSeed(published.data()));
  RandomWrapper first;
  RngStream second;
  EXPECT_EQ(first.randu01(), 0.12701112204657714);
  EXPECT_EQ(stateOf(second),
            (State{3692455944, 1366884236, 2968912127, 335948734, 4161675175, 475798818}));
  // A refused seed prints why, on both calls.
  const std::tuple<State, int, std::string> cases[] = {
      {{4294967087UL, 1, 1, 1, 1, 1}, 40, "Seed[0] >= 4294967087, Seed is not set."},
      {{1, 1, 1, 1, 4294944443UL, 1}, 41, "Seed[4] >= 4294944443, Seed is not set."},
      {{0, 0, 0, 1, 1, 1}, 28, "First 3 seeds = 0."},
      {{1, 1, 1, 0, 0, 0}, 28, "Last 3 seeds = 0."}};
  for (const auto& [seed, width, error] : cases) {
    ASSERT_TRUE(RngStream::SetPackageSeed(kSeed.data()));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(RngStream::SetPackageSeed(seed.data()));
    RngStream next;
    EXPECT_FALSE(next.SetSeed(seed.data()));
    const std::string stars(width, '*'),
        message = stars + "\nERROR: " + error + "\n" + stars + "\n\n";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), message + message);
    EXPECT_EQ(stateOf(next), kSeed);
  }
  const State largest = {4294967086UL, 0, 0, 4294944442UL, 0, 0};
  EXPECT_TRUE(RngStream::SetPackageSeed(largest.data()));
  EXPECT_EQ(stateOf(RngStream()), largest);
}

TEST(RngStreamTest, JumpsAgreeWithStepping) {
  RngStream stepped = seeded(), jumped = seeded(), far = seeded();
  // A million steps: the remainder of every step must be exact, however close it comes to m.
  for (int n = 0; n < 1000000; ++n) stepped.RandU01();
  jumped.AdvanceState(0, 1000000);
  EXPECT_EQ(stateOf(jumped), stateOf(stepped));
  // -2^31 + (2^31 - 1) + 1 steps: the most negative count is negated without overflow.
  jumped.AdvanceState(0, INT32_MIN), jumped.AdvanceState(0, INT32_MAX), jumped.RandU01();
  EXPECT_EQ(stateOf(jumped), stateOf(stepped));

  // The substream jump table agrees with 2^76 steps computed by repeated squaring.
  stepped.ResetNextSubstream(), far.AdvanceState(76, 0);
  EXPECT_EQ(stateOf(stepped), stateOf(far));
}

TEST(RngStreamTest, SkippedDrawsMoveTheStreamOnLikeDrawnOnes) {
  // Few skips are drawn when the next value is asked for, many are jumped over.
  for (const int skips : {1, 511, 512, 5000}) {
    RandomWrapper::SetPackageSeed(kSeed.data());
    RandomWrapper drawn, skipped = drawn;
    for (int n = 0; n < skips; ++n) drawn.randint(0, 0), skipped.skip();
    EXPECT_EQ(skipped.randu01(), drawn.randu01()) << skips;
    skipped.skip(), drawn.randu01();
    EXPECT_EQ(skipped.randint(0, 999), drawn.randint(0, 999)) << skips;
  }
}

TEST(RngStreamTest, AntitheticPrecisionAndRandIntFollowTheUnderlyingDraws) {
  RngStream plain = seeded(), anti = seeded(), fine = seeded(), ints = seeded();
  anti.SetAntithetic(true), fine.IncreasedPrecis(true);
  for (int n = 0; n < 1000; ++n) {
    const double hi = plain.RandU01(), lo = plain.RandU01();
    EXPECT_EQ(anti.RandU01(), 1.0 - hi);
    EXPECT_EQ(anti.RandU01(), 1.0 - lo);
    EXPECT_EQ(fine.RandU01(), std::fmod(hi + lo / 16777216.0, 1.0));
    EXPECT_EQ(ints.RandInt(1, 6), 1 + static_cast<int>(hi * 6.0));
    // The whole int range spans 2^32 values: no overflow, and the result stays within it.
    const std::int64_t wide = ints.RandInt(INT_MIN, INT_MAX);
    EXPECT_EQ(wide, INT_MIN + static_cast<std::int64_t>(lo * 4294967296.0));
  }
}

TEST(RngStreamTest, UserSeedsGiveValidDistinctAndUnrelatedPackageSeeds) {
  // Seeds users pick side by side (1..N, or doubling) must start unrelated streams; seed 0 too.
  const auto first = [](std::uint64_t s) {  // the first number of the first stream
    EXPECT_TRUE(RandomWrapper::SetPackageSeed(RandomWrapper::seedWords(s).data())) << s;
    return RngStream().RandU01();
  };
  const auto correlation = [&](auto partner) {
    double n = 1000, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (std::uint64_t s = 0; s < n; ++s) {
      const double x = first(s), y = first(partner(s));
      sx += x, sy += y, sxx += x * x, syy += y * y, sxy += x * y;
    }
    return (sxy - sx * sy / n) / std::sqrt((sxx - sx * sx / n) * (syy - sy * sy / n));
  };
  EXPECT_LT(std::fabs(correlation([](std::uint64_t s) { return 2 * s; })), 0.1);
  EXPECT_LT(std::fabs(correlation([](std::uint64_t s) { return s + 1; })), 0.1);
  std::set<State> seen;  // every word within [1, m), no two seeds alike
  for (std::uint64_t s = 0; s < 100000; ++s) {
    const State w = RandomWrapper::seedWords(s);
    if (RandomWrapper::SetPackageSeed(w.data()) && !std::count(w.begin(), w.end(), 0UL))
      seen.insert(w);
  }
  EXPECT_EQ(seen.size(), 100000u);
}

}  // namespace
