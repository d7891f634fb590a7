#pragma once

#include <list>
#include <ostream>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/SmallObjectPool.h"
#include "net/BatchMeans.h"
#include "net/DefaultGM.h"

class Binding;

// Standard normal quantile with upper-tail probability p (0 < p <= 0.5).
double normal_distr(double p);
// Student-t quantile for df degrees of freedom at a two-sided level.
double student_distr(int df, double level);
// Whether student_distr has a quantile for the level: from 0.9 up to, not including, 1.
bool student_level_supported(double level);

// Abstract performance measure. A model subclass supplies the value and the kind; this class keeps
// the samples, the running statistics over replications, the estimates and the precision test.
class MeasureObj : public DefaultGM {
 public:
  VUDI_POOLED_NEW

  static const unsigned int PREC_LIMIT = 1000;
  // A sampling point whose replications all gave the same value is not precise before this many
  // replications: a point showing one value in three of four replications still shows the other
  // before then, but for one run in a million.
  static const unsigned int MIN_AGREEING_REPLICATIONS = 50;

  MeasureObj(const char* name, NetClass* net, bool watch);
  ~MeasureObj() override;

  // The current value. The engine passes -1.0, or in RESTART runs the main path's time since the
  // measure's last reset, over which a time average divides its weighted accumulation.
  virtual double measure(double dt) = 0;
  virtual bool accumulative() = 0;
  virtual bool timeaverage() = 0;
  virtual void accum(const Binding* binding, double weight) = 0;

  bool getWatch() const { return watch; }
  bool precisionReached() const { return precision_reached; }

  void incrementRefCount() { ++reference_count; }
  void decrementRefCount() { --reference_count; }
  int getRefCount() const { return reference_count; }

  void notify() {}
  void setPercentRule(bool on) { percent_rule = on; }
  bool PercentRule() const { return percent_rule; }
  void setEpsMax(double eps) { EpsMax = eps; }
  void setPrecPortion(double portion) { PrecPortion = portion; }

  void reset(DateTime t);
  void setLastTime(DateTime t);

  // The engine's side of the per-run storage. A reset requested now happens at the measure's
  // next update, from the time given then.
  void requestReset() { firstValue = true; }
  void resetIfRequested(const DateTime& t);
  // No batches yet and zeroed running statistics per sampling point.
  void prepareSamplingPoints(int count);
  // Forgets the estimates and their precision and puts every cursor back at the first sampling
  // point, for the given replication; what the earlier replications left is kept aside.
  void rewind(int replication = 0);
  // Takes a replication that was cut short out again: the running statistics, estimates and
  // precision return to what the earlier replications left. No change for a measure that was not
  // rewound for that replication.
  void dropReplication(int replication);
  // Adds a batch whose value x held over the given duration (1 for batches of equal weight);
  // the number of batches afterwards.
  size_t addBatchValue(double x, double duration = 1.0);
  // The start of the window the measure's value covers.
  double windowStart() const { return firstTime; }
  // Base batches in each batch of the latest stationary analysis, 0 before the first.
  size_t batchLength() const { return batchesMerged; }
  // Adds replication n's value x to the running mean and sum of squares of the sampling point at
  // the cursors and advances them; false when the run has no storage for that point.
  bool addToRunningStatistics(double x, int n, double& mean, double& variance);
  // The latest mean and confidence half-width; false before the first analysis.
  bool lastEstimate(double& mean, double& halfWidth) const;
  // The latest relative half-width, 0 before the first analysis.
  double lastEpsilon() const { return Epsilon.empty() ? 0.0 : Epsilon.back(); }
  // Sampling points analysed in the latest replication, and how many of them have a relative
  // half-width at or above the bound.
  size_t analysedPoints() const { return Epsilon.size(); }
  unsigned int pointsAboveBound() const;

  bool makeTransientAnalysis(double& alpha, double x, int n, bool last);
  bool makeStationaryAnalysis(double& alpha, double, double);
  bool measure_reached_precision(unsigned int n, unsigned int m, bool last);
  void writeResult(std::ostream& file, std::ostream& console, int mode, const DateTime* start,
                   double* interval);

 protected:
  BatchMeans batches;
  size_t batchesMerged = 0;
  std::list<double>::iterator m_iter;
  std::list<double>::iterator d_iter;
  std::list<double>::iterator v_iter;
  std::list<double>::iterator e_iter;
  std::list<double> AveragedMean;
  std::list<double> Variance;
  std::list<double> DeltaX;
  std::list<double> Epsilon;
  std::vector<double> mean_transient;
  std::vector<double>::iterator mean_transient_iter;
  std::vector<double> m2;
  std::vector<double>::iterator m2_iter;
  double firstTime = 0.0;
  double lastTime = 0.0;
  double value = 0.0;
  bool firstValue = true;
  unsigned int calls = 0;
  int reference_count = 0;
  double EpsMax = 0.0;
  bool watch;
  bool percent_rule = false;
  double PrecPortion = 1.0;
  bool precision_reached = false;
  // Sampling points of the current replication that cannot count as precise whatever their
  // relative half-width.
  unsigned int unsettledPoints = 0;

 private:
  // The transient state as the replications before `replication` left it.
  struct Kept {
    int replication = -1;
    std::vector<double> mean, m2;
    std::list<double> averagedMean, variance, deltaX, epsilon;
    unsigned int unsettledPoints = 0;
    double precPortion = 1.0;
    bool precise = false;
  } kept;
  // Whether a relative half-width fails the bound EpsMax.
  bool aboveBound(double epsilon) const;
  // Appends to one of the estimate lists a node the last rewind gave back, if there is one: a
  // transient run empties and refills the lists in every replication.
  void append(std::list<double>& list, double x);
  std::list<double> spareNodes;
};
