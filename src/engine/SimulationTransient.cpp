#include "engine/Simulation.h"

#include <iostream>
#include <list>

#include "net/Binding.h"
#include "net/MeasureObj.h"
#include "net/NetClass.h"

// The transient run: independent replications sampled at equally spaced points.

void Simulation::startSampling() {
  samplingIndex = 0;
  nextSampling = *start;
}

bool Simulation::samplingPointsLeft() const { return samplingIndex < nofsampling; }

void Simulation::advanceSampling() {
  // Each point is computed from the start, not by adding the interval over and over: on a
  // calendar scale of some 6e10 seconds the repeated sum drifts and would miss the stop time.
  ++samplingIndex;
  if (samplingIndex == nofsampling - 1) {
    nextSampling = stop;
  } else if (samplingIndex < nofsampling) {
    nextSampling = *start + static_cast<double>(samplingIndex) * interval;
  } else {
    nextSampling = stop + interval;
  }
}

void Simulation::takeSamplingPoint(bool& done) {
  const bool last = atLastSamplingPoint();
  const bool ok = updateSamplingPoints(false);
  // The precision of a replication is tested at its last point, over all its points: the run ends
  // with the replication that makes every measure precise, and counts it.
  if (last) done = ok && loop > 5;
  advanceSampling();
}

void Simulation::sampleAt(Binding& sentinel, bool samplingPoint, bool& done) {
  // A measure that reads the clock at a point must find the point's time there, not the time of
  // the event after it (or, at a dead marking, of the last one), which the clock holds meanwhile.
  const DateTime now = currentTime;
  currentTime = nextSampling;
  sentinel = Binding(nextSampling);
  updateAllMeasures(&sentinel, true, samplingPoint);
  takeSamplingPoint(done);
  currentTime = now;
}

void Simulation::run_transient(double& alpha) {
  this->alpha = alpha;
  if (!analysisPossible()) return;
  loop = 0;
  bool done = false;
  interval = (stop.FullDateTime() - start->FullDateTime()) / (nofsampling - 1);
  if (!(interval > 0.0)) interval = stop.FullDateTime() - start->FullDateTime();
  startRunClock();
  lastProgressPrint = std::time(nullptr);
  noLimit = secmax == 0;
  Binding sentinel(*start);
  std::list<Binding*> candidates;

  while (!done) {
    rebuildNet();
    initMeasureList(loop == 0);
    startSampling();
    resetMeasures = true;
    // Only the last point can make a replication a success; a net without measures has nothing
    // to make precise.
    done = net->getMeasureList().empty();
    bool cut = false;

    for (;;) {
      if (mustEnd()) {
        cut = true;
        break;
      }
      getFirstBindingsOfAllTransitions(&candidates, false);
      Binding* binding = resolve_conflicts(candidates);
      if (binding == nullptr) {
        while (samplingPointsLeft()) sampleAt(sentinel, false, done);
        break;
      }
      eventTime = binding->getTime();
      updateSimulationTime(eventTime);
      if (net->getMeasureList().empty()) {
        if (eventTime > stop) break;
        logFiring(binding);
        executeEvent(binding);
        continue;
      }
      if (eventTime > stop) {
        while (samplingPointsLeft() && nextSampling < stop) sampleAt(sentinel, true, done);
        if (samplingPointsLeft() && nextSampling == stop) sampleAt(sentinel, false, done);
        break;
      }
      // A point is taken once the next event lies beyond it: it then sees every event of its
      // instant, the immediate ones their firings enable too, not only the first of them.
      while (samplingPointsLeft() && eventTime > nextSampling) sampleAt(sentinel, true, done);
      updateAllMeasures(binding, true, false);
      logFiring(binding);
      executeEvent(binding);
      if (!samplingPointsLeft()) break;
    }

    // A replication cut short, or one that ends at the limit without success, is not counted, and
    // is taken out of the estimates too: they hold the counted replications alone. A successful
    // one stands.
    if (cut || (!done && (interruptRequested != 0 || timeLimitReached()))) {
      for (MeasureObj* m : net->getMeasureList()) m->dropReplication(loop);
      done = false;
      break;
    }
    ++loop;
    if (analysisState != ANALYSIS_ON && loop > 5) analysisState = ANALYSIS_ON;
  }
  recycleCandidates(candidates);

  // Estimates come from the seventh replication on: when it was cut short, none stands.
  if (loop <= 5 || (loop == 6 && !done)) {
    std::cout << "WARNING NO ANALYSIS DONE: THE NUMBER OF LOOPS IN TRANSIENT SIMULATION LESS THAN "
                 "TEN."
              << std::endl;
  }
  std::cout << (done                      ? "\nSIMULATION SUCCESSFUL"
                : interruptRequested != 0 ? "\nABORT SIMULATION. INTERRUPTED."
                                          : "\nABORT SIMULATION. REACHED MAXIMUM RUNNING TIME.");
  // What the success or the abort rests on: the per-cent rule may accept points above the bound.
  size_t points = 0, above = 0;
  for (MeasureObj* m : net->getMeasureList()) {
    if (isImportance(m)) continue;
    points += m->analysedPoints();
    above += m->pointsAboveBound();
  }
  std::cout << "\n";
  if (points > 0) {
    std::cout << above << " OF " << points << " SAMPLING POINTS ABOVE THE ERROR BOUND"
              << (done && above > 0 ? " (PER-CENT RULE)" : "") << ", ";
  }
  std::cout << loop << " REPLICATIONS";
}
