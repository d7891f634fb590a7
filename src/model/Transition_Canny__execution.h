#pragma once

#include <string>

#include "model/ModelTransition.h"

// Runs the edge detection on a frame for a fixed time.
class Transition_Canny__execution : public ModelTransition {
 public:
  Transition_Canny__execution(int uniqueid, const char* name, NetClass* net,
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
