#pragma once

#include <string>

#include "model/ModelTransition.h"

// The video source: takes a free thread and emits a new frame.
class Transition_Video__ready : public ModelTransition {
 public:
  Transition_Video__ready(int uniqueid, const char* name, NetClass* net,
                          const PlaceIdentMap& places, std::string pagePath, double firingWeight,
                          int priority, bool exp, bool takeFirst, bool isInfinite,
                          bool hasLocalGuard);

  Seconds_T getFiringDelay(TokenList& binding) const override;
  TempBindingList* generateBindingList() override;
  void moveTokens(TokenList& binding) override;

 private:
  Place& pool_Place;
  Place& nona1_Place;
};
