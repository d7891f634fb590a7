#include "net/BatchMeans.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Batches = std::vector<std::pair<double, double>>;  // area, duration

Batches times(int n, const Batches& pattern) {
  Batches all;
  while (n-- > 0) all.insert(all.end(), pattern.begin(), pattern.end());
  return all;
}

bool add(BatchMeans& means, const Batches& batches, BatchMeans::Estimate& e) {
  for (auto [area, duration] : batches) means.add(area, duration);
  return means.estimate(e);
}

}  // namespace

TEST(BatchMeans, HandMadeSequencesGiveTheirKnownEstimates) {
  // Runs of four equal values: neighbours correlate until merged in pairs.
  const Batches fours = times(5, {{0, 1}, {0, 1}, {0, 1}, {0, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}});
  // Residuals of 1 about 1e8: sums about the first batch's mean, 0, would keep no digit of them.
  Batches far = times(5, {{1e8 - 1, 1}, {1e8 + 1, 1}});
  far.insert(far.begin(), {0.0, 1e-12});
  const Batches ramp{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1},
                     {6, 1}, {7, 1}, {8, 1}, {9, 1}, {10, 1}};
  struct Case { Batches batches; double mean, variance; size_t count, merged; double rho; };
  for (const Case& c : {Case{ramp, 5.5, 82.5 / 9.0, 10, 1, 0.7},  // too few batches to merge
                        Case{times(5, {{2, 1}, {0, 3}}), 0.5, 0.625, 10, 1, -0.9},  // by duration
                        Case{times(5, {{0.1 * 0.7, 0.7}, {0.1 * 0.3, 0.3}}), 0.1, 0, 10, 1, 0},
                        Case{fours, 0.5, 20.0 / 19.0 / 4.0, 20, 2, 0.05},
                        Case{far, 1e8, 1.21, 11, 1, -0.9}}) {
    BatchMeans means;
    BatchMeans::Estimate e;
    ASSERT_TRUE(add(means, c.batches, e)) << c.mean;
    EXPECT_NEAR(e.mean, c.mean, 1e-12 * (1.0 + c.mean));
    EXPECT_NEAR(e.variance, c.variance, 1e-6) << c.mean;
    EXPECT_EQ(std::pair(e.batches, e.merged), std::pair(c.count, c.merged)) << c.mean;
    EXPECT_NEAR(e.correlation, c.rho, 1e-4) << c.mean;
  }
  BatchMeans tooFew, timeless, merged;
  BatchMeans::Estimate e;
  EXPECT_FALSE(add(tooFew, Batches(9, {1, 1}), e) || add(timeless, Batches(10, {0, 0}), e));
  // Once merged, the analysis stays merged though the finer batches now look uncorrelated.
  ASSERT_TRUE(add(merged, fours, e) && add(merged, times(200, {{1, 1}, {0, 1}}), e));
  EXPECT_EQ(e.merged, 2u);
}
