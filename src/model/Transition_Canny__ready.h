#pragma once

#include <string>

#include "model/ModelTransition.h"

// Starts edge detection on a frame with a free thread.
class Transition_Canny__ready : public ModelTransition {
 public:
  Transition_Canny__ready(int uniqueid, const char* name, NetClass* net,
                          const PlaceIdentMap& places, std::string pagePath, double firingWeight,
                          int priority, bool exp, bool takeFirst, bool isInfinite,
                          bool hasLocalGuard);

  TempBindingList* generateBindingList() override;
  void moveTokens(TokenList& binding) override;

 private:
  Place& pool_Place;
  Place& x_Place;
  Place& nona1_Place;
};
