// The video-pipeline model: events per second of the profiling run and its allocations per
// firing, the cost of one rebuild of the net, transient replications per second over 0..200 s,
// saved states saved and restored per second, and the time to read a "marking.xml" of 200000
// tokens. Run in a folder of their own holding a copy of the shipped "marking.xml".

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "CountingNew.h"
#include "engine/Performance.h"
#include "engine/Simulation.h"
#include "model/ImplementedNetClass.h"
#include "net/Token_int.h"
#include "net/Transition.h"

namespace {

namespace fs = std::filesystem;

// The folder lives as long as the program and is removed at exit, with whatever the runs wrote.
struct ModelFolder {
  const fs::path home = fs::current_path();
  const fs::path folder =
      fs::temp_directory_path() / ("vudi-model-bench-" + std::to_string(getpid()));
  ModelFolder() {
    fs::create_directories(folder);
    fs::copy_file(fs::path(VUDI_SOURCE_DIR) / "marking.xml", folder / "marking.xml",
                  fs::copy_options::overwrite_existing);
    fs::current_path(folder);
  }
  ~ModelFolder() {
    std::error_code ignored;
    fs::current_path(home, ignored);
    fs::remove_all(folder, ignored);
  }
};

void inModelFolder() { static const ModelFolder folder; }

// The runs print their closing lines; the benchmarks keep them off the console.
struct Quiet {
  Quiet() : console(std::cout.rdbuf(sink.rdbuf())) {}
  ~Quiet() { std::cout.rdbuf(console); }
  std::ostringstream sink;
  std::streambuf* console;
};

// The profiling run on a freshly built net, 100000 firings a time. The allocations counted are
// those of the runs, their start-up included, not of building the net.
void ProfilingLoop(benchmark::State& state) {
  inModelFolder();
  Quiet quiet;
  const long perIteration = 100000;
  Counter fired = 0;
  Counter allocated = 0;
  for (auto _ : state) {
    ImplementedNetClass net;
    net.buildNet();
    const DateTime start;
    Performance run(&net, "bench", "NULL", start, perIteration, 1);
    const Counter before = Transition::globalFireCount;
    const Counter allocatedBefore = allocations;
    run.run();
    allocated += allocations - allocatedBefore;
    fired += Transition::globalFireCount - before;
  }
  state.counters["events/s"] =
      benchmark::Counter(static_cast<double>(fired), benchmark::Counter::kIsRate);
  state.counters["allocs/firing"] = static_cast<double>(allocated) / static_cast<double>(fired);
}

// What a transient replication does before its first event: the net cleared and built again,
// the pool's threads taken from "marking.xml" as the first build read it.
void Rebuild(benchmark::State& state) {
  inModelFolder();
  ImplementedNetClass net;
  net.buildNet();
  for (auto _ : state) {
    net.clearMaps();
    net.buildNet();
    net.loadMeasureList(Simulation::TRANSIENT);
  }
}

struct Transient : Simulation {
  using Simulation::loop;
  using Simulation::Simulation;
};

// Transient runs over 0..200 s with 11 sampling points; a relative error no estimate misses ends
// each run after its seventh replication, the fewest that give an estimate.
void TransientReplications(benchmark::State& state) {
  inModelFolder();
  Quiet quiet;
  double replications = 0;
  for (auto _ : state) {
    ImplementedNetClass net;
    net.buildNet();
    const DateTime start(0.0);
    Transient sim(&net, "bench", "NULL", start, DateTime(200.0), 11, Simulation::TRANSIENT, true,
                  false, 1e300, 0.0, 0);
    sim.init();
    double alpha = 0.05;
    sim.run_transient(alpha);
    replications += sim.loop;
  }
  state.counters["replications/s"] = benchmark::Counter(replications, benchmark::Counter::kIsRate);
}

// The whole state of the net 50 events into a run, saved and put back.
void SaveRestore(benchmark::State& state) {
  inModelFolder();
  ImplementedNetClass net;
  net.buildNet();
  const DateTime start;
  Simulation sim(&net, "bench", "NULL", start, start + 1e9, 1, Simulation::RESTART, true, false,
                 0.0, 0.0, 0);
  sim.init();
  std::list<Binding*> events;
  for (int i = 0; i < 50; ++i) {
    sim.getFirstBindingsOfAllTransitions(&events, false);
    Binding* binding = sim.resolve_conflicts(events);
    sim.updateSimulationTime(binding->getTime());
    sim.executeEvent(binding);
  }
  for (auto _ : state) {
    sim.save_simulation_state(1);
    sim.load_last_simulation_state();
    sim.delete_last_simulation_state();
  }
  state.counters["save+restore/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

// "marking.xml" with 200000 tokens in the pool, read as a net's first build reads it.
void MarkingFileRead(benchmark::State& state) {
  inModelFolder();
  const fs::path large = fs::current_path() / "large";
  fs::create_directories(large);
  std::ofstream file(large / "marking.xml");
  file << "<marking>\n";
  for (int k = 0; k < 200000; ++k)
    file << "  <token place=\"Execution_thread_pool\" value=\"0\"/>\n";
  file << "</marking>\n";
  file.close();
  fs::current_path(large);
  for (auto _ : state) benchmark::DoNotOptimize(Token_int::readInitialTokens());
  fs::current_path(large.parent_path());
}

BENCHMARK(ProfilingLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(Rebuild)->Unit(benchmark::kMicrosecond);
BENCHMARK(TransientReplications)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveRestore);
BENCHMARK(MarkingFileRead)->Unit(benchmark::kMillisecond);
