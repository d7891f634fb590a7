// Events per second of stationary runs: the M/M/1 queue over two run lengths, also as a RESTART
// run, and T independent transitions each cycling a token of its own place. Every run also
// reports the allocations per event, counted by this program's own operator new.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "CountingNew.h"
#include "support/TestNet.h"

using testnet::MarkingMeasure;
using testnet::TestNet;
using testnet::TestTransition;

namespace {

std::string label(char prefix, int i) {
  char text[16];
  std::snprintf(text, sizeof text, "%c%d", prefix, i);
  return text;
}

// T transitions t<i>, each moving the token of its place p<i> back into it.
std::function<void(TestNet&)> independent(int count) {
  return [count](TestNet& n) {
    for (int i = 0; i < count; ++i) {
      const std::string place = label('p', i);
      const std::string transition = label('t', i);
      n.place(place.c_str(), i + 1);
      n.transition(transition.c_str(), i + 1, TestTransition::Options::exponential(1.0));
      n.linkPlaceToTransition(place.c_str(), transition.c_str(), 1);
      n.linkTransitionToPlace(transition.c_str(), place.c_str(), 1);
      n.tokens(place.c_str(), 1);
    }
    auto* m = new MarkingMeasure("first", &n, "p0", true);
    n.getPlace("p0")->addMeasure(m);
    n.addMeasure(m);
  };
}

// Runs the net for `span` simulated seconds per iteration in the given mode and reports the firing
// rate and the allocations per event of the runs (building the net not counted). RESTART runs
// split at 3, 5 and 7 customers with four trials each.
void simulate(benchmark::State& state, const std::function<void(TestNet&)>& build, double span,
              int mode = 1) {
  Counter events = 0;
  Counter allocated = 0;
  std::ostringstream sink;
  std::streambuf* console = std::cout.rdbuf(sink.rdbuf());
  for (auto _ : state) {
    TestNet net(build);
    net.buildNet();
    const DateTime start;
    // A relative error of 0 is never reached: every run goes on to its stop time.
    Simulation sim(&net, "bench", "NULL", start, start + span, 1, mode, true, false, 0.0, 0.0, 0);
    sim.init();
    const Counter before = Transition::globalFireCount;
    const Counter allocatedBefore = allocations;
    double alpha = 0.05;
    mode == 1 ? sim.run_stationary(alpha) : sim.run_restart(alpha, 4, 3.0, 7.0, 1);
    allocated += allocations - allocatedBefore;
    events += Transition::globalFireCount - before;
    sink.str("");
  }
  std::cout.rdbuf(console);
  const double fired = static_cast<double>(events);
  state.counters["events/s"] = benchmark::Counter(fired, benchmark::Counter::kIsRate);
  state.counters["events/run"] = benchmark::Counter(fired, benchmark::Counter::kAvgIterations);
  state.counters["allocs/event"] = static_cast<double>(allocated) / fired;
}

// About as many events as the argument: the queue at rho 0.5 fires one event per second. The rate
// stays the same from 100 000 to 2 000 000 events, since an analysis costs the same however many
// batches came before it.
void MM1(benchmark::State& state) {
  simulate(state, testnet::mm1(0.5), static_cast<double>(state.range(0)));
}

void RestartMM1(benchmark::State& state) {
  auto build = [](TestNet& n) {
    testnet::mm1(0.5)(n);
    n.addMeasure(new testnet::ImportanceMeasure(&n, "queue"));
  };
  simulate(state, build, 100000.0, 2);
}

// The rate at T transitions should not fall with T: the engine finds the next event without asking
// every transition.
void Independent(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  // About 100000 events whatever the number of transitions.
  simulate(state, independent(count), 100000.0 / count);
}

}  // namespace

BENCHMARK(MM1)->Arg(100000)->Arg(2000000)->Unit(benchmark::kMillisecond);
BENCHMARK(RestartMM1)->Unit(benchmark::kMillisecond);
BENCHMARK(Independent)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
