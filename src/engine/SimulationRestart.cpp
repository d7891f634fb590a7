#include "engine/Simulation.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <list>

#include "net/Binding.h"
#include "net/MeasureObj.h"
#include "net/NetClass.h"

// The RESTART run: importance splitting on the measure "ImportanceFunction".

namespace {

// Main-path seconds between two RESTART sampling points when neither the caller nor a stop time
// gives the spacing.
const double kRestartSamplingInterval = 100.0;

}  // namespace

int Simulation::level(double thrmin, double thrmax, double value, int thrnumber) {
  const double width = (thrmax - thrmin) / (static_cast<double>(thrnumber) + 1.0);
  const double top = std::floor((thrmax - thrmin) / width + 1.0);
  const double l = std::floor((value - thrmin) / width + 1.0);
  // Clamped while still doubles: NaN, infinities and values beyond int have no defined conversion.
  if (!(l > 0.0) || !(top > 0.0)) return 0;
  return static_cast<int>(std::min({l, top, static_cast<double>(INT_MAX)}));
}

void Simulation::save_simulation_state(int level) {
  savedStates.emplace_back(net, level, currentTime);
  const std::string& problem = savedStates.back().getProblem();
  if (!problem.empty()) {
    std::cerr << "Error: the simulation state cannot be saved faithfully: " << problem << std::endl;
    std::exit(1);
  }
}

void Simulation::load_last_simulation_state() {
  SimSavedState& state = savedStates.back();
  state.restoreMarkings(net->getPlaces());
  state.restoreTransitionStates(net->getTransitions());
  for (MeasureObj* m : net->getMeasureList()) m->setLastTime(state.getStateTime());
}

void Simulation::delete_last_simulation_state() { savedStates.pop_back(); }

void Simulation::splitPath(int newLevel, int repeats) {
  save_simulation_state(newLevel);
  savedStates.back().setTrials(repeats - 1);
  if (repeats > 1) ++retrialsPending;
}

// A retrial ends when its path falls below the level at which it was split, the level of the
// state on top of the stack; not merely below the path's previous level, which after a jump of
// several levels lies above it. A state whose retrials are used up is dropped and the next one
// down is tested the same way. A newLevel below 0 ends the current retrial whatever its level.
void Simulation::fallBelow(int& newLevel) {
  while (!savedStates.empty() && newLevel < savedStates.back().getStateLevel()) {
    SimSavedState& top = savedStates.back();
    if (top.getTrials() < 1) {
      delete_last_simulation_state();
    } else {
      load_last_simulation_state();
      top.decrementTrials();
      if (top.getTrials() == 0) --retrialsPending;
      newLevel = top.getStateLevel();
    }
  }
}

bool Simulation::run_restart_iterative(int repeats, double thrmin, double thrmax, int thrnumber) {
  const double R = static_cast<double>(repeats);
  // The weight follows the depth of the stack: recomputing it never drifts, and a path that
  // starts high without having been split keeps weight 1.
  auto pathWeight = [&] { return std::pow(R, -static_cast<double>(savedStates.size())); };
  DateTime last = *start;
  currentTime = *start;
  restartTime = 0.0;
  restartSampleBase = 0.0;
  retrialsPending = 0;
  double nextPoint = interval;
  int oldLevel = level(thrmin, thrmax, importance->measure(-1.0), thrnumber);
  weight = pathWeight();
  std::list<Binding*> candidates;
  bool finished = false;

  while (!mustEnd()) {
    getFirstBindingsOfAllTransitions(&candidates, false);
    Binding* binding = resolve_conflicts(candidates);
    // Time counts on the main path only: the last retrial of every split, never one that will be
    // put back. So restartTime never jumps back on a restore.
    const bool mainPath = retrialsPending == 0;
    const bool beyondStop = binding != nullptr && !noStop && binding->getTime() > stop;
    if (binding == nullptr || beyondStop) {
      if (mainPath) {
        if (beyondStop) {
          eventTime = binding->getTime();
          updateSimulationTime(eventTime);
        } else {
          std::cout << "WARNING: RESTART simulation stops at a dead marking." << std::endl;
          finished = true;
        }
        break;
      }
      // A retrial that dies out or runs past the stop time is over; the next one starts.
      int ended = -1;
      fallBelow(ended);
      oldLevel = ended;
      weight = pathWeight();
      continue;
    }

    eventTime = binding->getTime();
    updateSimulationTime(eventTime);
    if (mainPath) {
      restartTime += currentTime - last;
      last = currentTime;
    }
    updateAllMeasures(binding, true, false);
    logFiring(binding);
    executeEvent(binding);
    if (analysisState != ANALYSIS_ON) ++analysisState;
    if (mainPath && restartTime >= nextPoint) {
      const bool ok = updateSamplingPoints(true);
      restartSampleBase = restartTime;
      nextPoint = (std::floor(restartTime / interval) + 1.0) * interval;
      if (ok) {
        finished = true;
        break;
      }
    }

    int newLevel = level(thrmin, thrmax, importance->measure(-1.0), thrnumber);
    if (newLevel < oldLevel) {
      fallBelow(newLevel);
    } else if (newLevel > oldLevel) {
      splitPath(newLevel, repeats);
    }
    oldLevel = newLevel;
    weight = pathWeight();
  }
  recycleCandidates(candidates);
  return finished;
}

void Simulation::run_restart(double& alpha, int repeats, double thrmin, double thrmax,
                             int thrnumber) {
  this->alpha = alpha;
  rebuildNet();
  initMeasureList(true);
  resetMeasures = true;
  nextSampling = *start;
  analysisState = ANALYSIS_FIRST_BATCH;
  startRunClock();
  lastProgressPrint = std::time(nullptr);
  noStop = false;
  noLimit = secmax == 0;
  if (stop == DateTime(0.0)) noStop = true;
  std::cout << "\nRESTART simulation starts." << std::endl << "\nParameters: " << std::endl;

  importance = nullptr;
  for (MeasureObj* m : net->getMeasureList()) {
    if (isImportance(m)) {
      importance = m;
      break;
    }
  }
  if (importance == nullptr) {
    std::cerr << "Error: no Importance Function ('ImportanceFunction') measure was defined!"
              << std::endl;
    std::exit(1);
  }
  // Anything else leaves the level width or the path weight undefined.
  if (repeats < 1 || thrnumber < 0 || !std::isfinite(thrmin) || !std::isfinite(thrmax) ||
      !(thrmax > thrmin)) {
    std::cerr << "Error: RESTART needs repeats >= 1, thrnumber >= 0 and finite thresholds with "
                 "thrmax > thrmin."
              << std::endl;
    std::exit(1);
  }
  if (!analysisPossible()) return;
  // The analysis runs at sampling points spaced on the main path's time; without a spacing it
  // would repeat at one point forever.
  if (!(interval > 0.0) || !std::isfinite(interval)) {
    const double span = stop - *start;
    interval = !noStop && span > 0.0 ? span / 100.0 : kRestartSamplingInterval;
  }

  const bool finished = run_restart_iterative(repeats, thrmin, thrmax, thrnumber);
  if (analysisState != ANALYSIS_ON) {
    std::cout << "\nNUMBER OF EVENTS LESS THAN 3. NO MEASURE HAS REACHED THE PREDEFINED ACCURACY."
              << std::endl;
  }
  if (finished) {
    std::cout << "\nRESTART simulation finished.";
  } else {
    const char* reason = !noStop && currentTime >= stop ? "REACHED MAXIMUM MODEL TIME."
                         : interruptRequested != 0      ? "INTERRUPTED."
                                                        : "REACHED MAXIMUM RUNNING TIME.";
    std::cout << "\nABORT SIMULATION. " << reason;
  }
}
