#include "core/Delay.h"
#include "core/RngStream.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const unsigned long kSeed[6] = {11, 22, 33, 44, 55, 66};

// A Delay and a twin stream that starts where the Delay's stream starts.
struct Twin {
  Delay delay = (RngStream::SetPackageSeed(kSeed), Delay());
  RngStream stream = (RngStream::SetPackageSeed(kSeed), RngStream());

  double u() { return stream.RandU01(); }
  // True when both have drawn equally often; draws once from each.
  bool inStep() { return delay.Uni(0.0, 1.0) == u(); }
};

TEST(DelayTest, SamplersDrawOnlyWhatTheyNeed) {
  Twin t;
  EXPECT_EQ(t.delay.Det(2.5) + t.delay.Exp(-1.0) + t.delay.Exp(0.0), 2.5);
  t.u();
  EXPECT_EQ(t.delay.Exp(2.0), -std::log(1.0 - t.u()) * 2.0);
  EXPECT_EQ(t.delay.Uni(5.0, 1.0), 1.0 + 4.0 * t.u());
  EXPECT_EQ(t.delay.DUni(3, 3), 3.0);
  t.u();
  EXPECT_EQ(t.delay.DUni(6, 1), 1.0 + static_cast<int>(t.u() * 6.0));
  EXPECT_EQ(t.delay.Wei(3.0, 2.0), 3.0 * std::pow(-std::log(1.0 - t.u()), 0.5));
  // Triang draws pairs until one is accepted.
  for (int n = 0; n < 200; ++n) {
    double u1, u2;
    do {
      u1 = t.u();
      u2 = t.u() / 2.0;
    } while (!((u1 < 0.5 && u1 > u2) || (u1 >= 0.5 && u2 > u1 - 0.5)));
    EXPECT_EQ(t.delay.Triang(10.0, 2.0), 2.0 + 8.0 * u1);
  }
  EXPECT_TRUE(t.inStep());
}

// One accepted pair of the polar method: {first result, spare}.
std::pair<double, double> polarPair(Twin& t) {
  double x, y, r;
  do {
    x = 2.0 * t.u() - 1.0;
    y = 2.0 * t.u() - 1.0;
    r = x * x + y * y;
  } while (r >= 1.0 || r == 0.0);
  const double f = std::sqrt(-2.0 * std::log(r) / r);
  return {y * f, x * f};
}

TEST(DelayTest, NormKeepsOneSpareDeviateForTheWholeProcess) {
  // Empty the shared spare, whatever an earlier test left: a call that drew leaves one behind.
  Twin probe;
  probe.delay.Norm(0.0, 1.0);
  if (!probe.inStep()) probe.delay.Norm(0.0, 1.0);

  Twin a;
  auto [first, spare] = polarPair(a);
  EXPECT_EQ(a.delay.Norm(1.0, 2.0), first * 2.0 + 1.0);
  EXPECT_EQ(a.delay.Norm(0.0, 1.0), spare);
  std::tie(first, spare) = polarPair(a);
  EXPECT_EQ(a.delay.LogNorm(0.5, 0.25), std::exp(first * 0.25 + 0.5));
  // Another Delay gets the spare of a's pair, and its own stream stays put.
  Twin b;
  EXPECT_EQ(b.delay.Norm(0.0, 3.0), spare * 3.0);
  EXPECT_TRUE(b.inStep() && a.inStep());
}

}  // namespace
