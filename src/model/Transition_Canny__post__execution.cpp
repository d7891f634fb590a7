#include "model/Transition_Canny__post__execution.h"

#include <utility>

#include "model/Token_Data.h"
#include "net/Token_int.h"

Transition_Canny__post__execution::Transition_Canny__post__execution(
    int uniqueid, const char* name, NetClass* net, const PlaceIdentMap& places,
    std::string pagePath, double firingWeight, int priority, bool exp, bool takeFirst,
    bool isInfinite, bool hasLocalGuard)
    : ModelTransition(uniqueid, name, net, places, std::move(pagePath), firingWeight, priority, exp,
                      takeFirst, isInfinite, hasLocalGuard),
      x_Place(bindPlace(places, "Canny_executed")),
      nona1_Place(bindPlace(places, "Execution_thread_pool")),
      nona2_Place(bindPlace(places, "Canny_out1")) {}

TempBindingList* Transition_Canny__post__execution::generateBindingList() {
  return firstBinding<Token_Data>(x_Place);
}

void Transition_Canny__post__execution::moveTokens(TokenList& binding) {
  auto next = binding.cbegin();
  take(next, x_Place);
  nona1_Place.addToken(Ptr<Token>(new Token_int(0)));
  nona2_Place.addToken(Ptr<Token>(new Token_Data()));
}
