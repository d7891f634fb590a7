#pragma once

#include "net/MeasureObj.h"

// The number of worker threads in use: the pool's four threads less the free ones waiting in
// "Execution_thread_pool". An instantaneous measure, reported on the result socket.
class MeasureObj_Execution__thread__pool__in__use : public MeasureObj {
 public:
  explicit MeasureObj_Execution__thread__pool__in__use(NetClass* net);

  // The pool is looked up by name on every call, so the value follows the net's current build.
  double measure(double dt) override;
  bool accumulative() override { return false; }
  bool timeaverage() override { return false; }
  void accum(const Binding*, double) override {}
};

// The measure of the net's latest build.
extern MeasureObj_Execution__thread__pool__in__use* measure_Execution__thread__pool__in__use;
