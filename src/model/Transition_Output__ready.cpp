#include "model/Transition_Output__ready.h"

#include <utility>

#include "model/Token_Data.h"
#include "net/Token_int.h"

Transition_Output__ready::Transition_Output__ready(int uniqueid, const char* name, NetClass* net,
                                                   const PlaceIdentMap& places,
                                                   std::string pagePath, double firingWeight,
                                                   int priority, bool exp, bool takeFirst,
                                                   bool isInfinite, bool hasLocalGuard)
    : ModelTransition(uniqueid, name, net, places, std::move(pagePath), firingWeight, priority, exp,
                      takeFirst, isInfinite, hasLocalGuard),
      pool_Place(bindPlace(places, "Execution_thread_pool")),
      x_Place(bindPlace(places, "Output_in_1")),
      nona1_Place(bindPlace(places, "Output_main")) {}

TempBindingList* Transition_Output__ready::generateBindingList() {
  return firstBinding<Token_int, Token_Data>(pool_Place, x_Place);
}

void Transition_Output__ready::moveTokens(TokenList& binding) {
  auto next = binding.cbegin();
  take(next, pool_Place);
  const Ptr<Token>& x = take(next, x_Place);
  nona1_Place.addToken(x);
}
