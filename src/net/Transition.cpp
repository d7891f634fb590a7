#include "net/Transition.h"

#include <fcntl.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <iostream>
#include <iterator>

#include "core/Assert.h"
#include "core/Logging.h"
#include "net/MeasureObj.h"
#include "net/NetClass.h"
#include "net/Place.h"

Counter Transition::globalFireCount = 0;

namespace {

const char* truth(bool value) { return value ? "TRUE" : "FALSE"; }

bool contains(const PlaceList& places, const Place* place) {
  return std::find(places.begin(), places.end(), place) != places.end();
}

bool holdsToken(const TokenList& tokens, const Ptr<Token>& token) {
  return std::find(tokens.begin(), tokens.end(), token) != tokens.end();
}

}  // namespace

// The model's classes bind their places from the map as they are made; the kernel keeps no copy.
Transition::Transition(int uniqueid, const char* name, NetClass* net, const PlaceIdentMap&,
                       std::string pagePath, double firingWeight, int priority, bool exp,
                       bool takeFirst, bool isInfinite, bool hasLocalGuard)
    : DefaultGM(name, "Transition", net),
      isInfinite(isInfinite),
      exp(exp),
      priority(priority),
      firingWeight(firingWeight),
      takeFirst(takeFirst),
      id(uniqueid),
      localGuard(hasLocalGuard),
      pagePath(std::move(pagePath)) {}

Transition::Transition(int uniqueid, const char* name, NetClass* net,
                       const std::map<std::string, std::string>& attributes,
                       const PlaceIdentMap& places, std::string pagePath, double firingWeight,
                       int priority, bool exp, bool takeFirst, bool isInfinite, bool hasLocalGuard)
    : Transition(uniqueid, name, net, places, std::move(pagePath), firingWeight, priority, exp,
                 takeFirst, isInfinite, hasLocalGuard) {
  auto value = [&attributes](const char* key) {
    auto found = attributes.find(key);
    return found == attributes.end() ? std::string() : found->second;
  };
  displaying = !value("display_expr").empty();
  watch = value("watch") == "true";
  immediate = value("timed_trans") == "false";
  const std::string logName = value("logfile_name");
  if (!logName.empty()) {
    logging = true;
    openLogfile(logName, value("logfile_desc"));
  }
}

Transition::~Transition() {
  clearTempBindingList(&candidates);
  deleteAllBindings();
  if (eventQueue != nullptr) eventQueue->withdraw();
}

// ---------------------------------------------------------------------------------------------
// Defaults of the operations that model classes override.

Seconds_T Transition::getFiringDelay(TokenList&) const { return 0.0; }

Seconds_T Transition::Timeguard(const DateTime&) { return 0.0; }

bool Transition::hasTimeguard() const { return false; }

void Transition::log(TokenList&) {}

double Transition::display(TokenList&) { return 0.0; }

bool Transition::globalGuard() { return true; }

void Transition::initGlobalGuards() {}

void Transition::setLogfile(std::string name, std::string description) {
  logging = !name.empty();
  if (!logging) return;
  openLogfile(name, description);
}

void Transition::openLogfile(const std::string& name, const std::string& description) {
  logFileName = Logging::instance().getLogDir() + "/" + name;
  if (std::ostream* out = Logging::trans()) *out << "Opening " << logFileName << " ..." << std::endl;
  OutputFile logFile;
  logging =
      Logging::instance().openLogFile(logFile, logFileName, O_APPEND,
                                      logFileName + " couldn't be opened!");
  if (logging) {
    if (description.empty()) {
      logFile << "\t******** LOGFILE of Transition " << getName() << " *********" << std::endl;
    } else {
      logFile << description << std::endl;
    }
    logFile.close();
  }
}

// ---------------------------------------------------------------------------------------------
// Structure and start-up.

void Transition::addInPlace(Place* place) {
  inPlaces.push_back(place);
  if (std::ostream* out = Logging::trans()) *out << *this << " <- " << *place << std::endl;
}

void Transition::addOutPlace(Place* place) {
  outPlaces.push_back(place);
  if (place->getCapacity() > 0) ++boundedOutPlaces;
  if (std::ostream* out = Logging::trans()) *out << *this << " -> " << *place << std::endl;
}

void Transition::addMeasure(MeasureObj* measure) {
  measure->incrementRefCount();
  insertMeasure(measure);
}

void Transition::insertMeasure(MeasureObj* measure) {
  auto at = std::lower_bound(measures.begin(), measures.end(), measure, std::less<>());
  if (at == measures.end() || *at != measure) measures.insert(at, measure);
}

const DateTime& Transition::now() const {
  // Transitions may be exercised without a net or before a run drives it (building, tests): time
  // then stands at the start of the calendar.
  return net != nullptr ? net->getCurrentSimulationTime() : NetClass::noRunTime;
}

bool Transition::isOptimizingTimeguardTransition() const {
  // Asked several times per firing: the flags first, the model's virtual answer last.
  if (!timeguardOptimization || isInfinite || !immediate || !hasTimeguard()) return false;
  return net == nullptr || !net->isSingleStep();
}

void Transition::startup() {
  inEventList = false;
  timeguardOptimization = true;
  std::ostream* out = Logging::trans();
  if (out) *out << getName() << " startup 1 ..." << std::endl;
  buildAffectedTransitionLists();
  if (out) *out << getName() << " startup 2 ..." << std::endl;
  affectedPlaces.reserve(affectedPlaces.size() + inPlaces.size() + outPlaces.size());
  affectedPlaces.insert(affectedPlaces.end(), inPlaces.begin(), inPlaces.end());
  affectedPlaces.insert(affectedPlaces.end(), outPlaces.begin(), outPlaces.end());
  if (out) *out << getName() << " startup 3 ..." << std::endl;
  for (Place* place : affectedPlaces) {
    for (MeasureObj* measure : place->getMeasures()) insertMeasure(measure);
  }
  updateEventList();
}

void Transition::buildAffectedTransitionLists() {
  // Room for every neighbour at once, a locally guarded one counted whether it is or not.
  std::size_t enabling = couldEnableTransitions.size();
  std::size_t disabling = couldDisableTransitions.size();
  for (const Place* place : inPlaces) enabling += place->getInTransitions().size();
  for (const Place* place : outPlaces) {
    disabling += place->getInTransitions().size();
    enabling += place->getInTransitions().size() + place->getOutTransitions().size();
  }
  couldEnableTransitions.reserve(enabling);
  couldDisableTransitions.reserve(disabling);
  for (Place* place : inPlaces) {
    const TransitionList& producers = place->getInTransitions();
    couldEnableTransitions.insert(couldEnableTransitions.end(), producers.begin(), producers.end());
  }
  for (Place* place : outPlaces) {
    for (Transition* producer : place->getInTransitions()) {
      couldDisableTransitions.push_back(producer);
      if (producer->hasLocalGuard()) couldEnableTransitions.push_back(producer);
    }
    const TransitionList& consumers = place->getOutTransitions();
    couldEnableTransitions.insert(couldEnableTransitions.end(), consumers.begin(), consumers.end());
  }
  std::erase(couldDisableTransitions, this);
  std::erase(couldEnableTransitions, this);
}

void Transition::updateEventList() {
  std::ostream* out = Logging::trans();
  if (out) *out << getName() << " startup 4 ..." << std::endl;
  initGlobalGuards();
  if (out) *out << getName() << " startup 5 ..." << std::endl;
  if (isOptimizingTimeguardTransition()) {
    addTimeguardBinding(now());
  } else {
    searchConfiguration();
  }
  if (out) *out << getName() << " startup 6 ..." << std::endl;
  if (std::ostream* events = Logging::event()) {
    *events << std::endl << "EventList of transition " << *this << ":" << std::endl;
    for (const Binding* binding : bindings) *events << " event " << *binding << std::endl << std::endl;
  }
}

// ---------------------------------------------------------------------------------------------
// Event list.

void Transition::registerWithTokens(Binding* binding) {
  for (Ptr<Token>& token : *binding->getBoundTokens()) {
    token->addTransition(this);
    removeNotBoundToken(token);
  }
}

void Transition::addBinding(Binding* binding) {
  KERNEL_ASSERT(binding->getBoundTokens() != NULL);
  KERNEL_ASSERT(isInfinite || bindings.empty());
  if (std::ostream* events = Logging::event()) *events << "addToEventList()... " << *binding << std::endl;
  // A binding the set does not hold must not take tokens: they would wait for an event that never
  // comes, neither offered again nor bound.
  const bool held = bindings.insert(binding).second;
  KERNEL_ASSERT(held);
  firstEventMayHaveChanged();
  registerWithTokens(binding);
  inEventList = true;
}

void Transition::addTimeguardBinding(const DateTime& time) {
  KERNEL_ASSERT(bindings.empty());
  timeguardOptimization = true;
  Binding* binding = new Binding(this, time);
  bindings.insert(binding);
  firstEventMayHaveChanged();
  inEventList = true;
  if (std::ostream* events = Logging::event()) {
    *events << "Timeguard-Binding extracted and checked into Eventlist: " << *binding << std::endl;
  }
}

void Transition::removeBinding(Binding* binding, bool notify) {
  if (std::ostream* out = Logging::trans()) *out << "removeFromEventList()... " << *this << std::endl;
  if (TokenList* tokens = binding->getBoundTokens()) {
    for (Ptr<Token>& token : *tokens) {
      token->removeTransition(this);
      if (notify) token->notifyTransitions(token);
    }
  }
  // A firing takes its transition's first event: that one is erased without a lookup.
  if (!bindings.empty() && *bindings.begin() == binding) {
    bindings.erase(bindings.begin());
  } else {
    bindings.erase(binding);
  }
  delete binding;
  firstEventMayHaveChanged();
  inEventList = !bindings.empty();
}

void Transition::giveBackTokens(Binding* binding) {
  if (!isInfinite || binding->getBoundTokens() == nullptr) return;
  for (Ptr<Token>& token : *binding->getBoundTokens()) addNotBoundToken(token);
}

void Transition::removeAllBindingsFromEventList() {
  while (!bindings.empty()) {
    Binding* binding = *std::prev(bindings.end());
    giveBackTokens(binding);
    removeBinding(binding, false);
  }
}

void Transition::removeRandomBindingFromEventList() {
  const Long32 r = random.randint(0, static_cast<Long32>(bindings.size()) - 1);
  if (std::ostream* out = Logging::trans()) *out << "Random number: " << r << std::endl;
  Binding* binding = *std::next(bindings.begin(), r);
  giveBackTokens(binding);
  removeBinding(binding, false);
}

void Transition::moveEventsDueBefore(const DateTime& time, std::ostream* log) {
  for (auto it = bindings.begin(); it != bindings.end();) {
    const auto next = std::next(it);
    if ((*it)->getTime() < time) {
      // Out of the ordered set while its key changes; the other iterators stay valid.
      auto node = bindings.extract(it);
      node.value()->setTime(time);
      bindings.insert(std::move(node));
    }
    if (log != nullptr && next != bindings.end()) *log << **next << std::endl;
    it = next;
  }
  firstEventMayHaveChanged();
}

void Transition::deleteAllBindings() {
  for (Binding* binding : bindings) {
    if (TokenList* tokens = binding->getBoundTokens()) {
      for (Ptr<Token>& token : *tokens) token->removeTransition(this);
    }
    delete binding;
  }
  bindings.clear();
  firstEventMayHaveChanged();
  inEventList = false;
}

void Transition::removeCurrentBindings() { deleteAllBindings(); }

// The flag follows the bindings actually held, as everywhere else; the restored tokens carry their
// registrations with this transition as they were when the state was saved.
void Transition::addRestoredBinding(Binding* binding) {
  bindings.insert(binding);
  firstEventMayHaveChanged();
  inEventList = true;
}

void Transition::restoreEventList(const std::vector<Binding*>& restored, bool optimizing) {
  removeCurrentBindings();
  for (Binding* binding : restored) addRestoredBinding(binding);
  timeguardOptimization = optimizing;
}

// ---------------------------------------------------------------------------------------------
// Binding search and enabling degree.

void Transition::logAvailability(std::ostream& out, bool space, bool guard) const {
  out << getName() << " so we check()...  GlobalGuard(): " << truth(guard)
      << " ==> Space()&&GlobalGuard() " << truth(space && guard) << std::endl;
}

void Transition::clearOffers() {
  // The candidates hold what they need; an offer kept past the search would keep a token that
  // another transition consumes alive, and in the live-token counts, until the next search.
  for (auto& [place, offer] : offeredTokens) offer.clear();
}

TokenList* Transition::extractRandomBinding(TempBindingList* list) {
  if (std::ostream* out = Logging::trans()) *out << "choose binding of " << list->size() << std::endl;
  const Long32 n = static_cast<Long32>(list->size());
  Long32 r = 0;
  if (n == 1) {
    random.skip();  // the draw could only give 0
  } else {
    r = random.randint(0, n - 1);
  }
  auto chosen = std::next(list->begin(), r);
  TokenList* tokens = *chosen;
  list->erase(chosen);
  return tokens;
}

void Transition::clearTempBindingList(TempBindingList* list) {
  for (TokenList* tokens : *list) delete tokens;
  list->clear();
}

TokenList* Transition::notBoundOffer(Place& place) {
  // With one input place every not-bound token is that place's; otherwise offer only the
  // not-bound tokens that lie in the place asked for.
  if (inPlaces.size() == 1 && inPlaces.front() == &place) return &notBoundTokens;
  TokenList& offer = offeredTokens[&place];
  offer.clear();
  const TokenList& marking = place.getFullMarking();
  for (const Ptr<Token>& token : notBoundTokens) {
    if (holdsToken(marking, token)) offer.push_back(token);
  }
  return &offer;
}

// A firing sends several searches, most of which find nothing: the clock is read only once a
// binding is made or a time guard asks, which changes nothing, for no search moves the clock.
void Transition::searchConfiguration() {
  if (isOptimizingTimeguardTransition() && Timeguard(now()) != 0.0) return;
  TempBindingList* list = getAvailableBindingList();
  if (list == nullptr) return;
  if (std::ostream* out = Logging::trans()) {
    *out << getName() << " search configuration..." << std::endl;
    *out << getName() << " is IS: " << truth(isInfinite) << std::endl;
  }
  if (isInfinite) {
    list = searchInfiniteServer(list, now());
    if (list != nullptr) dropCandidates(list);
  } else if (list->empty()) {
    if (std::ostream* out = Logging::trans())
      *out << getName() << " found no configuration ;-(" << std::endl;
    dropCandidates(list);
  } else {
    TokenList* tokens = extractRandomBinding(list);
    dropCandidates(list);
    enterNewBinding(tokens, now());
  }
}

void Transition::enterNewBinding(TokenList* tokens, const DateTime& time) {
  Binding* binding = new Binding(tokens, this, time);
  addBinding(binding);
  if (std::ostream* out = Logging::trans()) {
    *out << "Binding extracted and checked into Eventlist: " << *binding << std::endl;
  }
}

TempBindingList* Transition::searchInfiniteServer(TempBindingList* list, const DateTime& time) {
  int degree = getEnablingDegree();
  const int held = static_cast<int>(bindings.size());
  while (list != nullptr && !list->empty() && degree > held) {
    --degree;
    TokenList* tokens = extractRandomBinding(list);
    dropCandidates(list);
    enterNewBinding(tokens, time);
    list = generateCandidates();
  }
  return list;
}

int Transition::getEnablingDegree() {
  int degree = INT_MAX;
  for (Place* out : outPlaces) {
    const unsigned int capacity = out->getCapacity();
    const int produced = out->getInTransitionMultiplicity(id);
    const int marked = out->getMarkingSize();
    int consumed = 0;
    for (Place* in : inPlaces) {
      const int weight = in->getOutTransitionMultiplicity(id);
      if (weight != 0) {
        const unsigned int bound =
            static_cast<unsigned int>(in->getMarkingSize()) / static_cast<unsigned int>(weight);
        degree = std::min(degree, static_cast<int>(bound));
      }
      if (in == out) {
        consumed = weight;
        break;
      }
    }
    const int change = produced - consumed;
    if (change < 0) {
      degree = std::min(degree, marked / -change);
    } else if (capacity > 0 && change > 0) {
      degree = std::min(degree, (static_cast<int>(capacity) - marked) / change);
    }
  }
  return degree;
}

bool Transition::checkSpace() const {
  // Asked on every search; places without a capacity take anything.
  if (boundedOutPlaces == 0) return true;
  for (Place* out : outPlaces) {
    if (out->getCapacity() == 0) continue;
    const int produced = out->getInTransitionMultiplicity(id);
    bool fits = out->canTake(static_cast<unsigned int>(produced));
    if (!fits && contains(inPlaces, out)) {
      const int consumed = out->getOutTransitionMultiplicity(id);
      fits = out->canTake(static_cast<unsigned int>(produced - consumed));
    }
    if (!fits) {
      if (std::ostream* log = Logging::trans()) {
        *log << getName() << " checkSpace(): " << *out << " can't take token..." << std::endl;
      }
      return false;
    }
  }
  return true;
}

bool Transition::convertTimeguardBinding(Binding* binding) {
  TempBindingList* list = getAvailableBindingList();
  if (list == nullptr) return false;
  std::ostream* out = Logging::trans();
  if (out) *out << getName() << " convert temporary Timeguard binding..." << std::endl;
  if (list->empty()) {
    if (out) *out << getName() << " found no configuration ;-(" << std::endl;
    dropCandidates(list);
    return false;
  }
  TokenList* tokens = extractRandomBinding(list);
  dropCandidates(list);
  binding->convertTempBinding(tokens);
  // The converted binding now holds tokens like any other: register it with them so that a
  // token consumed elsewhere drops it.
  registerWithTokens(binding);
  timeguardOptimization = false;
  if (out) *out << "Binding is converted to: " << *binding << std::endl;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Reactions to changes elsewhere in the net.

void Transition::tokenNotify(const Ptr<Token>& token) {
  KERNEL_ASSERT(!bindings.empty());
  if (isOptimizingTimeguardTransition()) return;
  if (!isInfinite) {
    KERNEL_ASSERT(bindings.size() == 1);
    removeBinding(*bindings.begin(), false);
  } else {
    for (auto it = bindings.begin(); it != bindings.end();) {
      Binding* binding = *it;
      ++it;
      const TokenList* tokens = binding->getBoundTokens();
      if (tokens == nullptr) continue;
      bool holds = false;
      for (const Ptr<Token>& bound : *tokens) holds = holds || *bound == *token;
      if (!holds) continue;
      // The binding's other tokens are still waiting in our input places: offer them again.
      for (const Ptr<Token>& bound : *tokens) {
        if (*bound == *token) continue;
        for (const Place* in : inPlaces) {
          if (holdsToken(in->getFullMarking(), bound)) {
            addNotBoundToken(bound);
            break;
          }
        }
      }
      removeBinding(binding, false);
    }
  }
  searchConfiguration();
}

void Transition::placeNotify() {
  if (firing || isOptimizingTimeguardTransition()) return;
  std::ostream* out = Logging::trans();
  if (out) *out << getName() << " placeNotify()... BEGIN" << std::endl;
  if (!inEventList) {
    searchConfiguration();
  } else if (!globalGuard()) {
    removeAllBindingsFromEventList();
  }
  if (out) *out << getName() << " placeNotify() ...END" << std::endl;
}

void Transition::couldEnableNotify() {
  if (std::ostream* out = Logging::trans()) logCouldEnable(*out);
  // The flags first: the time-guard test asks the model.
  if ((isInfinite || !inEventList) && !isOptimizingTimeguardTransition()) searchConfiguration();
}

void Transition::logCouldEnable(std::ostream& out) const {
  out << getName() << " couldEnableNF() isInf: " << truth(isInfinite)
      << " inEventList: " << truth(inEventList) << std::endl;
}

void Transition::couldDisableNotify() {
  if (std::ostream* out = Logging::trans()) *out << getName() << "couldDisableNF()" << std::endl;
  if (isOptimizingTimeguardTransition() || !inEventList) return;
  if (!checkSpace() || !globalGuard()) removeAllBindingsFromEventList();
  if (isInfinite) {
    int surplus = static_cast<int>(bindings.size()) - getEnablingDegree();
    for (; surplus > 0 && !bindings.empty(); --surplus) removeRandomBindingFromEventList();
  }
}

void Transition::notifyTransitions() {
  for (Transition* transition : couldEnableTransitions) transition->couldEnableNotify();
  for (Transition* transition : couldDisableTransitions) transition->couldDisableNotify();
}

// ---------------------------------------------------------------------------------------------
// Firing.

void Transition::accumMeasures(const Binding* binding, double weight) {
  std::ostream* out = Logging::trans();
  if (out) *out << getName() << "->accumMeasures() BEGIN" << std::endl;
  for (MeasureObj* measure : measures) measure->accum(binding, weight);
  if (out) *out << getName() << "->accumMeasures() END" << std::endl;
}

void Transition::notifyMeasures() {
  std::ostream* out = Logging::trans();
  if (out) *out << getName() << "->notifyMeasures() BEGIN" << std::endl;
  for (MeasureObj* measure : measures) measure->notify();
  if (out) *out << getName() << "->notifyMeasures() END" << std::endl;
}

void Transition::notifyPlaceWatch() {
  for (Place* place : affectedPlaces) place->displContent();
}

void Transition::fire(Binding* binding, double weight) {
  // Only a binding with tokens can fire; a placeholder must have been converted first.
  KERNEL_ASSERT(binding->getBoundTokens() != NULL);
  const DateTime dueTime = binding->getTime();
  accumMeasures(binding, weight);
  firing = true;
  std::ostream* out = Logging::trans();
  if (out) *out << std::endl << std::string(69, '#') << std::endl << getName() << " -> fire..." << std::endl;
  TokenList& tokens = *binding->getBoundTokens();
  ++fireCount;
  ++globalFireCount;
  if (out) *out << getName() << "... firecounter increased..." << std::endl;
  moveTokens(tokens);
  if (logging) {
    if (out) *out << getName() << "... now i log ..." << std::endl;
    log(tokens);
  }
  if (displaying) {
    if (out) *out << getName() << "... display expression ..." << std::endl;
    const double value = display(tokens);
    if (net != nullptr) net->displayOut(this, value);
  }
  if (out) {
    *out << " token->notifyTransition() " << std::endl;
    *out << getName() << " now deleting event..." << std::endl;
  }
  removeBinding(binding, true);
  notifyTransitions();
  if (out) *out << getName() << "... event deleted..." << std::endl;
  if (isOptimizingTimeguardTransition()) {
    addTimeguardBinding(dueTime);
  } else {
    searchConfiguration();
  }
  if (out) {
    *out << getName() << "... searched configuration ..." << std::endl;
    *out << "\t" << " fire ende" << std::endl;
  }
  firing = false;
  if (watch && net != nullptr) net->measureOut(this, static_cast<double>(fireCount));
  notifyMeasures();
  notifyPlaceWatch();
}

// ---------------------------------------------------------------------------------------------
// Text.

void Transition::printPlaces() const {
  std::cout << "\t<-\n";
  for (const Place* place : inPlaces) std::cout << "\t\t" << place->getName() << "\n";
  std::cout << "\t->\n";
  for (const Place* place : outPlaces) std::cout << "\t\t" << place->getName() << "\n";
}

std::ostream& operator<<(std::ostream& out, const Transition& transition) {
  return out << transition.getName() << ", weight:" << transition.getFiringWeight()
             << ", priority:" << transition.getPriority() << std::endl;
}
