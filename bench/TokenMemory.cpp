// Heap and resident memory per live integer token in a place.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <fstream>

#include "support/TestNet.h"

using testnet::TestNet;

namespace {

double residentBytes() {
  long pages = 0;
  long resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

void TokenMemory(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  double heap = 0.0;
  double resident = 0.0;
  for (auto _ : state) {
    TestNet net([](TestNet& n) { n.place("p", 1); });
    net.buildNet();
    malloc_trim(0);
    const double heapBefore = static_cast<double>(mallinfo2().uordblks);
    const double residentBefore = residentBytes();
    net.tokens("p", count);
    heap = static_cast<double>(mallinfo2().uordblks) - heapBefore;
    resident = residentBytes() - residentBefore;
  }
  state.counters["heap bytes/token"] = heap / count;
  state.counters["rss bytes/token"] = resident / count;
}

}  // namespace

BENCHMARK(TokenMemory)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);
