#include "net/BatchMeans.h"

#include <algorithm>

namespace {

// Residuals below this share of the batches' own size are rounding noise: such a sequence is
// constant and has no correlation to speak of.
constexpr double NOISE = 1e-10;
// Sums of squares about the shift this many times larger than those about the mean have lost
// six of their sixteen digits: time to take the mean as the new shift.
constexpr double LOSS = 1e6;

}  // namespace

void BatchMeans::clear() {
  base.clear();
  levels.clear();
  shift = 0.0;
  zeroSoFar = true;
  floorLevel = 0;
}

void BatchMeans::add(double area, double duration) {
  if (base.empty()) shift = duration > 0.0 ? area / duration : 0.0;
  base.push_back({area, duration});
  addAt(0, {area, duration});
  // Not a number counts as non-zero.
  if (levels[0].area != 0.0) zeroSoFar = false;
}

void BatchMeans::addAt(size_t index, Batch batch) {
  if (levels.size() == index) levels.emplace_back();
  Level& level = levels[index];
  const double u = batch.area - shift * batch.duration;
  const double d = batch.duration;
  if (level.count > 0) {
    const double lastU = level.last.area - shift * level.last.duration;
    level.lagUU += lastU * u;
    level.lagUD += lastU * d + level.last.duration * u;
    level.lagDD += level.last.duration * d;
  }
  level.area += batch.area;
  level.duration += d;
  level.uu += u * u;
  level.ud += u * d;
  level.dd += d * d;
  ++level.count;
  const Batch pair{level.last.area + batch.area, level.last.duration + d};
  level.last = batch;
  // `level` dangles once the next level is added.
  if (level.count % 2 == 0) addAt(index + 1, pair);
}

BatchMeans::Spread BatchMeans::spread(const Level& level) const {
  // The residuals about the level's own mean, from the sums about the shift.
  const double ratio = level.area / level.duration;
  const double d = ratio - shift;
  const double squares = level.uu - 2.0 * d * level.ud + d * d * level.dd;
  const double lagged = level.lagUU - d * level.lagUD + d * d * level.lagDD;
  const double noise = NOISE * NOISE * ratio * ratio * level.dd;
  const bool lossy = level.uu > LOSS * std::max(squares, noise);
  if (!(squares > noise)) return {std::max(squares, 0.0), 0.0, lossy};
  return {squares, lagged / squares, lossy};
}

void BatchMeans::recentre(double newShift) {
  shift = newShift;
  levels.clear();
  for (const Batch& batch : base) addAt(0, batch);
}

bool BatchMeans::estimate(Estimate& result) {
  if (base.size() < MIN_BATCHES || !(levels[0].duration > 0.0)) return false;
  const double mean = levels[0].area / levels[0].duration;
  auto analysable = [](const Level& level) {
    return level.count >= MIN_BATCHES && level.duration > 0.0;
  };
  // At most once per analysis: a level whose batches are all alike may stay lossy about any shift.
  for (const Level& level : levels) {
    if (analysable(level) && spread(level).lossy) {
      recentre(mean);
      break;
    }
  }
  for (size_t index = floorLevel; index < levels.size() && analysable(levels[index]); ++index) {
    const Level& level = levels[index];
    const Spread s = spread(level);
    const double count = static_cast<double>(level.count);
    const double meanDuration = level.duration / count;
    result.mean = mean;
    result.variance = s.squares / (count - 1.0) / (meanDuration * meanDuration);
    result.batches = level.count;
    result.merged = size_t{1} << index;
    result.correlation = s.correlation;
    floorLevel = index;
    if (result.independent()) break;
  }
  return true;
}
