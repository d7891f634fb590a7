#pragma once

#include <string>

#include "model/ModelTransition.h"

// Starts the output of a frame with a free thread.
class Transition_Output__ready : public ModelTransition {
 public:
  Transition_Output__ready(int uniqueid, const char* name, NetClass* net,
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
