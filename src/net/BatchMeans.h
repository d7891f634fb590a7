#pragma once

#include <cstddef>
#include <vector>

// The batch means of one long run. Every base batch brings its area (the measure integrated over
// the batch) and its duration, and the mean is the sum of the areas over the sum of the durations:
// a batch counts by the time it covers, so the short batches of busy stretches do not pull the
// mean towards the busy state. The variance comes from the residuals area - mean x duration.
//
// Neighbouring batches are merged in pairs, level by level (1, 2, 4, ... base batches), and the
// analysis takes the finest level whose batch means are no longer correlated: batches too short
// for the run's memory make the interval too narrow. It never goes back below the level of the
// analysis before: a finer level that looks uncorrelated again by chance would stop the run on
// just such an interval.
//
// Every level keeps running sums only, so an analysis costs the same however long the run; the
// base batches are kept in a contiguous array for the rare rebuild of those sums.
class BatchMeans {
 public:
  // An analysis never rests on fewer batches than this.
  static constexpr size_t MIN_BATCHES = 10;
  // Batch means whose lag-1 autocorrelation reaches this are too short to count as independent.
  static constexpr double MAX_CORRELATION = 0.1;

  struct Estimate {
    double mean = 0.0;         // over every base batch
    double variance = 0.0;     // of one analysed batch mean: residual variance / mean duration^2
    size_t batches = 0;        // batches analysed
    size_t merged = 0;         // base batches in each of them
    double correlation = 0.0;  // lag-1 autocorrelation of their residuals
    bool independent() const { return correlation < MAX_CORRELATION; }
  };

  void clear();
  void add(double area, double duration);
  size_t size() const { return base.size(); }
  // True while the running sum of the areas has been exactly 0 after every batch.
  bool allZero() const { return zeroSoFar; }
  // The estimate of the finest level, from the last one analysed on, of at least MIN_BATCHES
  // batches whose residuals are uncorrelated, else of the coarsest level of that many; false when
  // there are fewer base batches or no time has passed.
  bool estimate(Estimate& result);

 private:
  struct Batch {
    double area;
    double duration;
  };
  // Sums over one level's batches; u = area - shift x duration keeps the squares small, so that
  // the residuals do not drown in the rounding of large sums.
  struct Level {
    size_t count = 0;
    double area = 0.0, duration = 0.0;
    double uu = 0.0, ud = 0.0, dd = 0.0;           // u^2, u d, d^2
    double lagUU = 0.0, lagUD = 0.0, lagDD = 0.0;  // u u', u d' + d u', d d' of neighbours
    Batch last{0.0, 0.0};
  };
  struct Spread {
    double squares;  // sum of the squared residuals
    double correlation;
    bool lossy;  // the shift lies so far off that the sums lost most of their digits
  };

  void addAt(size_t level, Batch batch);
  Spread spread(const Level& level) const;
  void recentre(double newShift);

  std::vector<Batch> base;
  std::vector<Level> levels;
  double shift = 0.0;
  bool zeroSoFar = true;
  size_t floorLevel = 0;  // the level of the last analysis
};
