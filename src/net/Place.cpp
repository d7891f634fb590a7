#include "net/Place.h"

#include <algorithm>
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

// `token` may be a handle in a list that telling the transitions changes (the offer of a
// transition the place feeds, which a search binds from), so the token goes by its new entry in
// the marking: telling them takes no token out of a place.
void Place::addToken(const Ptr<Token>& token) {
  marking.push_back(token);
  const Ptr<Token>& entry = marking.back();
  notifyGlobalGuardTransitions();
  for (Transition* transition : outTransitions) transition->addNotBoundToken(entry);
}

namespace {

// Erases the entries of the token from `from` on; the token must not be named by one of them.
void eraseEntries(TokenList& list, TokenList::iterator from, const Ptr<Token>& token) {
  while (from != list.end()) from = *from == token ? list.erase(from) : std::next(from);
}

}  // namespace

// `token` may be a handle in a list that the removal changes (the offer of a transition the place
// feeds), so the token goes by the first of its entries in the marking, set aside until the end;
// by a copy when the place does not hold it. Either way the usual case makes no handle.
void Place::removeToken(const Ptr<Token>& token) {
  auto entry = std::find(marking.begin(), marking.end(), token);
  if (entry != marking.end()) {
    const auto next = std::next(entry);
    leaving.splice(leaving.end(), marking, entry);
    eraseEntries(marking, next, *entry);  // should it stand there more than once
  } else {
    entry = leaving.insert(leaving.end(), token);
  }
  // The offer of the first tokens lets go of it too: a token that has left must not stay alive.
  eraseEntries(partialMarking, partialMarking.begin(), *entry);
  notifyGlobalGuardTransitions();
  for (Transition* transition : outTransitions) transition->removeNotBoundToken(*entry);
  leaving.erase(entry);
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
