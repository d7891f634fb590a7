// Heap and resident memory per live integer token in a place: the token with its count block and
// the node of the marking that holds it.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
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
    // Memory the small-object pool has taken stays with it for the next iteration: the first
    // iteration shows what the tokens cost.
    heap = std::max(heap, static_cast<double>(mallinfo2().uordblks) - heapBefore);
    resident = std::max(resident, residentBytes() - residentBefore);
  }
  state.counters["heap bytes/token"] = heap / count;
  state.counters["rss bytes/token"] = resident / count;
}

}  // namespace

BENCHMARK(TokenMemory)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);
