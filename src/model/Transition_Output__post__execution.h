#pragma once

#include <string>

#include "model/ModelTransition.h"

// Ends the output of a frame, which leaves the pipeline; the thread goes back to the
// pool.
class Transition_Output__post__execution : public ModelTransition {
 public:
  Transition_Output__post__execution(int uniqueid, const char* name, NetClass* net,
                                     const PlaceIdentMap& places, std::string pagePath,
                                     double firingWeight, int priority, bool exp, bool takeFirst,
                                     bool isInfinite, bool hasLocalGuard);

  TempBindingList* generateBindingList() override;
  void moveTokens(TokenList& binding) override;

 private:
  Place& x_Place;
  Place& nona1_Place;
};
