#include "net/Place.h"

#include <iostream>
#include <iterator>

#include "net/MeasureObj.h"
#include "net/NetClass.h"
#include "net/Transition.h"

Place::Place(int id, const char* name, NetClass* net, bool firstN, unsigned int capacity)
    : DefaultGM(name, "Place", net), firstN(firstN), watch(false), capacity(capacity), id(id) {}

Place::Place(int id, const char* name, NetClass* net, const PlaceIdentMap& attributes, bool firstN,
             unsigned int capacity)
    : Place(id, name, net, firstN, capacity) {
  auto found = attributes.find("watch");
  watch = found != attributes.end() && found->second == "true";
}

Place::Place(int id, NetClass* net) : Place(id, "noname", net, false, 0) {}

Place::~Place() {
  marking.clear();
  for (MeasureObj* measure : measures) releaseMeasure(measure);
}

void Place::releaseMeasure(MeasureObj* measure) {
  measure->decrementRefCount();
  if (measure->getRefCount() < 1) delete measure;
}

void Place::setMultiplicity(Multiplicities& arcs, int transitionId, int multiplicity) {
  for (auto& [id, m] : arcs) {
    if (id == transitionId) {
      m = multiplicity;
      return;
    }
  }
  arcs.emplace_back(transitionId, multiplicity);
}

void Place::addOutTransition(Transition* transition, int multiplicity) {
  outTransitions.push_back(transition);
  setMultiplicity(outMultiplicities, transition->getID(), multiplicity);
}

void Place::addInTransition(Transition* transition, int multiplicity) {
  inTransitions.push_back(transition);
  setMultiplicity(inMultiplicities, transition->getID(), multiplicity);
}

void Place::addGlobalGuardTransition(Transition* transition) {
  globalGuardTransitions.push_back(transition);
}

void Place::addToken(const Ptr<Token>& token) {
  marking.push_back(token);
  notifyGlobalGuardTransitions();
  for (Transition* transition : outTransitions) transition->addNotBoundToken(token);
}

void Place::removeToken(const Ptr<Token>& token) {
  // The entries leave the marking at once; should `token` be one of them, that one lives until the
  // end. The offer of the first tokens lets go of it too: a token that has left must not stay
  // alive.
  TokenList held;
  for (TokenList* list : {&marking, &partialMarking}) {
    for (auto it = list->begin(); it != list->end();) {
      const auto next = std::next(it);
      if (*it == token) {
        if (&*it == &token) {
          held.splice(held.end(), *list, it);
        } else {
          list->erase(it);
        }
      }
      it = next;
    }
  }
  notifyGlobalGuardTransitions();
  for (Transition* transition : outTransitions) transition->removeNotBoundToken(token);
}

void Place::notifyGlobalGuardTransitions() {
  for (Transition* transition : globalGuardTransitions) transition->placeNotify();
}

bool Place::canTake(unsigned int n) const {
  // Unsigned on purpose: the space test passes a negative net change converted to unsigned, and
  // a marking that would drop below zero then wraps to a large number and fails.
  const unsigned int after = static_cast<unsigned int>(marking.size()) + n;
  return capacity == 0 || after <= capacity;
}

TokenList& Place::firstTokens(int n) {
  partialMarking.clear();
  int taken = 0;
  for (auto it = marking.begin(); it != marking.end() && taken < n; ++it, ++taken) {
    partialMarking.push_back(*it);
  }
  return partialMarking;
}

void Place::removeCurrentMarking() {
  marking.clear();
  partialMarking.clear();
}

void Place::addRestoredToken(const Ptr<Token>& token) { marking.push_back(token); }

void Place::addMeasure(MeasureObj* measure) {
  measure->incrementRefCount();
  measures.push_back(measure);
}

void Place::reportMarking() {
  if (net != nullptr) net->measureOut(this, static_cast<double>(marking.size()));
}

std::string Place::content() const {
  std::string text;
  for (auto it = marking.begin(); it != marking.end(); ++it) {
    if (it != marking.begin()) text += ",";
    text += (*it)->content();
  }
  return text;
}

void Place::printTrans() const {
  std::cout << "\t<-\n";
  for (const Transition* transition : inTransitions) std::cout << "\t\t" << transition->getName() << "\n";
  std::cout << "\t->\n";
  for (const Transition* transition : outTransitions) std::cout << "\t\t" << transition->getName() << "\n";
}

std::ostream& operator<<(std::ostream& out, const Place& place) {
  return out << place.getName() << " (Place)";
}
