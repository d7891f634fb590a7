#include "net/MeasureObj.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "net/RunContext.h"

namespace {

// Rational approximation of the upper-tail normal quantile (absolute error below 4.5e-4).
const double C_const[4] = {2.515517, 0.802853, 0.010328, 0.0};
const double D_const[4] = {1.0, 1.432788, 0.189269, 0.001308};

// Two-sided Student-t quantiles for df 1..30 at the levels of STUDENT_levels. Three entries are
// kept as the classic printed table has them (df 2 at 0.999, df 17 and df 24 at 0.995), since
// results computed with them are on record.
const double STUDENT_const[30][6] = {
    {6.314, 12.706, 31.821, 63.657, 127.321, 636.619},
    {2.920, 4.303, 6.965, 9.925, 14.089, 31.598},
    {2.353, 3.182, 4.541, 5.841, 7.453, 12.924},
    {2.132, 2.776, 3.747, 4.604, 5.598, 8.610},
    {2.015, 2.571, 3.365, 4.032, 4.773, 6.869},
    {1.943, 2.447, 3.143, 3.707, 4.317, 5.959},
    {1.895, 2.365, 2.998, 3.499, 4.029, 5.408},
    {1.860, 2.306, 2.896, 3.355, 3.833, 5.041},
    {1.833, 2.262, 2.821, 3.250, 3.690, 4.781},
    {1.812, 2.228, 2.764, 3.169, 3.581, 4.587},
    {1.796, 2.201, 2.718, 3.106, 3.497, 4.437},
    {1.782, 2.179, 2.681, 3.055, 3.428, 4.318},
    {1.771, 2.160, 2.650, 3.012, 3.372, 4.221},
    {1.761, 2.145, 2.624, 2.977, 3.326, 4.140},
    {1.753, 2.131, 2.602, 2.947, 3.286, 4.073},
    {1.746, 2.120, 2.583, 2.921, 3.252, 4.015},
    {1.740, 2.110, 2.567, 2.898, 3.223, 3.965},
    {1.734, 2.101, 2.552, 2.878, 3.197, 3.922},
    {1.729, 2.093, 2.539, 2.861, 3.174, 3.883},
    {1.725, 2.086, 2.528, 2.845, 3.153, 3.850},
    {1.721, 2.080, 2.518, 2.831, 3.135, 3.819},
    {1.717, 2.074, 2.508, 2.819, 3.119, 3.792},
    {1.714, 2.069, 2.500, 2.807, 3.104, 3.768},
    {1.711, 2.064, 2.492, 2.797, 3.090, 3.745},
    {1.708, 2.060, 2.485, 2.787, 3.078, 3.725},
    {1.706, 2.056, 2.479, 2.779, 3.067, 3.707},
    {1.703, 2.052, 2.473, 2.771, 3.057, 3.690},
    {1.701, 2.048, 2.467, 2.763, 3.047, 3.674},
    {1.699, 2.045, 2.462, 2.756, 3.038, 3.659},
    {1.697, 2.042, 2.457, 2.750, 3.030, 3.646},
};
const int STUDENT_thousandths[6] = {900, 950, 980, 990, 995, 999};

void setNumberFormat(std::ostream& out) {
  out << std::setprecision(6) << std::scientific << std::right;
}

// The digits after the point that tell the sampling points of the rows apart: six, as for every
// number of the block, unless the points lie closer together than that, as on the calendar scale,
// where all of them would read alike.
int timeDigits(const DateTime& start, double interval, size_t rows) {
  std::ostringstream text;
  text << std::scientific;
  for (int digits = 6; digits <= 16; ++digits) {
    text << std::setprecision(digits);
    std::string last;
    bool distinct = true;
    DateTime t = start;
    for (size_t row = 0; row < rows && distinct; ++row, t += interval) {
      text.str("");
      text << t.FullDateTime();
      distinct = row == 0 || text.str() != last;
      last = text.str();
    }
    if (distinct) return digits;
  }
  return 6;  // points no digits tell apart
}

}  // namespace

double normal_distr(double p) {
  const double t = std::sqrt(std::log(1.0 / (p * p)));
  return t - (C_const[0] + C_const[1] * t + C_const[2] * t * t) /
                 (D_const[0] + D_const[1] * t + D_const[2] * t * t + D_const[3] * t * t * t);
}

double student_distr(int df, double level) {
  if (df < 1) {
    std::cout << "t_student: invalid degree of freedom." << std::endl;
    return 0.0;
  }
  if (df > 30) return normal_distr((1.0 - level) / 2.0);
  const double* row = STUDENT_const[df - 1];
  const double thousandfold = std::fabs(level * 1000.0);
  if (thousandfold < 1e6) {  // keeps the conversion to int defined
    const int k = static_cast<int>(thousandfold);
    for (int column = 0; column < 6; ++column) {
      if (k == STUDENT_thousandths[column]) return row[column];
    }
  }
  if (!(level >= 0.9 && level <= 0.999)) {
    std::cout << "student_distr: wrong level " << level << " by degree of freedom " << df
              << std::endl;
    return 0.0;
  }
  int low;
  double f;
  if (level > 0.995) {
    low = 4;
    f = (level - 0.995) / 0.004;
  } else if (level > 0.99) {
    low = 3;
    f = (level - 0.99) / 0.005;
  } else if (level > 0.98) {
    low = 2;
    f = (level - 0.98) / 0.01;
  } else if (level > 0.95) {
    low = 1;
    f = (level - 0.95) / 0.03;
  } else {
    low = 0;
    f = (level - 0.9) / 0.05;
  }
  return row[low] + (row[low + 1] - row[low]) * f;
}

bool student_level_supported(double level) { return level >= 0.9 && level < 1.0; }

MeasureObj::MeasureObj(const char* name, NetClass* net, bool watch)
    : DefaultGM(name, "Result", net), watch(watch) {}

MeasureObj::~MeasureObj() = default;

void MeasureObj::reset(DateTime t) {
  firstTime = lastTime = t.FullDateTime();
  value = 0.0;
}

void MeasureObj::setLastTime(DateTime t) { lastTime = t.FullDateTime(); }

void MeasureObj::resetIfRequested(const DateTime& t) {
  if (!firstValue) return;
  reset(t);
  firstValue = false;
}

void MeasureObj::prepareSamplingPoints(int count) {
  batches.clear();
  batchesMerged = 0;
  mean_transient.assign(static_cast<size_t>(count), 0.0);
  m2.assign(static_cast<size_t>(count), 0.0);
}

void MeasureObj::rewind(int replication) {
  // The lists change hands instead of being copied: a replication costs no more than before.
  kept.replication = replication;
  kept.mean = mean_transient;
  kept.m2 = m2;
  kept.averagedMean.swap(AveragedMean);
  kept.variance.swap(Variance);
  kept.deltaX.swap(DeltaX);
  kept.epsilon.swap(Epsilon);
  kept.unsettledPoints = unsettledPoints;
  kept.precPortion = PrecPortion;
  kept.precise = precision_reached;
  unsettledPoints = 0;
  // Precision is that of the latest estimates, and a replication brings new ones: every measure
  // takes every replication, so that all estimates rest on the number of replications run.
  precision_reached = false;
  for (std::list<double>* list : {&AveragedMean, &Variance, &DeltaX, &Epsilon})
    spareNodes.splice(spareNodes.end(), *list);
  mean_transient_iter = mean_transient.begin();
  m2_iter = m2.begin();
  m_iter = AveragedMean.begin();
  v_iter = Variance.begin();
  d_iter = DeltaX.begin();
  e_iter = Epsilon.begin();
}

void MeasureObj::dropReplication(int replication) {
  if (kept.replication != replication) return;
  kept.replication = -1;
  mean_transient = kept.mean;
  m2 = kept.m2;
  AveragedMean.swap(kept.averagedMean);
  Variance.swap(kept.variance);
  DeltaX.swap(kept.deltaX);
  Epsilon.swap(kept.epsilon);
  unsettledPoints = kept.unsettledPoints;
  PrecPortion = kept.precPortion;
  precision_reached = kept.precise;
  mean_transient_iter = mean_transient.begin();
  m2_iter = m2.begin();
}

void MeasureObj::append(std::list<double>& list, double x) {
  if (spareNodes.empty()) {
    list.push_back(x);
  } else {
    list.splice(list.end(), spareNodes, spareNodes.begin());
    list.back() = x;
  }
}

size_t MeasureObj::addBatchValue(double x, double duration) {
  batches.add(x * duration, duration);
  return batches.size();
}

bool MeasureObj::lastEstimate(double& mean, double& halfWidth) const {
  if (AveragedMean.empty() || DeltaX.empty()) return false;
  mean = AveragedMean.back();
  halfWidth = DeltaX.back();
  return true;
}

bool MeasureObj::addToRunningStatistics(double x, int n, double& mean, double& variance) {
  if (mean_transient_iter == mean_transient.end() || m2_iter == m2.end()) return false;
  const double count = static_cast<double>(n) + 1.0;
  mean = *mean_transient_iter;
  double sum = *m2_iter;
  const double delta = x - mean;
  mean += delta / count;
  sum += delta * (x - mean);
  variance = sum / count;
  *mean_transient_iter++ = mean;
  *m2_iter++ = sum;
  return true;
}

bool MeasureObj::makeTransientAnalysis(double& alpha, double x, int n, bool last) {
  const unsigned int m = last ? static_cast<unsigned int>(AveragedMean.size()) + 1 : 0;
  double mean;
  double variance;
  // A sampling point beyond the storage prepared for the run has no running statistics to add to.
  if (!addToRunningStatistics(x, n, mean, variance)) return precision_reached;
  append(Variance, variance);
  append(AveragedMean, mean);
  if (n > 0) {
    const double t = student_distr(n, 1.0 - alpha / 2.0);
    const double halfWidth = t * std::sqrt(variance) / std::sqrt(static_cast<double>(n) + 1.0);
    append(DeltaX, halfWidth);
    append(Epsilon, mean != 0.0 ? halfWidth / mean : 0.0);
    // Replications that all agree prove nothing before there are enough of them, and a missing
    // quantile makes a half-width of 0 that proves nothing either.
    if (!(t > 0.0) || (variance == 0.0 && n + 1 < static_cast<int>(MIN_AGREEING_REPLICATIONS))) {
      ++unsettledPoints;
    }
    if (last) precision_reached = measure_reached_precision(n + 1, m, false);
  }
  return precision_reached;
}

bool MeasureObj::makeStationaryAnalysis(double& alpha, double, double) {
  BatchMeans::Estimate estimate;
  // Too few batches, or no time covered by them: nothing to analyse yet.
  if (!batches.estimate(estimate)) return false;
  append(AveragedMean, estimate.mean);
  append(Variance, estimate.variance);
  const double t = student_distr(static_cast<int>(estimate.batches) - 1, 1.0 - alpha / 2.0);
  append(DeltaX,
         t * std::sqrt(estimate.variance) / std::sqrt(static_cast<double>(estimate.batches)));
  batchesMerged = estimate.merged;
  // A missing quantile makes the half-width 0 and correlated batches make it too narrow: neither
  // shows precision.
  const bool trustworthy = t > 0.0 && estimate.independent();
  if (estimate.mean != 0.0) {
    append(Epsilon, DeltaX.back() / estimate.mean);
    const bool reached =
        measure_reached_precision(static_cast<unsigned int>(batches.size()), 1, true);
    precision_reached = trustworthy && reached;
    return precision_reached;
  }
  append(Epsilon, 0.0);
  return trustworthy && !batches.allZero();
}

bool MeasureObj::measure_reached_precision(unsigned int n, unsigned int m, bool last) {
  if (percent_rule && n >= PREC_LIMIT) {
    const double portion = 1.0 - static_cast<double>(n / PREC_LIMIT) / 10.0;
    const double lowered = portion > 0.0 ? portion : 0.0;
    if (lowered < PrecPortion) PrecPortion = lowered;
  }
  const double md = static_cast<double>(m);
  const long allowed = static_cast<long>(std::floor(md - md * PrecPortion));
  long count = 0;
  if (last) {
    if (!Epsilon.empty() && aboveBound(Epsilon.back())) count = 1;
  } else {
    count = static_cast<long>(unsettledPoints) + pointsAboveBound();
  }
  return count <= allowed;
}

bool MeasureObj::aboveBound(double epsilon) const {
  // Compared by magnitude: a negative mean gives a negative relative half-width, which is no
  // more precise than its positive counterpart. A relative half-width that is not a number or
  // infinite, from a value that was, is above every bound.
  return !(std::fabs(epsilon) < EpsMax);
}

unsigned int MeasureObj::pointsAboveBound() const {
  return static_cast<unsigned int>(
      std::count_if(Epsilon.begin(), Epsilon.end(), [&](double e) { return aboveBound(e); }));
}

void MeasureObj::writeResult(std::ostream& file, std::ostream& console, int mode,
                             const DateTime* start, double* interval) {
  if (getName() == "ImportanceFunction") return;
  const std::string& measureName = getName();
  auto both = [&](const std::string& text) {
    file << text;
    console << text;
  };
  both("Measure: " + measureName + "\n");
  const std::string notReached = "WARNING:\n\tMeasure " + measureName +
                                 ": Has not reached predefined accuracy!\n\tCurrent Values:\n\n";
  const bool haveResults =
      !AveragedMean.empty() && !Variance.empty() && !DeltaX.empty() && !Epsilon.empty();

  if (mode != RunContext::TRANSIENT) {
    if (accumulative()) {
      both("WARNING:\n\tMeasure " + measureName + ": Was chosen cumulative.\n\n");
      return;
    }
    if (!precision_reached) both(notReached);
    if (!haveResults) return;
    const double mean = AveragedMean.back();
    const double h = DeltaX.back();
    const double v = Variance.back();
    const double e = Epsilon.back();
    file << "\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n";
    setNumberFormat(file);
    file << "\t" << mean << "\t" << v << "\t[" << mean - h << ";" << mean + h << "]"
         << "\t" << e << "\n\n\n";
    console << "\tMean Value\t" << std::setw(30) << "Variance" << "\t\tConf.Interval"
            << "\t\t\tEpsilon\n\n";
    setNumberFormat(console);
    console << "\t" << mean << "\t" << std::setw(30) << v << "\t\t"
            << "[" << mean - h << ";" << mean + h << "]"
            << "\t" << e << "\n\n\n";
    return;
  }

  if (!precision_reached) both(notReached);
  file << "\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n";
  console << "\tSim.Time\t" << std::setw(30) << "Mean Value" << "\tVariance"
          << "\t\tConf.Interval" << "\t\t\tEpsilon\n\n";
  const int digits = timeDigits(*start, *interval, AveragedMean.size());
  DateTime t = *start;
  m_iter = AveragedMean.begin();
  v_iter = Variance.begin();
  d_iter = DeltaX.begin();
  e_iter = Epsilon.begin();
  // Rows only where every list has an entry, so lists of unequal length are never overrun.
  for (; m_iter != AveragedMean.end() && v_iter != Variance.end() && d_iter != DeltaX.end() &&
         e_iter != Epsilon.end();
       ++m_iter, ++v_iter, ++d_iter, ++e_iter) {
    const double mean = *m_iter;
    const double h = *d_iter;
    setNumberFormat(file);
    file << "\t" << std::setprecision(digits) << t.FullDateTime() << std::setprecision(6) << "\t"
         << mean << "\t" << *v_iter << "\t"
         << "[" << mean - h << ";" << mean + h << "]"
         << "\t" << *e_iter << "\n";
    setNumberFormat(console);
    console << "\t" << std::setprecision(digits) << t.FullDateTime() << std::setprecision(6) << "\t"
            << std::setw(30) << mean << "\t" << *v_iter << "\t\t[" << mean - h << ";" << mean + h
            << "]"
            << "\t" << *e_iter << "\n";
    t += *interval;
  }
  both("\n\n\n");
}
