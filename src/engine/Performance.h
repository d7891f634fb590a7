#pragma once

#include <string>

#include "engine/Simulation.h"

// The profiling run: fcount firings, lcount times over, each repetition timed. The net goes on
// from where the previous repetition left it; once it runs out of events the loops fire nothing.
class Performance : public Simulation {
 public:
  Performance(NetClass* net, const std::string& netname, const std::string& resport,
              const DateTime& start, long fcount, long lcount);
  ~Performance() override = default;

  void run();

 private:
  long fcount;
  long lcount;
};
