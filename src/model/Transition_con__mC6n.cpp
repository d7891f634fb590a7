#include "model/Transition_con__mC6n.h"

#include <utility>

#include "model/Token_Data.h"

Transition_con__mC6n::Transition_con__mC6n(int uniqueid, const char* name, NetClass* net,
                                           const PlaceIdentMap& places, std::string pagePath,
                                           double firingWeight, int priority, bool exp,
                                           bool takeFirst, bool isInfinite, bool hasLocalGuard)
    : ModelTransition(uniqueid, name, net, places, std::move(pagePath), firingWeight, priority, exp,
                      takeFirst, isInfinite, hasLocalGuard),
      x_Place(bindPlace(places, "Canny_out1")),
      nona1_Place(bindPlace(places, "Output_in_1")) {}

Seconds_T Transition_con__mC6n::getFiringDelay(TokenList&) const { return delay.Exp(1.0); }

TempBindingList* Transition_con__mC6n::generateBindingList() {
  return firstBinding<Token_Data>(x_Place);
}

void Transition_con__mC6n::moveTokens(TokenList& binding) {
  auto next = binding.cbegin();
  const Ptr<Token>& x = take(next, x_Place);
  nona1_Place.addToken(x);
}
