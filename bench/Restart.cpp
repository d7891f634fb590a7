// Saved simulation states on the M/M/1 queue of the tests: save+restore pairs per second, and the
// heap in use after 100 and after 10 000 retrials. The model's net has its own in ModelRate.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include "support/TestNet.h"

using testnet::MarkingMeasure;
using testnet::TestNet;
using testnet::TestTransition;

namespace {

// Arrivals with mean gap 2, service with mean 1, `waiting` customers at the start; the importance
// function and the indicator of at least 8 customers.
std::function<void(TestNet&)> queue(int waiting) {
  return [waiting](TestNet& n) {
    n.place("queue", 1);
    n.transition("arrive", 1, TestTransition::Options::exponential(2.0));
    n.transition("serve", 2, TestTransition::Options::exponential(1.0));
    n.linkTransitionToPlace("arrive", "queue", 1);
    n.linkPlaceToTransition("queue", "serve", 1);
    n.tokens("queue", waiting);
    n.addMeasure(new testnet::ImportanceMeasure(&n, "queue"));
    auto* rare = new MarkingMeasure("full", &n, "queue", true, 8);
    n.getPlace("queue")->addMeasure(rare);
    n.addMeasure(rare);
  };
}

// An initialised RESTART simulation of the net, with the net built.
struct Run {
  explicit Run(int waiting) : net(queue(waiting)) {
    net.buildNet();
    sim.init();
  }
  void fire() {
    sim.getFirstBindingsOfAllTransitions(&events, false);
    Binding* binding = sim.resolve_conflicts(events);
    sim.updateSimulationTime(binding->getTime());
    sim.executeEvent(binding);
    events.clear();  // so that the heap figures do not depend on the number of the last candidates
  }
  TestNet net;
  const DateTime start;
  Simulation sim{&net, "bench", "NULL", start, start + 1e9, 1, 2, true, false, 0.0, 0.0, 0};
  std::list<Binding*> events;
};

void SaveRestore(benchmark::State& state) {
  Run run(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    run.sim.save_simulation_state(1);
    run.sim.load_last_simulation_state();
    run.sim.delete_last_simulation_state();
  }
  state.counters["save+restore/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// One saved state put back 10 000 times, two events fired after each restore.
void RetrialMemory(benchmark::State& state) {
  double heap100 = 0.0, heap10000 = 0.0, tokens100 = 0.0, tokens10000 = 0.0;
  for (auto _ : state) {
    Run run(5);
    run.sim.save_simulation_state(1);
    for (int retrial = 1; retrial <= 10000; ++retrial) {
      run.fire();
      run.fire();
      run.sim.load_last_simulation_state();
      if (retrial == 100 || retrial == 10000) {
        (retrial == 100 ? heap100 : heap10000) = static_cast<double>(mallinfo2().uordblks);
        (retrial == 100 ? tokens100 : tokens10000) = static_cast<double>(Token::concTokenCounter);
      }
    }
  }
  state.counters["heap after 100"] = heap100;
  state.counters["heap after 10000"] = heap10000;
  state.counters["tokens after 100"] = tokens100;
  state.counters["tokens after 10000"] = tokens10000;
}

}  // namespace

BENCHMARK(SaveRestore)->Arg(1)->Arg(8)->Arg(100);
BENCHMARK(RetrialMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
