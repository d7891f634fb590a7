#pragma once

// The engine tests' Simulation and measure with their state open, and the small nets they share.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/RandomWrapper.h"
#include "support/TestNet.h"

namespace enginetest {

using namespace testnet;
using Values = std::vector<double>;

inline void seed(unsigned long s) {
  const unsigned long values[6] = {s, s + 1, s + 2, s + 3, s + 4, s + 5};
  RandomWrapper::SetPackageSeed(values);
}

inline Opt det(double delay, int priority = 0, double weight = 1.0) {
  return {.firingWeight = weight, .priority = priority, .kind = Opt::Kind::deterministic, .delay = delay};
}

// Sanitizer builds run many times slower: long runs are cut down there.
#ifdef __SANITIZE_ADDRESS__
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// The calendar's first second, where every simulation here starts.
inline const DateTime kOrigin;

inline std::string readFile(const std::filesystem::path& path) {
  return {std::istreambuf_iterator<char>(std::ifstream(path).rdbuf()), {}};
}

inline std::string printed(const std::function<void()>& work) {
  testing::internal::CaptureStdout();
  work();
  return testing::internal::GetCapturedStdout();
}

// An initialised Simulation of the built net from kOrigin (or `from`), its state open to the tests.
struct Sim : Simulation {
  Sim(NetClass* net, double stopOffset, int nofsampling = 1, int mode = 1, double epsMax = 0.05,
      unsigned int secmax = 0, double interval = 0.0, const DateTime& from = kOrigin)
      : Simulation(net, "net", "NULL", from, DateTime(from + stopOffset), nofsampling, mode, true,
                   false, epsMax, interval, secmax) {
    net->buildNet(), init();
  }
  std::string run(double alpha = 0.05) {  // what a transient or stationary run prints
    return printed([&] { mode == 0 ? run_transient(alpha) : run_stationary(alpha); });
  }
  std::string restart(int repeats, double thrmin, double thrmax, int thrnumber,
                      double alpha = 0.05) {
    return printed([&] { run_restart(alpha, repeats, thrmin, thrmax, thrnumber); });
  }
  std::string results() { return printed([&] { shutdown(); }), readFile("results.log"); }
  // The next events, kept in `events`, by their transitions' names.
  std::string next(bool all = false) {
    getFirstBindingsOfAllTransitions(&events, all);
    std::string names;
    for (const Binding* b : events) names += " " + b->getBoundTransition()->getName();
    return names.empty() ? names : names.substr(1);
  }
  std::list<Binding*> events;
  using Simulation::lastChosen, Simulation::loop, Simulation::random, Simulation::runStart,
      Simulation::restartTime, Simulation::savedStates;
};

// a (one token) -t1-> b -t2-> c, each step a deterministic delay of one second.
inline void chain(TestNet& n) {
  for (const char* place : {"a", "b", "c"}) n.place(place, place[0] - 'a' + 1);
  step(n, "a", "t1", 1, det(1.0), "b"), step(n, "b", "t2", 2, det(1.0), "c");
  n.tokens("a", 1), measure(n, "inB", "b", false), measure(n, "inC", "c", false);
}

// One token in p, cycled back into p by "loop" every second.
template <class M = Probe>
void cycling(TestNet& n, bool timeAveraged) {
  n.place("p", 1), step(n, "p", "loop", 1, det(1.0), "p"), n.tokens("p", 1);
  measure<M>(n, "full", "p", timeAveraged);
}

// Runs the test in a folder of its own, so the files tests running in parallel write never meet.
struct InOwnFolder {
  InOwnFolder() {
    const auto folder =
        previous / "test-folders" / testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(folder), std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
  }
  ~InOwnFolder() { std::filesystem::current_path(previous); }
  const std::filesystem::path previous = std::filesystem::current_path();
};

}  // namespace enginetest
