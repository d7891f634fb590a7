// Runs of small nets whose answers are known in closed form, each with a fixed seed.

#include <gtest/gtest.h>

#include <cmath>

#include "EngineHarness.h"

using namespace enginetest;

TEST(Validation, MM1StationaryNumberInSystemIsOneOverTwentySeeds) {
  // Arrival rate 0.5, service rate 1: 0.5 / (1 - 0.5) in the system on average. Batches weighted
  // by count rather than time settle some 4% high.
  double sum = 0.0;
  for (unsigned long s = 1; s <= 20; ++s) {
    seed(1000 * s);
    TestNet net(mm1(0.5));
    Sim sim(&net, 0.0, 1, 1, 0.05, 120);
    ASSERT_TRUE(sim.run().ends_with("\nSIMULATION SUCCESSFUL")) << s;
    sum += active(net).means().back();
  }
  EXPECT_NEAR(sum / 20.0, 1.0, 0.015);
}

TEST(Validation, PureDeathTransientMeanFollowsTheExponential) {
  // Ten tokens dying independently at rate 1: 10 e^-t of them are alive on average at time t.
  seed(2002);
  TestNet net([](TestNet& n) { dying(n); });
  Sim sim(&net, 2.0, 5, 0, 0.05, 120);
  ASSERT_EQ(sim.run(), "\nSIMULATION SUCCESSFUL");
  const Values means = active(net).means(), halfWidths = active(net).halfWidths();
  ASSERT_EQ(means.size(), 5u);
  EXPECT_EQ(means[0], 10.0);
  for (size_t k = 1; k < 5; ++k) {
    EXPECT_LE(std::fabs(means[k] - 10.0 * std::exp(-0.5 * static_cast<double>(k))), halfWidths.at(k))
        << "point " << k;
  }
}

TEST(Validation, WeightsOneAndThreeSplitTheFiringsOneToThree) {
  seed(3003);
  TestNet net([](TestNet& n) {
    n.place("p", 1);
    step(n, "p", "light", 1, {.firingWeight = 1.0, .priority = 1}, "p");  // immediate
    step(n, "p", "heavy", 2, {.firingWeight = 3.0, .priority = 1}, "p");
    n.tokens("p", 1);
  });
  Sim sim(&net, 10.0);
  const int trials = 4000;
  for (int i = 0; i < trials; ++i) {
    ASSERT_EQ(sim.next(), "heavy light");
    sim.executeEvent(sim.resolve_conflicts(sim.events));
  }
  const double heavy = static_cast<double>(net.getTransition("heavy")->getFireCount());
  EXPECT_EQ(net.getTransition("light")->getFireCount() + heavy, trials);
  EXPECT_NEAR(heavy, trials * 0.75, 3 * std::sqrt(trials * 0.75 * 0.25));
}
