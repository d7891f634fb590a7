#include "model/Transition_Canny__execution.h"

#include <utility>

#include "model/Token_Data.h"

Transition_Canny__execution::Transition_Canny__execution(int uniqueid, const char* name,
                                                         NetClass* net, const PlaceIdentMap& places,
                                                         std::string pagePath, double firingWeight,
                                                         int priority, bool exp, bool takeFirst,
                                                         bool isInfinite, bool hasLocalGuard)
    : ModelTransition(uniqueid, name, net, places, std::move(pagePath), firingWeight, priority, exp,
                      takeFirst, isInfinite, hasLocalGuard),
      x_Place(bindPlace(places, "Canny_main")),
      nona1_Place(bindPlace(places, "Canny_executed")) {}

Seconds_T Transition_Canny__execution::getFiringDelay(TokenList&) const {
  return delay.Det(8.938818925410542);
}

TempBindingList* Transition_Canny__execution::generateBindingList() {
  return firstBinding<Token_Data>(x_Place);
}

void Transition_Canny__execution::moveTokens(TokenList& binding) {
  auto next = binding.cbegin();
  const Ptr<Token>& x = take(next, x_Place);
  nona1_Place.addToken(x);
}
