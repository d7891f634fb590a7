#include "model/Transition_Video__ready.h"

#include <utility>

#include "model/Token_Data.h"
#include "net/Token_int.h"

Transition_Video__ready::Transition_Video__ready(int uniqueid, const char* name, NetClass* net,
                                                 const PlaceIdentMap& places, std::string pagePath,
                                                 double firingWeight, int priority, bool exp,
                                                 bool takeFirst, bool isInfinite,
                                                 bool hasLocalGuard)
    : ModelTransition(uniqueid, name, net, places, std::move(pagePath), firingWeight, priority, exp,
                      takeFirst, isInfinite, hasLocalGuard),
      pool_Place(bindPlace(places, "Execution_thread_pool")),
      nona1_Place(bindPlace(places, "Video_executed")) {}

Seconds_T Transition_Video__ready::getFiringDelay(TokenList&) const {
  return delay.Det(33.333333333);
}

TempBindingList* Transition_Video__ready::generateBindingList() {
  return firstBinding<Token_int>(pool_Place);
}

void Transition_Video__ready::moveTokens(TokenList& binding) {
  auto next = binding.cbegin();
  take(next, pool_Place);
  nona1_Place.addToken(Ptr<Token>(new Token_Data()));
}
