#include "model/ModelTransition.h"

#include "core/Assert.h"
#include "net/NetClass.h"

ModelTransition::ModelTransition(int uniqueid, const char* name, NetClass* net,
                                 const PlaceIdentMap& places, std::string pagePath,
                                 double firingWeight, int priority, bool exp, bool takeFirst,
                                 bool isInfinite, bool hasLocalGuard)
    : Transition(uniqueid, name, net, places, std::move(pagePath), firingWeight, priority, exp,
                 takeFirst, isInfinite, hasLocalGuard) {}

Place& ModelTransition::bindPlace(const PlaceIdentMap& places, const char* name) {
  Place* place = net->getPlace(&places, name);
  if (place == nullptr) {
    const std::string expression = "place \"" + std::string(name) + "\" of " + getName() + " bound";
    kernelAssertFailed(expression.c_str(), __FILE__, __LINE__);
  }
  return *place;
}
