#include "model/MeasureObj_Execution__thread__pool__in__use.h"

#include "core/Assert.h"
#include "net/NetClass.h"
#include "net/Place.h"

MeasureObj_Execution__thread__pool__in__use* measure_Execution__thread__pool__in__use = nullptr;

MeasureObj_Execution__thread__pool__in__use::MeasureObj_Execution__thread__pool__in__use(
    NetClass* net)
    : MeasureObj("Execution_thread_pool_in_use", net, true) {}

double MeasureObj_Execution__thread__pool__in__use::measure(double) {
  const Place* pool = net->getPlace("Execution_thread_pool");
  KERNEL_ASSERT(pool != nullptr);
  // The marking file gives the pool its four threads; more free tokens than that give a negative
  // count rather than a wrapped one.
  return 4.0 - static_cast<double>(pool->getMarkingSize());
}
