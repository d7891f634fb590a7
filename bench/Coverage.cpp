// Whether the engine's confidence intervals hold their level: small nets with exact answers, each
// run over many seeds at confidence 95 (intervals of level 97.5%), relative error 0.05, no per-cent
// rule. Prints per estimated value the share of intervals that contain the exact value with its
// standard error, the mean estimate against the exact value and the mean run length.
//   Coverage [seeds [first seed]]    (500 seeds per case from seed 0 when not given)

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestNet.h"

using testnet::TestNet;

namespace {

const DateTime origin;
int first = 0;  // the first seed of every case

// A run of its own from the calendar's first second to `stop` seconds later.
struct Run : Simulation {
  Run(NetClass* net, double stop, int points, int mode)
      : Simulation(net, "coverage", "NULL", origin, origin + stop, points, mode, true, false, 0.05,
                   0.0, 0) {
    net->buildNet();
    init();
  }
  int replications() const { return loop; }
};

// Package seeds far apart, one set per run, as the program makes them from --seed.
void seed(std::uint64_t run) {
  RandomWrapper::SetPackageSeed(RandomWrapper::seedWords(run).data());
}

struct Tally {
  std::string name;
  double exact;
  int runs = 0, covered = 0;
  double estimates = 0.0, length = 0.0, batch = 0.0;

  void add(double mean, double halfWidth, double runLength, double batchLength = 0.0) {
    ++runs;
    if (std::fabs(mean - exact) <= halfWidth) ++covered;
    estimates += mean;
    length += runLength;
    batch += batchLength;
  }
  void print(const char* unit) const {
    const double p = static_cast<double>(covered) / runs;
    std::printf("| %-26s | %4d | %5.1f%% +- %.1f | %8.4f | %8.4f | %10.0f %-12s |", name.c_str(),
                runs, 100.0 * p, 100.0 * std::sqrt(p * (1.0 - p) / runs), estimates / runs, exact,
                length / runs, unit);
    if (batch > 0.0) {
      std::printf(" %6.0f |\n", batch / runs);
    } else {
      std::printf(" - |\n");
    }
    std::fflush(stdout);
  }
};

void queue(double rho, int seeds, int firstSeed) {
  Tally tally{"M/M/1 rho " + std::to_string(rho).substr(0, 3) + " stationary", rho / (1.0 - rho)};
  for (int s = 0; s < seeds; ++s) {
    seed(first + firstSeed + s);
    TestNet net(testnet::mm1(rho));
    Run run(&net, 0.0, 1, 1);
    const Counter before = Transition::globalFireCount;
    double alpha = 0.05;
    run.run_stationary(alpha);
    const testnet::Probe& probe = testnet::active(net);
    tally.add(probe.means().back(), probe.halfWidths().back(),
              static_cast<double>(Transition::globalFireCount - before),
              static_cast<double>(probe.batchLength() * Simulation::BATCH_EVENTS));
  }
  tally.print("events");
}

// A transient case: every sampling point of every measure against its exact value.
void transient(const std::function<void(TestNet&)>& build, double stop, int points,
               std::vector<std::vector<Tally>> tallies, int seeds, int firstSeed) {
  for (int s = 0; s < seeds; ++s) {
    seed(first + firstSeed + s);
    TestNet net(build);
    Run run(&net, stop, points, 0);
    double alpha = 0.05;
    run.run_transient(alpha);
    for (size_t m = 0; m < tallies.size(); ++m) {
      const testnet::Probe& probe = testnet::active(net, m);
      for (size_t k = 0; k < tallies[m].size(); ++k) {
        if (tallies[m][k].name.empty()) continue;  // a point known exactly
        tallies[m][k].add(probe.means().at(k), probe.halfWidths().at(k), run.replications());
      }
    }
  }
  for (const auto& perMeasure : tallies) {
    for (const Tally& tally : perMeasure) {
      if (!tally.name.empty()) tally.print("replications");
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int seeds = argc > 1 ? std::atoi(argv[1]) : 500;
  first = argc > 2 ? std::atoi(argv[2]) : 0;
  std::ostringstream sink;
  std::streambuf* console = std::cout.rdbuf(sink.rdbuf());
  std::printf(
      "| case | runs | coverage +- s.e. | mean estimate | exact | mean run length | "
      "mean batch (events) |\n|---|---|---|---|---|---|---|\n");
  std::fflush(stdout);
  queue(0.5, seeds, 1000000);
  queue(0.8, seeds, 1500000);
  std::vector<Tally> death(1);  // the start: ten alive, always
  for (int t = 1; t <= 3; ++t) {
    death.push_back({"pure death, t = " + std::to_string(t), 10.0 * std::exp(-t)});
  }
  transient([](TestNet& n) { testnet::dying(n); }, 3.0, 4, {death}, seeds, 2000000);
  std::vector<Tally> averaged(1);  // the same deaths averaged over time from the start
  for (int t = 1; t <= 4; ++t)
    averaged.push_back(
        {"time-averaged death, t = " + std::to_string(t), 10.0 * (1.0 - std::exp(-t)) / t});
  transient([](TestNet& n) { testnet::dying(n, true); }, 4.0, 5, {averaged}, seeds, 4000000);
  // One sampling point, the start: the conflict is decided there.
  transient(testnet::oneToThree, 1.0, 1,
            {{{"1:3 conflict, light", 0.25}}, {{"1:3 conflict, heavy", 0.75}}}, seeds, 3000000);
  std::cout.rdbuf(console);
  return 0;
}
