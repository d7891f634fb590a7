#include <gtest/gtest.h>

#include "core/RandomWrapper.h"
#include "support/TestNet.h"

using namespace testnet;

TEST(Smoke, MM1) {
  const unsigned long seed[6] = {1, 2, 3, 4, 5, 6};
  RandomWrapper::SetPackageSeed(seed);
  MarkingMeasure* measure = nullptr;
  TestNet net([&measure](TestNet& n) {
    n.place("queue", 1);
    n.transition("arrive", 1, TestTransition::Options::exponential(2.0));
    n.transition("serve", 2, TestTransition::Options::exponential(1.0));
    n.linkTransitionToPlace("arrive", "queue", 1);
    n.linkPlaceToTransition("queue", "serve", 1);
    auto* m = new MarkingMeasure("inSystem", &n, "queue", true);
    n.getPlace("queue")->addMeasure(m);
    n.addMeasure(m);
    if (measure == nullptr) measure = m;
  });
  net.buildNet();
  DateTime start;
  Simulation sim(&net, "mm1", "NULL", start, start, 1, 1, true, false, 0.02, 0.0, 0);
  sim.init();
  double alpha = 0.05;
  sim.run_stationary(alpha);
  sim.shutdown();
}

TEST(Smoke, PureDeath) {
  const unsigned long seed[6] = {1, 2, 3, 4, 5, 6};
  RandomWrapper::SetPackageSeed(seed);
  TestNet net([](TestNet& n) {
    n.place("alive", 1);
    TestTransition::Options die = TestTransition::Options::exponential(1.0);
    die.infinite = true;
    n.transition("die", 1, die);
    n.linkPlaceToTransition("alive", "die", 1);
    n.tokens("alive", 10);
    auto* m = new MarkingMeasure("alive", &n, "alive", false, true);
    n.getPlace("alive")->addMeasure(m);
    n.addMeasure(m);
  });
  net.buildNet();
  DateTime start;
  DateTime stop = start + 3.0;
  Simulation sim(&net, "death", "NULL", start, stop, 4, 0, true, false, 0.05, 0.0, 0);
  sim.init();
  double alpha = 0.05;
  sim.run_transient(alpha);
  sim.shutdown();
}
