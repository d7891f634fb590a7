#pragma once

#include "core/DateTime.h"

class DefaultGM;

// What a net needs of the run that drives it. The engine's simulation implements it and registers
// itself with the net, so the net's elements reach their run without knowing the engine.
class RunContext {
 public:
  // Run modes; signatures pass them as plain ints.
  enum Mode { TRANSIENT = 0, STATIONARY = 1, RESTART = 2 };

  virtual const DateTime& getCurrentSimulationTime() const = 0;
  virtual bool isSingleStep() const = 0;
  // A watched value and a display value of an element, for the result socket.
  virtual void measureOut(DefaultGM* element, double value) = 0;
  virtual void displayOut(DefaultGM* element, double value) = 0;
  // The weight of the current path: below 1 inside importance splitting, 1 otherwise.
  virtual double getPathWeight() const = 0;

 protected:
  ~RunContext() = default;
};
