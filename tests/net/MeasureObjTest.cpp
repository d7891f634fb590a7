#include <gtest/gtest.h>

#include <cmath>

#include "net/MeasureObj.h"

namespace {

using Values = std::list<double>;

// A measure whose statistics the test sets and reads directly.
struct Probe : MeasureObj {
  explicit Probe(double epsMax = 0.0, const char* name = "m", bool cumulative = false)
      : MeasureObj(name, nullptr, false), cumulative(cumulative) { setEpsMax(epsMax); }
  double measure(double) override { return 0.0; }
  bool accumulative() override { return cumulative; }
  bool timeaverage() override { return false; }
  void accum(const Binding*, double) override {}

  void set(Values mean, Values variance, Values delta, Values epsilon, bool reached = false) {
    AveragedMean = mean, Variance = variance, DeltaX = delta, Epsilon = epsilon;
    precision_reached = reached;
  }
  // One transient replication over one sampling point, rewound as the engine does.
  bool replicate(double x, int n) {
    if (n == 0) prepareSamplingPoints(1);
    return rewind(), makeTransientAnalysis(alpha, x, n, true);
  }
  bool analyse(const Values& block) {
    for (double x : block) addBatchValue(x);
    return makeStationaryAnalysis(alpha, 0.0, 0.0);
  }
  std::pair<std::string, std::string> written(int mode, const DateTime* start = nullptr,
                                              double* interval = nullptr) {
    std::ostringstream file, console;
    writeResult(file, console, mode, start, interval);
    return {file.str(), console.str()};
  }

  using MeasureObj::AveragedMean, MeasureObj::DeltaX, MeasureObj::Epsilon, MeasureObj::Variance;
  bool cumulative;
  double alpha = 0.05;
};

}  // namespace

TEST(StudentDistr, ReadsTableColumnsInterpolatesAndFallsBackToNormal) {
  for (auto [df, level, t, message] :
       {std::tuple{24, 0.995, 3.090, ""}, {10, 0.9504, 2.228, ""}, {10, 0.975, 2.674667, ""},
        {31, 0.975, 2.241845, ""}, {5, 0.9995, 6.869, ""},  // truncates to the 0.999 column
        {6, 0.9, 1.943, ""}, {6, 0.95, 2.447, ""}, {6, 0.98, 3.143, ""}, {6, 0.99, 3.707, ""},
        {6, 0.995, 4.317, ""}, {6, 0.999, 5.959, ""},  // the row the first estimates read
        {5, 1.0, 0.0, "student_distr: wrong level 1 by degree of freedom 5\n"},
        {0, 0.95, 0.0, "t_student: invalid degree of freedom.\n"}}) {
    testing::internal::CaptureStdout();
    EXPECT_NEAR(student_distr(df, level), t, 1e-6) << df << " " << level;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), message);
  }
}

TEST(MeasureObj, AnalysesKeepRunningStatisticsHonourThePercentRuleAndNeedTenUncorrelatedBatches) {
  Probe probe(10.0);
  EXPECT_FALSE(probe.replicate(2.0, 0));
  EXPECT_EQ(probe.AveragedMean, Values{2.0});
  EXPECT_TRUE(probe.DeltaX.empty());
  EXPECT_TRUE(probe.replicate(4.0, 1));  // 6.75 < EpsMax 10
  EXPECT_EQ(probe.AveragedMean, Values{3.0});
  EXPECT_EQ(probe.Variance, Values{1.0});  // divides by n + 1
  EXPECT_NEAR(probe.DeltaX.front(), 20.248121, 1e-6);
  EXPECT_NEAR(probe.Epsilon.front(), 20.248121 / 3.0, 1e-6);
  Probe negative(5.0);  // a negative mean is judged by the size of its relative half-width
  negative.replicate(-2.0, 0);
  EXPECT_FALSE(negative.replicate(-4.0, 1));
  // A point beyond the prepared storage changes nothing.
  EXPECT_TRUE(probe.makeTransientAnalysis(probe.alpha, 9.0, 1, true));
  EXPECT_EQ(probe.AveragedMean.size(), 1u);

  // The percent rule lets a portion of the points miss EpsMax.
  Probe rule(0.1);  // ten sampling points, two at or above EpsMax
  rule.set({}, {}, {}, {0.01, 0.1, 0.2, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_FALSE(rule.measure_reached_precision(2500, 10, false));  // rule off: none allowed
  rule.setPercentRule(true);
  EXPECT_FALSE(rule.measure_reached_precision(999, 10, false));
  EXPECT_TRUE(rule.measure_reached_precision(2500, 10, false));  // portion 0.8: 2 allowed
  rule.Epsilon.push_back(0.3);
  EXPECT_FALSE(rule.measure_reached_precision(2500, 11, false));  // 3 > floor(11 * 0.2)
  EXPECT_TRUE(rule.measure_reached_precision(10000, 1, true));  // portion 0: always passes
  EXPECT_TRUE(rule.measure_reached_precision(2500, 1, true));   // and is never raised again

  // Stationary: alternating 1 and 3 give mean 2, batch variance 10/9, lag-1 autocorrelation -0.9.
  const Values alternating{1, 3, 1, 3, 1, 3, 1, 3, 1, 3};
  struct Case { Values block; double alpha, epsMax; bool precise; };
  for (const auto& [block, alpha, epsMax, precise] : {
           Case{alternating, 0.05, 0.5, true}, Case{alternating, 0.05, 0.4, false},
           Case{{-1, -3, -1, -3, -1, -3, -1, -3, -1, -3}, 0.05, 0.5, true},  // judged by size
           Case{alternating, 0.3, 1e9, false},                   // confidence 70: no quantile
           Case{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0.05, 1e9, false},  // correlated
           Case{Values(10, 0.0), 0.05, 1e9, false}}) {
    Probe batches(epsMax);
    batches.alpha = alpha;
    testing::internal::CaptureStdout();
    EXPECT_EQ(batches.analyse(block), precise) << block.size() << " " << alpha << " " << epsMax;
    testing::internal::GetCapturedStdout();
  }
  Probe batches;
  batches.analyse(alternating);
  EXPECT_NEAR(batches.DeltaX.back(), (2.262 + (2.821 - 2.262) * (0.025 / 0.03)) / 3.0, 1e-12);
}

TEST(MeasureObj, WritesResultsByteExact) {
  const std::string warning =
      "Measure: m\nWARNING:\n\tMeasure m: Has not reached predefined accuracy!\n"
      "\tCurrent Values:\n\n";
  Probe probe;
  probe.set({3.0}, {2.5}, {0.5}, {0.25});
  const auto [file, console] = probe.written(1);
  EXPECT_EQ(file, warning + "\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n\t3.000000e+00"
                            "\t2.500000e+00\t[2.500000e+00;3.500000e+00]\t2.500000e-01\n\n\n");
  EXPECT_EQ(console, warning + "\tMean Value\t" + std::string(22, ' ') +
                         "Variance\t\tConf.Interval\t\t\tEpsilon\n\n\t3.000000e+00\t" +
                         std::string(18, ' ') +
                         "2.500000e+00\t\t[2.500000e+00;3.500000e+00]\t2.500000e-01\n\n\n");
  EXPECT_EQ(Probe().written(1), std::make_pair(warning, warning));  // nothing analysed
  const std::string chosen = "Measure: m\nWARNING:\n\tMeasure m: Was chosen cumulative.\n\n";
  EXPECT_EQ(Probe(0.0, "m", true).written(2), std::make_pair(chosen, chosen));
  EXPECT_EQ(Probe(0.0, "ImportanceFunction").written(0),
            std::make_pair(std::string(), std::string()));

  // Transient rows only where every list has an entry.
  probe.set({3.0, -1.5}, {1.0, 0.25}, {2.0, 0.5}, {2.0 / 3.0, -1.0 / 3.0}, true);
  const DateTime start(100.0);
  double interval = 5.0;
  const auto [rowsFile, rowsConsole] = probe.written(0, &start, &interval);
  EXPECT_EQ(rowsFile,
            "Measure: m\n\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n"
            "\t1.000000e+02\t3.000000e+00\t1.000000e+00\t[1.000000e+00;5.000000e+00]"
            "\t6.666667e-01\n"
            "\t1.050000e+02\t-1.500000e+00\t2.500000e-01\t[-2.000000e+00;-1.000000e+00]"
            "\t-3.333333e-01\n\n\n\n");
  const std::string pad(18, ' ');
  EXPECT_EQ(rowsConsole, "Measure: m\n\tSim.Time\t" + std::string(20, ' ') +
                             "Mean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n"
                             "\t1.000000e+02\t" + pad + "3.000000e+00\t1.000000e+00\t\t"
                             "[1.000000e+00;5.000000e+00]\t6.666667e-01\n"
                             "\t1.050000e+02\t" + pad.substr(1) + "-1.500000e+00\t2.500000e-01\t\t"
                             "[-2.000000e+00;-1.000000e+00]\t-3.333333e-01\n\n\n\n");
  // On the calendar scale the times take as many digits as tell their rows apart.
  const DateTime calendar(63839923200.0);
  const auto [calendarFile, calendarConsole] = probe.written(0, &calendar, &interval);
  for (const std::string& rows : {calendarFile, calendarConsole})
    for (const char* time : {"\n\t6.3839923200e+10\t", "\n\t6.3839923205e+10\t"})
      EXPECT_NE(rows.find(time), std::string::npos) << rows;
  probe.Epsilon.pop_back();  // a shorter list limits the rows
  EXPECT_EQ(probe.written(0, &start, &interval).first.find("1.050000e+02"), std::string::npos);
}
