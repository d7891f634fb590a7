#include "model/Transition_con__2sMS.h"

#include <utility>

#include "model/Token_Data.h"

Transition_con__2sMS::Transition_con__2sMS(int uniqueid, const char* name, NetClass* net,
                                           const PlaceIdentMap& places, std::string pagePath,
                                           double firingWeight, int priority, bool exp,
                                           bool takeFirst, bool isInfinite, bool hasLocalGuard)
    : ModelTransition(uniqueid, name, net, places, std::move(pagePath), firingWeight, priority, exp,
                      takeFirst, isInfinite, hasLocalGuard),
      x_Place(bindPlace(places, "Video_out1")),
      nona1_Place(bindPlace(places, "Canny_in_1")) {}

Seconds_T Transition_con__2sMS::getFiringDelay(TokenList&) const { return delay.Exp(1.0); }

TempBindingList* Transition_con__2sMS::generateBindingList() {
  return firstBinding<Token_Data>(x_Place);
}

void Transition_con__2sMS::moveTokens(TokenList& binding) {
  auto next = binding.cbegin();
  const Ptr<Token>& x = take(next, x_Place);
  nona1_Place.addToken(x);
}
