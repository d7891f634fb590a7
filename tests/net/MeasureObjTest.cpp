#include <gtest/gtest.h>

#include <cmath>
#include <list>
#include <sstream>
#include <string>
#include <utility>

#include "net/MeasureObj.h"

namespace {

// A measure whose statistics the test sets and reads directly.
class Probe : public MeasureObj {
 public:
  explicit Probe(const char* name = "m", bool cumulative = false)
      : MeasureObj(name, nullptr, false), cumulative(cumulative) {}
  double measure(double) override { return 0.0; }
  bool accumulative() override { return cumulative; }
  bool timeaverage() override { return false; }
  void accum(const Binding*, double) override {}

  // What the engine does before each transient replication over one sampling point.
  void rewindOnePoint() {
    mean_transient.resize(1);
    m2.resize(1);
    mean_transient_iter = mean_transient.begin();
    m2_iter = m2.begin();
    setResults({}, {}, {}, {}, precision_reached);
  }
  bool analyse(std::list<double> block) {
    SampleBlocks.assign(1, std::move(block));
    double alpha = 0.05;
    return makeStationaryAnalysis(alpha, 0.0, 0.0);
  }
  void setResults(std::list<double> mean, std::list<double> variance, std::list<double> delta,
                  std::list<double> epsilon, bool reached) {
    AveragedMean = std::move(mean);
    Variance = std::move(variance);
    DeltaX = std::move(delta);
    Epsilon = std::move(epsilon);
    precision_reached = reached;
  }
  std::pair<std::string, std::string> written(int mode, const DateTime* start = nullptr,
                                              double* interval = nullptr) {
    std::ostringstream file, console;
    writeResult(file, console, mode, start, interval);
    return {file.str(), console.str()};
  }

  using MeasureObj::AveragedMean, MeasureObj::DeltaX, MeasureObj::Epsilon, MeasureObj::Variance;

 private:
  bool cumulative;
};

std::string printed(int df, double level, double* result) {
  testing::internal::CaptureStdout();
  *result = student_distr(df, level);
  return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(StudentDistr, ReadsTableColumnsInterpolatesAndFallsBackToNormal) {
  const double levels[6] = {0.90, 0.95, 0.98, 0.99, 0.995, 0.999};
  const double df1[6] = {6.314, 12.706, 31.821, 63.657, 127.321, 636.619};
  for (int c = 0; c < 6; ++c) EXPECT_DOUBLE_EQ(student_distr(1, levels[c]), df1[c]) << levels[c];
  EXPECT_DOUBLE_EQ(student_distr(24, 0.995), 3.090);
  EXPECT_DOUBLE_EQ(student_distr(10, 0.9504), 2.228);
  EXPECT_NEAR(student_distr(10, 0.975), 2.67467, 1e-5);
  EXPECT_NEAR(student_distr(31, 0.95), 1.960395, 1e-6);
  EXPECT_NEAR(student_distr(31, 0.975), 2.241845, 1e-6);

  double t;
  EXPECT_EQ(printed(5, 0.9995, &t), "");  // truncates to the 0.999 column
  EXPECT_DOUBLE_EQ(t, 6.869);
  EXPECT_EQ(printed(5, 0.85, &t), "student_distr: wrong level 0.85 by degree of freedom 5\n");
  EXPECT_EQ(t, 0.0);
  EXPECT_EQ(printed(5, 1.0, &t), "student_distr: wrong level 1 by degree of freedom 5\n");
  EXPECT_EQ(t, 0.0);
  EXPECT_EQ(printed(0, 0.95, &t), "t_student: invalid degree of freedom.\n");
}

TEST(MeasureObj, TransientAnalysisKeepsRunningStatisticsAcrossReplications) {
  Probe probe;
  probe.setEpsMax(10.0);
  double alpha = 0.05;
  probe.rewindOnePoint();
  EXPECT_FALSE(probe.makeTransientAnalysis(alpha, 2.0, 0, true));
  EXPECT_EQ(probe.AveragedMean, std::list<double>{2.0});
  EXPECT_EQ(probe.Variance, std::list<double>{0.0});
  EXPECT_TRUE(probe.DeltaX.empty());

  probe.rewindOnePoint();
  EXPECT_TRUE(probe.makeTransientAnalysis(alpha, 4.0, 1, true));  // 6.75 < EpsMax 10
  EXPECT_EQ(probe.AveragedMean, std::list<double>{3.0});
  EXPECT_EQ(probe.Variance, std::list<double>{1.0});  // divides by n + 1
  ASSERT_EQ(probe.DeltaX.size(), 1u);
  EXPECT_NEAR(probe.DeltaX.front(), 20.248121, 1e-6);
  EXPECT_NEAR(probe.Epsilon.front(), 20.248121 / 3.0, 1e-6);

  // A point beyond the prepared storage changes nothing.
  EXPECT_TRUE(probe.makeTransientAnalysis(alpha, 9.0, 1, true));
  EXPECT_EQ(probe.AveragedMean.size(), 1u);
}

TEST(MeasureObj, StationaryAnalysisOfOneBlock) {
  Probe probe;
  probe.setEpsMax(0.9);
  EXPECT_TRUE(probe.analyse({1, 2, 3, 4, 5}));
  const double h = (2.776 + (3.747 - 2.776) * (0.025 / 0.03)) * std::sqrt(2.5 / 5.0);
  EXPECT_NEAR(probe.DeltaX.back(), h, 1e-12);
  EXPECT_NEAR(probe.Epsilon.back(), h / 3.0, 1e-12);
  EXPECT_TRUE(probe.precisionReached());

  // A negative mean is judged by the size of its relative half-width.
  Probe negative;
  negative.setEpsMax(0.5);
  EXPECT_FALSE(negative.analyse({-1, -2, -3, -4, -5}));
  EXPECT_NEAR(negative.Epsilon.back(), -h / 3.0, 1e-12);

  // A zero mean: all zeros never count as precise, cancelling values do; the flag stays.
  Probe zero;
  EXPECT_FALSE(zero.analyse({0, 0, 0, 0, 0}));
  EXPECT_TRUE(zero.analyse({1, -1, 2, -2, 0}));
  EXPECT_FALSE(zero.precisionReached());
  EXPECT_FALSE(zero.analyse({4}));  // one value has no variance: not analysed
  EXPECT_EQ(zero.AveragedMean.size(), 2u);
}

TEST(MeasureObj, PercentRuleLowersTheRequiredPortion) {
  Probe probe;
  probe.setEpsMax(0.1);
  // Ten sampling points, two at or above EpsMax.
  probe.setResults({}, {}, {}, {0.01, 0.1, 0.2, 0, 0, 0, 0, 0, 0, 0}, false);
  EXPECT_FALSE(probe.measure_reached_precision(2500, 10, false));  // rule off: none allowed
  probe.setPercentRule(true);
  EXPECT_FALSE(probe.measure_reached_precision(999, 10, false));
  EXPECT_TRUE(probe.measure_reached_precision(2500, 10, false));  // portion 0.8: 2 allowed
  probe.Epsilon.push_back(0.3);
  EXPECT_FALSE(probe.measure_reached_precision(2500, 11, false));  // 3 > floor(11 * 0.2)
  EXPECT_FALSE(probe.measure_reached_precision(9999, 1, true));
  EXPECT_TRUE(probe.measure_reached_precision(10000, 1, true));  // portion 0: always passes
  EXPECT_TRUE(probe.measure_reached_precision(2500, 1, true));   // and is never raised again
}

TEST(MeasureObj, WritesStationaryBlock) {
  const std::string warning =
      "Measure: m\nWARNING:\n\tMeasure m: Has not reached predefined accuracy!\n"
      "\tCurrent Values:\n\n";
  Probe probe;
  probe.setResults({3.0}, {2.5}, {0.5}, {0.25}, false);
  const auto [file, console] = probe.written(1);
  EXPECT_EQ(file, warning +
                      "\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n"
                      "\t3.000000e+00\t2.500000e+00\t[2.500000e+00;3.500000e+00]\t2.500000e-01\n\n\n");
  EXPECT_EQ(console, warning + "\tMean Value\t" + std::string(22, ' ') +
                         "Variance\t\tConf.Interval\t\t\tEpsilon\n\n\t3.000000e+00\t" +
                         std::string(18, ' ') +
                         "2.500000e+00\t\t[2.500000e+00;3.500000e+00]\t2.500000e-01\n\n\n");

  EXPECT_EQ(Probe().written(1), std::make_pair(warning, warning));  // nothing analysed
  const std::string chosen = "Measure: m\nWARNING:\n\tMeasure m: Was chosen cumulative.\n\n";
  EXPECT_EQ(Probe("m", true).written(2), std::make_pair(chosen, chosen));
  EXPECT_EQ(Probe("ImportanceFunction").written(0), std::make_pair(std::string(), std::string()));
}

TEST(MeasureObj, WritesTransientRowsWhereEveryListHasAnEntry) {
  Probe probe;
  probe.setResults({3.0, -1.5}, {1.0, 0.25}, {2.0, 0.5}, {2.0 / 3.0, -1.0 / 3.0}, true);
  const DateTime start(100.0);
  double interval = 5.0;
  const auto [file, console] = probe.written(0, &start, &interval);
  EXPECT_EQ(file,
            "Measure: m\n\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n"
            "\t1.000000e+02\t3.000000e+00\t1.000000e+00\t[1.000000e+00;5.000000e+00]"
            "\t6.666667e-01\n"
            "\t1.050000e+02\t-1.500000e+00\t2.500000e-01\t[-2.000000e+00;-1.000000e+00]"
            "\t-3.333333e-01\n\n\n\n");
  const std::string pad(18, ' ');
  EXPECT_EQ(console, "Measure: m\n\tSim.Time\t" + std::string(20, ' ') +
                         "Mean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n"
                         "\t1.000000e+02\t" + pad + "3.000000e+00\t1.000000e+00\t\t"
                         "[1.000000e+00;5.000000e+00]\t6.666667e-01\n"
                         "\t1.050000e+02\t" + pad.substr(1) + "-1.500000e+00\t2.500000e-01\t\t"
                         "[-2.000000e+00;-1.000000e+00]\t-3.333333e-01\n\n\n\n");

  probe.Epsilon.pop_back();  // a shorter list limits the rows
  EXPECT_EQ(probe.written(0, &start, &interval).first.find("1.050000e+02"), std::string::npos);
}
