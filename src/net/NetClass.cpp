#include "net/NetClass.h"

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string_view>
#include <utility>

#include "core/EscapedText.h"
#include "net/MeasureObj.h"
#include "net/Place.h"
#include "net/Transition.h"

NetClass::NetClass() = default;

NetClass::~NetClass() {
  deleteElements();
  for (MeasureObj* measure : heldMeasures) Place::releaseMeasure(measure);
}

namespace {

// Empties the map into `spare`.
template <class Map>
void keepNodes(Map& map, std::vector<typename Map::node_type>& spare) {
  while (!map.empty()) spare.push_back(map.extract(map.begin()));
}

// Enters the element under its name, in a spare node when there is one; false when the name is
// taken, and the map then keeps the element it holds.
template <class Map>
bool enter(Map& map, std::vector<typename Map::node_type>& spare,
           typename Map::mapped_type element) {
  if (spare.empty()) return map.emplace(element->getName(), element).second;
  typename Map::node_type node = std::move(spare.back());
  spare.pop_back();
  node.key() = element->getName();
  node.mapped() = element;
  auto entered = map.insert(std::move(node));
  if (!entered.inserted) spare.push_back(std::move(entered.node));
  return entered.inserted;
}

}  // namespace

void NetClass::deleteElements() {
  for (auto& [name, place] : places) delete place;
  for (auto& [name, transition] : transitions) delete transition;
  keepNodes(transitions, spareTransitionNodes);
  eventQueue.namesChanged();
  keepNodes(places, sparePlaceNodes);
  lastPlaceFound = places.end();
}

void NetClass::addPlace(Place* place) { enter(places, sparePlaceNodes, place); }

void NetClass::addTransition(Transition* transition) {
  if (!enter(transitions, spareTransitionNodes, transition)) return;
  eventQueue.namesChanged();
  eventQueue.attach(transition);
}

void NetClass::addMeasure(MeasureObj* measure) { measureList.push_back(measure); }

void NetClass::linkPlaceToTransition(const char* place, const char* transition, int multiplicity) {
  Transition* t = getTransition(transition);
  Place* p = getPlace(place);
  if (t != nullptr && p != nullptr) linkIntoTransition(p, t, multiplicity);
}

void NetClass::linkTransitionToPlace(const char* transition, const char* place, int multiplicity) {
  Place* p = getPlace(place);
  Transition* t = getTransition(transition);
  if (t != nullptr && p != nullptr) linkOutOfTransition(t, p, multiplicity);
}

void NetClass::linkIntoTransition(Place* place, Transition* transition, int multiplicity) {
  place->addOutTransition(transition, multiplicity);
  transition->addInPlace(place);
}

void NetClass::linkOutOfTransition(Transition* transition, Place* place, int multiplicity) {
  transition->addOutPlace(place);
  place->addInTransition(transition, multiplicity);
}

namespace {

// A named element of a map, or null after the lookup's message. The names asked for may come from
// a front end or a file, so the messages show them escaped.
template <class Map>
typename Map::mapped_type findNamed(const Map& elements, const std::string& name,
                                    const char* kind) {
  auto found = elements.find(name);
  if (found != elements.end()) return found->second;
  std::cout << "Couldn't find " << kind << ": " << escapedText(name) << std::endl;
  return nullptr;
}

// Whether the C string `name` spells `key`; a key holding a null character spells no C string.
bool spells(const std::string& key, const char* name) {
  for (const char c : key) {
    if (c == '\0' || *name++ != c) return false;
  }
  return *name == '\0';
}

// The first element, in name order, with the given id; null without a message.
template <class Map>
typename Map::mapped_type findById(const Map& elements, int id) {
  for (const auto& [name, element] : elements) {
    if (element->getID() == id) return element;
  }
  return nullptr;
}

}  // namespace

Place* NetClass::getPlace(const char* name) {
  // A measure asks for its place on every event: the place found last is tried first.
  if (lastPlaceFound != places.end() && spells(lastPlaceFound->first, name)) {
    return lastPlaceFound->second;
  }
  auto found = places.find(std::string_view(name));
  if (found != places.end()) {
    lastPlaceFound = found;
    return found->second;
  }
  std::cout << "Couldn't find Place: " << escapedText(name) << std::endl;
  return nullptr;
}

void NetClass::warnOfLeftOutMarkingTokens(const std::vector<Token_int::Initial>& tokens,
                                          std::initializer_list<const Place*> takers) {
  // By name, then whether the net has that place.
  std::map<std::pair<std::string, bool>, int> leftOut;
  for (const Token_int::Initial& token : tokens) {
    const bool known = token.exact && places.contains(token.place);
    if (!known || std::none_of(takers.begin(), takers.end(),
                               [&](const Place* place) { return place->getName() == token.place; }))
      ++leftOut[{token.place, known}];
  }
  for (const auto& [place, count] : leftOut) {
    std::cout << (place.second ? "Place '" : "Unknown place '") << escapedText(place.first)
              << "' in marking.xml"
              << (place.second ? " takes no integer tokens: " : ": ") << count
              << (count == 1 ? " token" : " tokens") << " left out." << std::endl;
  }
}

Place* NetClass::getPlace(const std::string& name) { return findNamed(places, name, "Place"); }

Place* NetClass::getPlace(int id) { return findById(places, id); }

Place* NetClass::getPlace(const PlaceIdentMap* aliases, const char* localName) {
  auto found = aliases->find(localName);
  if (found == aliases->end()) {
    std::cout << "Couldn't find Place: " << escapedText(localName) << std::endl;
    return nullptr;
  }
  return getPlace(found->second);
}

Transition* NetClass::getTransition(const char* name) {
  return findNamed(transitions, name, "Transition");
}

Transition* NetClass::getTransition(int id) { return findById(transitions, id); }

void NetClass::storeMeasureList() { storedMeasureList = measureList; }

void NetClass::clearMaps() {
  storeMeasureList();
  measureList.clear();
  // The previous build is freed here rather than forgotten, so repeated replications do not
  // accumulate whole nets in memory.
  holdMeasuresOfFreedPlaces();
  deleteElements();
}

void NetClass::holdMeasuresOfFreedPlaces() {
  heldBefore.swap(heldMeasures);
  auto hold = [this](MeasureObj* measure) {
    if (std::find(heldMeasures.begin(), heldMeasures.end(), measure) != heldMeasures.end()) return;
    auto held = std::find(heldBefore.begin(), heldBefore.end(), measure);
    if (held != heldBefore.end()) {
      heldBefore.erase(held);
    } else {
      measure->incrementRefCount();
    }
    heldMeasures.push_back(measure);
  };
  for (const auto& [name, place] : places) {
    for (MeasureObj* measure : place->getMeasures()) hold(measure);
  }
  // A stored measure stays held as long as it stays stored; one the net was only given is not
  // the net's to hold.
  for (MeasureObj* measure : storedMeasureList) {
    if (std::find(heldBefore.begin(), heldBefore.end(), measure) != heldBefore.end()) hold(measure);
  }
  for (MeasureObj* measure : heldBefore) Place::releaseMeasure(measure);
  heldBefore.clear();
}

void NetClass::loadMeasureList(int mode) {
  measureList.clear();
  for (MeasureObj* measure : storedMeasureList) {
    if (mode != RunContext::TRANSIENT) {
      if (measure->accumulative()) {
        std::cout << "Warning: accumulative performance measures are only allowed in transient "
                     "simulation."
                  << " Ignoring Measure " << measure->getName() << std::endl;
        continue;
      }
      if (!measure->timeaverage()) {
        std::cout << "Warning: instantaneous performance measures are only allowed in transient "
                     "simulation."
                  << " Ignoring Measure " << measure->getName() << std::endl;
        continue;
      }
    }
    measureList.push_back(measure);
  }
}

void NetClass::keepStoredToken(const std::string& place, const Ptr<Token>& token) {
  Ptr<Token> copy = copyToken(token);
  if (copy.GetRawPtr() != nullptr) storedTokens.emplace_back(place, std::move(copy));
}

void NetClass::addStoredTokens() {
  for (const auto& [name, token] : storedTokens) {
    if (Place* place = getPlace(name)) place->addToken(copyToken(token));
  }
}

void NetClass::restoreNet(int mode) {
  buildNet();
  createTokens();
  loadMeasureList(mode);
}

std::string NetClass::writeMaps() const {
  std::ostringstream text;
  text << "Places:" << std::endl;
  for (const auto& [name, place] : places) text << "\t" << name << " -> " << place->getName() << std::endl;
  text << "Transitions:" << std::endl;
  for (const auto& [name, transition] : transitions) {
    text << "\t" << name << " -> " << transition->getName() << std::endl;
  }
  return text.str();
}
