#pragma once

#include <string>

#include "model/ModelTransition.h"

// Writes a frame out; the time it takes is exponential.
class Transition_Output__execution : public ModelTransition {
 public:
  Transition_Output__execution(int uniqueid, const char* name, NetClass* net,
                               const PlaceIdentMap& places, std::string pagePath,
                               double firingWeight, int priority, bool exp, bool takeFirst,
                               bool isInfinite, bool hasLocalGuard);

  Seconds_T getFiringDelay(TokenList& binding) const override;
  TempBindingList* generateBindingList() override;
  void moveTokens(TokenList& binding) override;

 private:
  Place& x_Place;
  Place& nona1_Place;
};
