#include "engine/SimSavedState.h"

#include <utility>

#include "core/Assert.h"
#include "net/Binding.h"
#include "net/NetClass.h"
#include "net/Place.h"

namespace {

// The entry saved under a key; a state is only restored into the net it was taken from, whose
// places and transitions do not change during a run.
template <class Map>
const typename Map::mapped_type& saved(const Map& map, const typename Map::key_type& key) {
  auto found = map.find(key);
  KERNEL_ASSERT(found != map.end());
  return found->second;
}

template <class Map, class Element>
bool isNetElement(const Map& elements, const Element* element) {
  auto found = elements.find(element->getName());
  return found != elements.end() && found->second == element;
}

}  // namespace

SimSavedState::SimSavedState(NetClass* net, int level, DateTime time) : net(net) {
  setSavedMarkings();
  saveTransitionStates();
  originals.clear();
  stateLevel = level;
  stateTime = time;
}

void SimSavedState::fail(const std::string& what) {
  if (problem.empty()) problem = what;
}

// ---------------------------------------------------------------------------------------------
// Saving.

void SimSavedState::setSavedMarkings() {
  for (const auto& [name, place] : net->getPlaces())
    savePlaceMarking(name, place->getFullMarking());
}

void SimSavedState::savePlaceMarking(const std::string& place, const TokenList& marking) {
  std::vector<Counter> ids;
  ids.reserve(marking.size());
  for (const Ptr<Token>& token : marking) {
    const Counter id = token->getID();
    ids.push_back(id);
    auto [original, first] = originals.emplace(id, token.GetRawPtr());
    if (!first) {
      if (original->second != token.GetRawPtr())
        fail("two tokens share the id " + std::to_string(id));
      continue;
    }
    // A restore hands out copies of this copy, found again through the upcast: both must work
    // and keep the id.
    Ptr<Token> copy = net->copyToken(token);
    if (copy == 0 || copy->getID() != id || !(net->upcastToken(copy) == copy)) {
      fail("token " + std::to_string(id) + " of type " + token->getName() + " cannot be copied");
    } else {
      savedTokens.emplace(id, copy);
    }
  }
  savedMarkings.emplace(place, std::move(ids));
}

void SimSavedState::saveTransitionStates() {
  const std::map<std::string, Transition*>& transitions = net->getTransitions();
  setSavedAffectedTransitions(transitions);
  setSavedBindings(transitions);
  setSavedNotBoundTokens(transitions);
}

void SimSavedState::setSavedAffectedTransitions(
    const std::map<std::string, Transition*>& transitions) {
  for (const auto& [name, transition] : transitions) {
    couldEnable.emplace(name, transition->getCouldEnableTransitions());
    couldDisable.emplace(name, transition->getCouldDisableTransitions());
    checkNeighbours(transition);
  }
}

void SimSavedState::checkNeighbours(const Transition* transition) {
  const std::string& name = transition->getName();
  for (const PlaceList* arcs : {&transition->getInPlaces(), &transition->getOutPlaces()}) {
    for (const Place* place : *arcs) {
      if (!isNetElement(net->getPlaces(), place)) {
        fail("place " + place->getName() + " of transition " + name + " is not in the net");
      }
    }
  }
  for (const auto* lists : {&couldEnable, &couldDisable}) {
    for (const Transition* neighbour : saved(*lists, name)) {
      if (!isNetElement(net->getTransitions(), neighbour)) {
        fail("transition " + neighbour->getName() + " next to " + name + " is not in the net");
      }
    }
  }
}

void SimSavedState::setSavedBindings(const std::map<std::string, Transition*>& transitions) {
  for (const auto& [name, transition] : transitions) {
    saveTransitionBindings(transition, transition->getEvents());
  }
}

void SimSavedState::saveTransitionBindings(Transition* transition,
                                           const Transition::EventList& events) {
  std::set<BindingDummy> dummies;
  for (const Binding* binding : events) {
    const TokenList* tokens = binding->getBoundTokens();
    dummies.emplace(
        binding->getID(), binding->getBoundTransition(), binding->getTime(), binding->getPriority(),
        binding->getWeight(), binding->isFireEvent(),
        tokens != nullptr ? createTokensIDList(*tokens, transition) : std::vector<Counter>(),
        tokens == nullptr);
  }
  savedBindings.emplace(transition->getName(), std::move(dummies));
  timeguardOptimization.emplace(transition->getName(), transition->getTimeguardOptimization());
}

std::vector<Counter> SimSavedState::createTokensIDList(const TokenList& tokens,
                                                       const Transition* holder) {
  std::vector<Counter> ids;
  ids.reserve(tokens.size());
  for (const Ptr<Token>& token : tokens) {
    const Counter id = token->getID();
    ids.push_back(id);
    auto original = originals.find(id);
    if (original == originals.end()) {
      fail("token " + std::to_string(id) + " of transition " + holder->getName() +
           " lies in no place");
    } else if (original->second != token.GetRawPtr()) {
      fail("two tokens share the id " + std::to_string(id));
    }
  }
  return ids;
}

void SimSavedState::setSavedNotBoundTokens(const std::map<std::string, Transition*>& transitions) {
  for (const auto& [name, transition] : transitions) {
    saveTransitionNotBoundTokens(transition, transition->getNotBoundTokens());
  }
}

void SimSavedState::saveTransitionNotBoundTokens(Transition* transition, const TokenList& tokens) {
  savedNotBoundTokens.emplace(transition->getName(), createTokensIDList(tokens, transition));
}

// ---------------------------------------------------------------------------------------------
// Restoring.

void SimSavedState::restoreMarkings(const NetClass::PlaceMap& places) {
  KERNEL_ASSERT(problem.empty());
  // The previous restore's tokens are kept for lookups until now and let go here, so they live no
  // longer than the retrial that used them.
  restoredTokens.clear();
  for (const auto& [name, place] : places) {
    place->removeCurrentMarking();
    restorePlaceMarking(place);
  }
}

void SimSavedState::restorePlaceMarking(Place* place) {
  for (Counter id : saved(savedMarkings, place->getName())) {
    auto restored = restoredTokens.find(id);
    if (restored != restoredTokens.end()) {
      place->addRestoredToken(restored->second);
      continue;
    }
    Ptr<Token> copy = net->copyToken(getSavedToken(id));
    KERNEL_ASSERT(!(copy == 0));
    addRestoredToken(copy);
    place->addRestoredToken(copy);
  }
}

void SimSavedState::addRestoredToken(Ptr<Token> token) {
  restoredTokens.emplace(token->getID(), token);
}

void SimSavedState::restoreTransitionStates(const std::map<std::string, Transition*>& transitions) {
  restoreSavedAffectedTransitions(transitions);
  for (const auto& [name, transition] : transitions) {
    restoreTransitionBindings(transition);
    restoreTransitionNotBoundTokens(transition);
  }
}

void SimSavedState::restoreSavedAffectedTransitions(
    const std::map<std::string, Transition*>& transitions) {
  for (const auto& [name, transition] : transitions) {
    transition->setCouldEnableTransitions(saved(couldEnable, name));
    transition->setCouldDisableTransitions(saved(couldDisable, name));
  }
}

void SimSavedState::restoreTransitionBindings(Transition* transition) {
  const std::set<BindingDummy>& dummies = saved(savedBindings, transition->getName());
  std::vector<Binding*> events;
  events.reserve(dummies.size());
  for (const BindingDummy& dummy : dummies) {
    TokenList* tokens = dummy.isTempBinding() ? nullptr : createTokenList(dummy.getTokensID());
    events.push_back(new Binding(dummy.getID(), dummy.getBoundTransition(), dummy.getTime(),
                                 dummy.getPriority(), dummy.getWeight(), dummy.isFireEvent(),
                                 tokens));
  }
  transition->restoreEventList(events, saved(timeguardOptimization, transition->getName()));
}

void SimSavedState::restoreTransitionNotBoundTokens(Transition* transition) {
  transition->removeCurrentNotBoundTokens();
  for (Counter id : saved(savedNotBoundTokens, transition->getName())) {
    transition->addNotBoundToken(getRestoredToken(id));
  }
}

TokenList* SimSavedState::createTokenList(const std::vector<Counter>& ids) const {
  auto* tokens = new TokenList;
  for (Counter id : ids) tokens->push_back(net->upcastToken(getRestoredToken(id)));
  return tokens;
}

std::vector<Counter> SimSavedState::getSavedTokensID(const std::string& place) const {
  auto found = savedMarkings.find(place);
  return found != savedMarkings.end() ? found->second : std::vector<Counter>();
}

Ptr<Token> SimSavedState::getSavedToken(Counter id) const { return saved(savedTokens, id); }

Ptr<Token> SimSavedState::getRestoredToken(Counter id) const { return saved(restoredTokens, id); }
