#pragma once

#include <string>

#include "model/ModelTransition.h"

// Ends the video stage of a frame: the thread goes back to the pool and a new frame
// goes on to the next stage.
class Transition_Video__post__execution : public ModelTransition {
 public:
  Transition_Video__post__execution(int uniqueid, const char* name, NetClass* net,
                                    const PlaceIdentMap& places, std::string pagePath,
                                    double firingWeight, int priority, bool exp, bool takeFirst,
                                    bool isInfinite, bool hasLocalGuard);

  TempBindingList* generateBindingList() override;
  void moveTokens(TokenList& binding) override;

 private:
  Place& x_Place;
  Place& nona1_Place;
  Place& nona2_Place;
};
