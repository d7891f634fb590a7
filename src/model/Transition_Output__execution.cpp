#include "model/Transition_Output__execution.h"

#include <utility>

#include "model/Token_Data.h"

Transition_Output__execution::Transition_Output__execution(
    int uniqueid, const char* name, NetClass* net, const PlaceIdentMap& places,
    std::string pagePath, double firingWeight, int priority, bool exp, bool takeFirst,
    bool isInfinite, bool hasLocalGuard)
    : ModelTransition(uniqueid, name, net, places, std::move(pagePath), firingWeight, priority, exp,
                      takeFirst, isInfinite, hasLocalGuard),
      x_Place(bindPlace(places, "Output_main")),
      nona1_Place(bindPlace(places, "Output_executed")) {}

Seconds_T Transition_Output__execution::getFiringDelay(TokenList&) const { return delay.Exp(1.0); }

TempBindingList* Transition_Output__execution::generateBindingList() {
  return firstBinding<Token_Data>(x_Place);
}

void Transition_Output__execution::moveTokens(TokenList& binding) {
  auto next = binding.cbegin();
  const Ptr<Token>& x = take(next, x_Place);
  nona1_Place.addToken(x);
}
