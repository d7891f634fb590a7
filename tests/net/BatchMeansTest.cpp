#include "net/BatchMeans.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

namespace {

using Batches = std::vector<std::pair<double, double>>;  // area, duration

Batches repeated(const Batches& pattern, int times) {
  Batches all;
  for (int i = 0; i < times; ++i) all.insert(all.end(), pattern.begin(), pattern.end());
  return all;
}

BatchMeans filled(const Batches& batches) {
  BatchMeans means;
  for (auto [area, duration] : batches) means.add(area, duration);
  return means;
}

// Variance and lag-1 autocorrelation of the batches merged `merged` at a time, straight from them.
std::pair<double, double> direct(const Batches& base, size_t merged) {
  Batches batches;
  double area = 0.0, duration = 0.0;
  for (size_t i = 0; i + merged <= base.size(); i += merged) {
    batches.push_back({0.0, 0.0});
    for (size_t k = i; k < i + merged; ++k) {
      batches.back().first += base[k].first;
      batches.back().second += base[k].second;
    }
    area += batches.back().first;
    duration += batches.back().second;
  }
  double squares = 0.0, lagged = 0.0, last = 0.0;
  for (size_t i = 0; i < batches.size(); ++i) {
    const double r = batches[i].first - area / duration * batches[i].second;
    squares += r * r;
    if (i > 0) lagged += last * r;
    last = r;
  }
  const double k = static_cast<double>(batches.size()), meanDuration = duration / k;
  return {squares / (k - 1.0) / (meanDuration * meanDuration), lagged / squares};
}

}  // namespace

TEST(BatchMeans, HandMadeSequencesGiveTheirKnownEstimates) {
  struct Case { const char* name; Batches batches; double mean, variance; size_t count, merged; double rho; };
  const Batches blocksOfFour = repeated({{0, 1}, {0, 1}, {0, 1}, {0, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}}, 5);
  for (const Case& c : {
           Case{"equal durations: the plain mean", {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1},
                 {7, 1}, {8, 1}, {9, 1}, {10, 1}}, 5.5, 82.5 / 9.0, 10, 1, 0.7},  // cannot merge
           Case{"weighted by duration", repeated({{2, 1}, {0, 3}}, 5), 0.5, 0.625, 10, 1, -0.9},
           Case{"all zero", Batches(10, {0.0, 1.0}), 0.0, 0.0, 10, 1, 0.0},
           Case{"correlated pairs merge", blocksOfFour, 0.5, 20.0 / 19.0 / 4.0, 20, 2, 0.05},
           Case{"constant up to rounding", repeated({{0.1 * 0.7, 0.7}, {0.1 * 0.3, 0.3}}, 5), 0.1,
                0.0, 10, 1, 0.0}}) {
    BatchMeans means = filled(c.batches);
    BatchMeans::Estimate e;
    ASSERT_TRUE(means.estimate(e)) << c.name;
    EXPECT_NEAR(e.mean, c.mean, 1e-15) << c.name;
    EXPECT_NEAR(e.variance, c.variance, 1e-12) << c.name;
    EXPECT_EQ(e.batches, c.count) << c.name;
    EXPECT_EQ(e.merged, c.merged) << c.name;
    EXPECT_NEAR(e.correlation, c.rho, 1e-12) << c.name;
    EXPECT_EQ(means.allZero(), c.mean == 0.0) << c.name;
  }
  BatchMeans::Estimate e;
  EXPECT_FALSE(filled(Batches(9, {1.0, 1.0})).estimate(e));   // too few
  EXPECT_FALSE(filled(Batches(10, {0.0, 0.0})).estimate(e));  // no time passed
  // Once merged, the analysis stays merged though the finer batches now look uncorrelated.
  BatchMeans merged = filled(blocksOfFour);
  ASSERT_TRUE(merged.estimate(e));
  for (int i = 0; i < 400; ++i) merged.add(i % 2, 1.0);
  ASSERT_TRUE(merged.estimate(e));
  EXPECT_EQ(e.merged, 2u);
}

TEST(BatchMeans, RunningSumsMatchTheBatchesThemselves) {
  // Strongly correlated batch means about 1000, after a first batch of mean 0 too short to matter
  // but far enough off that the sums are rebuilt about a new shift.
  std::mt19937 random(7);
  auto uniform = [&] { return static_cast<double>(random()) / 4294967296.0; };
  Batches batches{{0.0, 1e-6}};
  double level = 0.0, area = 0.0, duration = 1e-6;
  for (int i = 1; i < 1000; ++i) {
    level = 0.95 * level + uniform() - 0.5;
    const double d = 0.5 + uniform();
    batches.push_back({(1000.0 + level) * d, d});
    area += batches.back().first;
    duration += d;
  }
  BatchMeans means;
  BatchMeans::Estimate e;
  for (auto [a, d] : batches) means.add(a, d);
  ASSERT_TRUE(means.estimate(e));
  EXPECT_EQ(e.mean, area / duration);  // the same sums in the same order
  ASSERT_GT(e.merged, 1u);
  const auto [variance, rho] = direct(batches, e.merged);
  EXPECT_NEAR(e.variance, variance, variance * 1e-9);
  EXPECT_NEAR(e.correlation, rho, 1e-9);
  EXPECT_LT(e.correlation, BatchMeans::MAX_CORRELATION);
  EXPECT_GE(direct(batches, e.merged / 2).second, BatchMeans::MAX_CORRELATION);
}
