#pragma once

#include <string>

#include "model/ModelTransition.h"

// Carries a frame from the edge-detection stage to the output stage.
class Transition_con__mC6n : public ModelTransition {
 public:
  Transition_con__mC6n(int uniqueid, const char* name, NetClass* net, const PlaceIdentMap& places,
                       std::string pagePath, double firingWeight, int priority, bool exp,
                       bool takeFirst, bool isInfinite, bool hasLocalGuard);

  Seconds_T getFiringDelay(TokenList& binding) const override;
  TempBindingList* generateBindingList() override;
  void moveTokens(TokenList& binding) override;

 private:
  Place& x_Place;
  Place& nona1_Place;
};
