#include "engine/Performance.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <list>

#include "net/Binding.h"

Performance::Performance(NetClass* net, const std::string& netname, const std::string& resport,
                         const DateTime& start, long fcount, long lcount)
    : Simulation(net, netname, resport, start, DateTime(), 0, STATIONARY, false, true, 5.0, 50.0,
                 0),
      fcount(fcount),
      lcount(lcount) {}

void Performance::run() {
  std::cout << "firing " << lcount << " * " << fcount << " times" << std::endl;
  init();
  std::list<Binding*> candidates;
  for (long i = 0; i < lcount && interruptRequested == 0; ++i) {
    // A monotonic clock: a wall-clock step during a loop must not make its time negative.
    const auto begin = std::chrono::steady_clock::now();
    long fired = 0;
    for (; fired < fcount && interruptRequested == 0; ++fired) {
      getFirstBindingsOfAllTransitions(&candidates, false);
      Binding* binding = Simulation::resolve_conflicts(candidates);
      if (binding == nullptr) break;
      updateSimulationTime(binding->getTime());
      updateAllMeasures(binding, true, false);
      executeEvent(binding);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begin;
    std::cout << i << ". loop in " << DateTime(elapsed.count()) << std::endl;
    // The calendar form above shows whole seconds only.
    char rate[128];
    std::snprintf(rate, sizeof rate, "%ld firings in %.3f seconds, %.0f firings per second", fired,
                  elapsed.count(), elapsed.count() > 0.0 ? fired / elapsed.count() : 0.0);
    std::cout << rate << std::endl;
  }
  // The closing line of an interrupted run, as the simulation runs print it.
  if (interruptRequested != 0) std::cout << "\nABORT SIMULATION. INTERRUPTED." << std::flush;
}
