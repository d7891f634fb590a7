#include "core/Delay.h"
#include "core/RngStream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <tuple>

namespace {

const unsigned long kSeed[6] = {11, 22, 33, 44, 55, 66};

// A Delay and a twin stream, both starting at the first stream of the package seed kSeed. Norm
// keeps a spare deviate for the whole process; every test leaves it empty, as it finds it.
struct Twin {
  Delay delay = (RngStream::SetPackageSeed(kSeed), Delay());
  RngStream stream = (RngStream::SetPackageSeed(kSeed), RngStream());

  // Whether the Delay drew n numbers since the two were last in step; puts them in step again.
  bool drew(int n) {
    for (int i = 0; i < n; ++i) stream.RandU01();
    return delay.Uni(0.0, 1.0) == stream.RandU01();
  }
};

using Sampler = std::function<double(const Delay&)>;

TEST(DelayTest, SamplersStartWithKnownValuesFollowTheirDistributionsAndShareTheNormSpare) {
  const int n = 200000;  // even, so Norm ends with no spare
  const double pi = std::acos(-1.0);
  // Sampler, its first value and draws from the seed, its mean, variance, fourth central moment.
  const std::tuple<Sampler, double, int, double, double, double> cases[] = {
      {[](auto& d) { return d.Det(2.5); }, 2.5, 0, 2.5, 0.0, 0.0},
      {[](auto& d) { return d.Exp(-1.0); }, 0.0, 0, 0.0, 0.0, 0.0},
      {[](auto& d) { return d.Exp(0.0) + d.DUni(3, 3); }, 3.0, 2, 3.0, 0.0, 0.0},  // one draw each
      {[](auto& d) { return d.Exp(2.0); }, 0.022226556852872718, 1, 2.0, 4.0, 144.0},
      {[](auto& d) { return d.Uni(5.0, 1.0); }, 1.0442070162843586, 1, 3.0, 4.0 / 3, 3.2},
      {[](auto& d) { return d.DUni(6, 1); }, 1.0, 1, 3.5, 35.0 / 12, 35.0 * 101 / 240},
      {[](auto& d) { return d.Wei(3.0, 2.0); }, 0.31625860595077443, 1, 1.5 * std::sqrt(pi),
       9.0 * (1 - pi / 4), 81.0 * (2 - 3 * pi * pi / 16)},
      {[](auto& d) { return d.Triang(10.0, 2.0); }, 3.0805755017231462, 6, 6.0, 8.0 / 3,
       256.0 / 15},
      {[](auto& d) { return d.Norm(1.0, 2.0); }, 1.0493829478556012, 2, 1.0, 4.0, 48.0},
      {[](auto& d) { return std::log(d.LogNorm(0.5, 0.25)); }, 0.5061728684819502, 2, 0.5, 1.0 / 16,
       3.0 / 256},
  };
  for (const auto& [sample, first, draws, mean, variance, fourth] : cases) {
    Twin t;
    EXPECT_DOUBLE_EQ(sample(t.delay), first) << mean;
    EXPECT_TRUE(t.drew(draws)) << mean;
    double sum = first - mean, squares = (first - mean) * (first - mean);
    for (int i = 1; i < n; ++i) {
      const double x = sample(t.delay) - mean;
      sum += x, squares += x * x;
    }
    // Five standard errors: the sample mean's, and the sample variance's about the true mean.
    EXPECT_NEAR(sum / n, 0.0, 5 * std::sqrt(variance / n)) << mean;
    EXPECT_NEAR(squares / n, variance, 5 * std::sqrt((fourth - variance * variance) / n)) << mean;
  }
  // Another Delay takes the deviate Norm kept.
  Twin a;
  a.delay.Norm(0.0, 1.0);
  Twin b;  // gets a's spare deviate: -0.26816324618923254
  EXPECT_DOUBLE_EQ(b.delay.Norm(0.0, 3.0), -0.80448973856769757);
  EXPECT_TRUE(b.drew(0));
}

}  // namespace
