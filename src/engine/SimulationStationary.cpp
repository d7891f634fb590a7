#include "engine/Simulation.h"

#include <algorithm>
#include <iostream>
#include <list>

#include "net/Binding.h"
#include "net/MeasureObj.h"
#include "net/NetClass.h"

// The stationary run: one long path analysed by batch means.

void Simulation::run_stationary(double& alpha) {
  this->alpha = alpha;
  if (!analysisPossible()) return;
  bool ok = false;
  int events = 0;
  rebuildNet();
  initMeasureList(true);
  analysisState = ANALYSIS_FIRST_BATCH;
  resetMeasures = true;
  nextSampling = *start;
  startRunClock();
  lastProgressPrint = std::time(nullptr);
  noStop = false;
  noLimit = secmax == 0;
  if (stop.FullDateTime() - start->FullDateTime() <= 0.0) noStop = true;
  // Only time-averaged measures are loaded in this mode. Without one there is nothing to
  // analyse, and nothing to succeed at.
  const auto& measures = net->getMeasureList();
  if (std::all_of(measures.begin(), measures.end(), isImportance)) {
    std::cout << "\nNO MEASURE COULD BE ANALYSED: THE NET HAS NO TIME-AVERAGED MEASURE.";
    return;
  }
  std::list<Binding*> candidates;

  while (!ok && (currentTime <= stop || noStop) && !mustEnd()) {
    getFirstBindingsOfAllTransitions(&candidates, false);
    Binding* binding = resolve_conflicts(candidates);
    if (binding == nullptr) {
      std::cout << "WARNING: Stationary simulation stops at a dead marking." << std::endl;
      break;
    }
    eventTime = binding->getTime();
    updateSimulationTime(eventTime);
    updateAllMeasures(binding, true, false);
    ++events;
    if (events >= BATCH_EVENTS || (!noStop && eventTime > stop)) {
      ok = updateSamplingPoints(true);
      events = 0;
      if (analysisState != ANALYSIS_ON) ++analysisState;
    }
    logFiring(binding);
    executeEvent(binding);
  }
  recycleCandidates(candidates);

  if (analysisState != ANALYSIS_ON) {
    std::cout << "\nNUMBER OF EVENTS LESS THAN 3. NO MEASURE HAS REACHED THE PREDEFINED ACCURACY."
              << std::endl;
  }
  for (MeasureObj* m : net->getMeasureList()) {
    if (m->batchLength() == 0) continue;
    std::cout << "\nBATCH LENGTH " << m->getName() << ": " << m->batchLength() * BATCH_EVENTS
              << " EVENTS";
  }
  if (!ok) {
    const char* reason = !noStop && currentTime >= stop ? "REACHED MAXIMUM MODEL TIME."
                         : interruptRequested != 0      ? "INTERRUPTED."
                                                        : "REACHED MAXIMUM RUN TIME.";
    std::cout << "\nABORTED SIMULATION. " << reason;
  } else {
    std::cout << "\nSIMULATION SUCCESSFUL";
  }
}
