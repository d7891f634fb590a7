#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "EngineHarness.h"

using namespace enginetest;
using Values = std::vector<double>;

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Holds its n-th reading until the wall clock has moved on by a second.
template <int n>
struct SlowProbe : Probe {
  using Probe::Probe;
  double measure(double dt) override {
    if (++calls == n) {
      const std::time_t first = std::time(nullptr);
      while (std::time(nullptr) <= first) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Probe::measure(dt);
  }
};

}  // namespace

TEST(TransientRun, DeterministicChainGivesExactMeansAndSucceedsAtTheSeventhReplication) {
  InOwnFolder folder;
  std::ofstream("results.log") << "left over from an earlier run\n";
  TestNet net(chain);
  net.buildNet();
  Sim sim(&net, 4.0, 5, 0, 0.05, 0);
  sim.init();
  // Points at +0..+4; the events at +1 and +2 fall on points and are fired before them.
  EXPECT_EQ(sim.transient(), "\nSIMULATION SUCCESSFUL");
  // Precision is first reached at the last point of the 7th replication, after its earlier points
  // have reported the state before; the 8th replication finds every measure finished.
  EXPECT_EQ(sim.loop, 8);
  // Every replication counts towards the mean, so a constant stays exactly that constant.
  EXPECT_EQ(active(net, 0).means(), (Values{0, 1, 0, 0, 0}));
  EXPECT_EQ(active(net, 1).means(), (Values{0, 0, 1, 1, 1}));
  EXPECT_EQ(active(net, 1).halfWidths(), (Values{0, 0, 0, 0, 0}));

  const std::string written = sim.results();
  const std::string row = "\t8.640400e+04\t1.000000e+00\t0.000000e+00\t[1.000000e+00;1.000000e+00]\t0.000000e+00\n";
  EXPECT_TRUE(written.starts_with("RESULTS OF TRANSIENT SIMULATION\nSIMULATION TIME: 8.64e+04\n\nMeasure: inB\n"))
      << written;
  EXPECT_TRUE(has(written, "Measure: inC\n\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n"));
  EXPECT_TRUE(written.ends_with(row + "\n\n\n"));
  EXPECT_FALSE(has(written, "left over"));
}

TEST(TransientRun, SamplingPointsAtStartAndStopOrAtStartAlone) {
  // Two points, stop at +1.5: t1 fires at +1, t2 (due at +2) never does.
  TestNet two(chain);
  two.buildNet();
  {
    Sim sim(&two, 1.5, 2, 0, 0.05, 0);
    sim.init();
    EXPECT_EQ(sim.transient(), "\nSIMULATION SUCCESSFUL");
    EXPECT_EQ(active(two, 0).means(), (Values{0, 1}));
    EXPECT_EQ(active(two, 1).means(), (Values{0, 0}));
    EXPECT_EQ(two.getTransition("t2")->getFireCount(), 0);
  }
  // One point, the start: each replication ends after its first firing.
  TestNet one(chain);
  one.buildNet();
  Sim sim(&one, 4.0, 1, 0, 0.05, 0);
  sim.init();
  EXPECT_EQ(sim.transient(), "\nSIMULATION SUCCESSFUL");
  EXPECT_EQ(active(one, 0).means(), (Values{0}));
  EXPECT_EQ(sim.loop, 7);  // the only point is the last one: done with the 7th replication
  EXPECT_EQ(one.getTransition("t1")->getFireCount(), 1);
  EXPECT_EQ(one.getTransition("t2")->getFireCount(), 0);
}

TEST(TransientRun, RunTimeLimitAbortsAndWarnsBelowSixReplications) {
  seed(51);
  // The first replication outlasts the limit of one second; the dying tokens are never precise.
  TestNet net([](TestNet& n) { dying<SlowProbe<1>>(n); });
  net.buildNet();
  Sim sim(&net, 3.0, 4, 0, 1e-9, 1);
  sim.init();
  EXPECT_EQ(sim.transient(),
            "WARNING NO ANALYSIS DONE: THE NUMBER OF LOOPS IN TRANSIENT SIMULATION LESS THAN TEN.\n"
            "\nABORT SIMULATION. REACHED MAXIMUM RUNNING TIME.");
  EXPECT_EQ(sim.loop, 0);
}

TEST(TransientRun, ReplicationThatSucceedsAsTheLimitPassesStands) {
  TestNet net([](TestNet& n) { cycling<SlowProbe<7>>(n, false); });
  net.buildNet();
  // No sampling points asked for: one, at the start, read once per replication.
  Sim sim(&net, 4.0, 0, 0, 0.05, 1);
  sim.init();
  EXPECT_EQ(sim.transient(), "\nSIMULATION SUCCESSFUL");
  EXPECT_EQ(sim.loop, 7);
  EXPECT_EQ(active(net).means(), (Values{1}));
}

TEST(StationaryRun, StopsAtADeadMarkingTheStopTimeAndTheRunTimeLimit) {
  seed(61);
  TestNet dead([](TestNet& n) { dying(n, true); });
  dead.buildNet();
  {
    Sim sim(&dead, 100.0, 1, 1, 0.05, 0);
    sim.init();
    EXPECT_EQ(sim.stationary(),
              "WARNING: Stationary simulation stops at a dead marking.\n"
              "\nNUMBER OF EVENTS LESS THAN 3. NO MEASURE HAS REACHED THE PREDEFINED ACCURACY.\n"
              "\nABORTED SIMULATION. REACHED MAXIMUM RUN TIME.");
  }
  TestNet queue(mm1);
  queue.buildNet();
  {
    Sim sim(&queue, 1000.0, 1, 1, 1e-9, 0);
    sim.init();
    EXPECT_TRUE(sim.stationary().ends_with("\nABORTED SIMULATION. REACHED MAXIMUM MODEL TIME."));
    EXPECT_GT(sim.currentTime, Sim::origin() + 1000.0);  // the event crossing the stop time fired
  }
  TestNet endless(mm1);
  endless.buildNet();
  Sim sim(&endless, 0.0, 1, 1, 1e-9, 1);
  sim.init();
  const std::string out = sim.stationary();
  EXPECT_TRUE(out.ends_with("\nABORTED SIMULATION. REACHED MAXIMUM RUN TIME.")) << out;
  EXPECT_FALSE(has(out, "dead marking"));
}

TEST(StationaryRun, ConstantMeasureSucceedsAtTheFifthBatchEndAndWritesTheResults) {
  InOwnFolder folder;
  TestNet net([](TestNet& n) { cycling(n, true); });
  net.buildNet();
  // No stop time: the results then report the start minus the interval (86400 - 36400).
  Sim sim(&net, 0.0, 1, 1, 0.05, 0, 36400.0);
  sim.init();
  EXPECT_EQ(sim.stationary(), "\nSIMULATION SUCCESSFUL");
  EXPECT_EQ(net.getTransition("loop")->getFireCount(), 500);
  EXPECT_EQ(sim.results(),
            "RESULTS OF STATIONARY SIMULATION\nSIMULATION TIME: 5e+04\n\nMeasure: full\n"
            "\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n"
            "\t1.000000e+00\t0.000000e+00\t[1.000000e+00;1.000000e+00]\t0.000000e+00\n\n\n");
}
