#pragma once

// The engine tests' Simulation and measure with their state open, and the small nets they share.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/RandomWrapper.h"
#include "support/TestNet.h"

namespace enginetest {

using testnet::TestNet;
using Opt = testnet::TestTransition::Options;

inline void seed(unsigned long s) {
  const unsigned long values[6] = {s, s + 1, s + 2, s + 3, s + 4, s + 5};
  RandomWrapper::SetPackageSeed(values);
}

inline Opt ranked(Opt o, int priority, double weight) {
  o.priority = priority;
  o.firingWeight = weight;
  return o;
}

inline Opt det(double delay, int priority = 0, double weight = 1.0) {
  return ranked(Opt::deterministic(delay), priority, weight);
}

inline std::string readFile(const std::filesystem::path& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// A Simulation from the calendar's first second to stopOffset seconds later, its state open to
// the tests, its runs returning what they print.
struct Sim : Simulation {
  Sim(NetClass* net, double stopOffset, int nofsampling, int mode, double epsMax,
      unsigned int secmax, double interval = 0.0)
      : Simulation(net, "net", "NULL", origin(), DateTime(origin() + stopOffset), nofsampling,
                   mode, true, false, epsMax, interval, secmax) {}
  static const DateTime& origin() {
    static const DateTime start;
    return start;
  }
  template <class F>
  static std::string console(F run) {
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
  }
  std::string transient() { return console([this] { double a = 0.05; run_transient(a); }); }
  std::string stationary() { return console([this] { double a = 0.05; run_stationary(a); }); }
  std::string results() {
    console([this] { shutdown(); });
    return readFile("results.log");
  }
  using Simulation::currentTime;
  using Simulation::lastChosen;
  using Simulation::loop;
  using Simulation::random;
};

// A marking measure whose estimates can be read.
struct Probe : testnet::MarkingMeasure {
  using MarkingMeasure::MarkingMeasure;
  std::vector<double> means() const { return {AveragedMean.begin(), AveragedMean.end()}; }
  std::vector<double> halfWidths() const { return {DeltaX.begin(), DeltaX.end()}; }
};

template <class M = Probe>
M* measure(TestNet& n, const char* name, const char* place, bool timeAveraged) {
  auto* m = new M(name, &n, place, timeAveraged);
  n.getPlace(place)->addMeasure(m);
  n.addMeasure(m);
  return m;
}

// The measure the engine keeps across rebuilds: the first build's, active again after a run.
inline Probe& active(NetClass& net, size_t index = 0) {
  auto it = net.getMeasureList().begin();
  std::advance(it, index);
  return *static_cast<Probe*>(*it);
}

// An arc from one place through a transition into another.
inline void step(TestNet& n, const char* from, const char* transition, const char* to) {
  n.linkPlaceToTransition(from, transition, 1);
  n.linkTransitionToPlace(transition, to, 1);
}

// a (one token) -t1-> b -t2-> c, each step a deterministic delay of one second.
inline void chain(TestNet& n) {
  n.place("a", 1);
  n.place("b", 2);
  n.place("c", 3);
  n.transition("t1", 1, det(1.0));
  n.transition("t2", 2, det(1.0));
  step(n, "a", "t1", "b");
  step(n, "b", "t2", "c");
  n.tokens("a", 1);
  measure(n, "inB", "b", false);
  measure(n, "inC", "c", false);
}

// One token in p, cycled back into p by "loop" every second.
template <class M = Probe>
void cycling(TestNet& n, bool timeAveraged) {
  n.place("p", 1);
  n.transition("loop", 1, det(1.0));
  step(n, "p", "loop", "p");
  n.tokens("p", 1);
  measure<M>(n, "full", "p", timeAveraged);
}

// Ten tokens, each dying after an exponential delay of mean 1 (an infinite server).
template <class M = Probe>
void dying(TestNet& n, bool timeAveraged = false) {
  n.place("alive", 1);
  Opt die = Opt::exponential(1.0);
  die.infinite = true;
  n.transition("die", 1, die);
  n.linkPlaceToTransition("alive", "die", 1);
  n.tokens("alive", 10);
  measure<M>(n, "alive", "alive", timeAveraged);
}

// Arrivals with mean gap 2 into a queue served with mean 1; the time-averaged queue length.
inline void mm1(TestNet& n) {
  n.place("queue", 1);
  n.transition("arrive", 1, Opt::exponential(2.0));
  n.transition("serve", 2, Opt::exponential(1.0));
  n.linkTransitionToPlace("arrive", "queue", 1);
  n.linkPlaceToTransition("queue", "serve", 1);
  measure(n, "inSystem", "queue", true);
}

// Runs the test in a folder of its own, so files written to the working directory by tests
// running in parallel never meet.
struct InOwnFolder {
  InOwnFolder() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    const auto folder = previous / "engine-tests" / info->test_suite_name() / info->name();
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
  }
  ~InOwnFolder() { std::filesystem::current_path(previous); }
  const std::filesystem::path previous = std::filesystem::current_path();
};

}  // namespace enginetest
