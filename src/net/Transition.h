#pragma once

#include <ios>
#include <list>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/Delay.h"
#include "core/IntTypes.h"
#include "core/Logging.h"
#include "core/RandomWrapper.h"
#include "net/Binding.h"
#include "net/DefaultGM.h"
#include "net/EventQueue.h"
#include "net/Place.h"
#include "net/Token.h"

class MeasureObj;

// Abstract net transition with its own event list: the ordered set of its pending bindings, from
// which the engine takes the first. Model subclasses supply the binding search, the token moves
// and the firing delay; this class keeps the event list current incrementally after every firing.
class Transition : public DefaultGM {
 public:
  VUDI_POOLED_NEW

  using EventList = std::set<Binding*, DerefLess<Binding*>, PoolAllocator<Binding*>>;

  Transition(int uniqueid, const char* name, NetClass* net, const PlaceIdentMap& places,
             std::string pagePath, double firingWeight, int priority, bool exp, bool takeFirst,
             bool isInfinite, bool hasLocalGuard);
  Transition(int uniqueid, const char* name, NetClass* net,
             const std::map<std::string, std::string>& attributes, const PlaceIdentMap& places,
             std::string pagePath, double firingWeight, int priority, bool exp, bool takeFirst,
             bool isInfinite, bool hasLocalGuard);
  ~Transition() override;

  // Operations the model classes may override.
  virtual void startup();
  virtual int getPriority() const { return priority; }
  virtual Seconds_T getFiringDelay(TokenList& binding) const;
  virtual double getFiringWeight() const { return firingWeight; }
  virtual Counter getFireCount() const { return fireCount; }
  virtual void setDisplaying(bool on) { displaying = on; }
  virtual void setWatch(bool on) { watch = on; }
  virtual void setImmediate(bool on) { immediate = on; }
  virtual void setLogfile(std::string name, std::string description);
  virtual Seconds_T Timeguard(const DateTime& now);
  virtual bool hasTimeguard() const;
  virtual void updateEventList();
  virtual void log(TokenList& binding);
  virtual double display(TokenList& binding);
  virtual bool checkSpace() const;
  virtual TempBindingList* generateBindingList() = 0;
  virtual bool globalGuard();
  virtual void initGlobalGuards();
  virtual void moveTokens(TokenList& binding) = 0;

  // Structure.
  void addInPlace(Place* place);
  void addOutPlace(Place* place);
  const PlaceList& getInPlaces() const { return inPlaces; }
  const PlaceList& getOutPlaces() const { return outPlaces; }
  int getID() const { return id; }
  bool hasLocalGuard() const { return localGuard; }
  void addMeasure(MeasureObj* measure);

  // Event list. Every change of it goes through this class, which tells the net's event queue when
  // the first event may have changed.
  Binding* getNextEvent() const { return bindings.empty() ? nullptr : *bindings.begin(); }
  const EventList& getEvents() const { return bindings; }
  void addBinding(Binding* binding);
  void addTimeguardBinding(const DateTime& time);
  void removeBinding(Binding* binding, bool notify);
  void removeAllBindingsFromEventList();
  void removeRandomBindingFromEventList();
  // Moves the events due before `time` to `time`, without drawing new delays; with a log, writes
  // each event that follows one looked at.
  void moveEventsDueBefore(const DateTime& time, std::ostream* log);

  // Tokens of the input places that no binding holds (infinite server only). Every token a place
  // gains or loses passes here for each transition the place feeds.
  void addNotBoundToken(const Ptr<Token>& token) {
    if (isInfinite) notBoundTokens.push_back(token);
  }
  void removeNotBoundToken(const Ptr<Token>& token) {
    if (isInfinite) notBoundTokens.remove(token);
  }
  const TokenList& getNotBoundTokens() const { return notBoundTokens; }

  // Saved-state support. A restore replaces the whole event list through restoreEventList,
  // without notifying anyone: the rest of the net is being restored at the same time.
  std::list<Transition*> getCouldEnableTransitions() const {
    return {couldEnableTransitions.begin(), couldEnableTransitions.end()};
  }
  std::list<Transition*> getCouldDisableTransitions() const {
    return {couldDisableTransitions.begin(), couldDisableTransitions.end()};
  }
  void setCouldEnableTransitions(const std::list<Transition*>& list) {
    couldEnableTransitions.assign(list.begin(), list.end());
  }
  void setCouldDisableTransitions(const std::list<Transition*>& list) {
    couldDisableTransitions.assign(list.begin(), list.end());
  }
  bool getInEventList() const { return inEventList; }
  void setInEventList(bool on) { inEventList = on; }
  void setTimeguardOptimization(bool on) { timeguardOptimization = on; }
  bool getTimeguardOptimization() const { return timeguardOptimization; }
  void restoreEventList(const std::vector<Binding*>& restored, bool optimizing);
  void removeCurrentBindings();
  void addRestoredBinding(Binding* binding);
  void removeCurrentNotBoundTokens() { notBoundTokens.clear(); }
  void addRestoredNotBoundToken(const Ptr<Token>& token) { notBoundTokens.push_back(token); }

  bool isOptimizingTimeguardTransition() const;

  // Binding search, enabling degree and firing.
  void fire(Binding* binding, double weight);
  void searchConfiguration();
  // Inline, like the helpers of the search below: a firing sets off several searches, and most
  // find nothing.
  TempBindingList* getAvailableBindingList() {
    const bool space = checkSpace();
    const bool guard = globalGuard();
    if (std::ostream* out = Logging::trans()) logAvailability(*out, space, guard);
    return space && guard ? generateCandidates() : nullptr;
  }
  TokenList* extractRandomBinding(TempBindingList* list);
  void clearTempBindingList(TempBindingList* list);
  int getEnablingDegree();
  // Asked once per input place by every binding search: a single server's offer is answered
  // inline.
  TokenList* getPlaceMarking(Place& place) {
    if (!isInfinite) return &place.getMarking(place.getOutTransitionMultiplicity(id));
    return notBoundOffer(place);
  }
  bool convertTimeguardBinding(Binding* binding);
  void tokenNotify(const Ptr<Token>& token);
  void placeNotify();
  void couldEnableNotify();
  void couldDisableNotify();
  void notifyTransitions();
  void accumMeasures(const Binding* binding, double weight);
  void notifyMeasures();
  void notifyPlaceWatch();

  void printPlaces() const;

  static Counter globalFireCount;

 protected:
  // A list that generateBindingList may fill and return instead of a new one: the kernel empties
  // it after the search and keeps it for the next, so that a search allocates only the token
  // list it binds.
  TempBindingList& ownCandidates() { return candidates; }

  Delay delay;
  RandomWrapper random;

 private:
  friend class EventQueue;
  static constexpr std::size_t kNotQueued = static_cast<std::size_t>(-1);

  void firstEventMayHaveChanged() {
    if (eventQueue == nullptr || queueNoted) return;
    queueNoted = true;
    eventQueue->note(this);
  }
  void openLogfile(const std::string& name, const std::string& description);
  void buildAffectedTransitionLists();
  void registerWithTokens(Binding* binding);
  TempBindingList* generateCandidates() {
    // A place with fewer tokens than its arc takes leaves nothing to bind: most searches a
    // firing sets off end here, without asking the model.
    for (const Place* in : inPlaces) {
      if (in->getMarkingSize() < in->getOutTransitionMultiplicity(id)) return &candidates;
    }
    TempBindingList* list = generateBindingList();
    // Only an infinite server's search makes offers of its own.
    if (isInfinite) clearOffers();
    return list;
  }
  void clearOffers();
  void logAvailability(std::ostream& out, bool space, bool guard) const;
  void logCouldEnable(std::ostream& out) const;
  TokenList* notBoundOffer(Place& place);
  void dropCandidates(TempBindingList* list) {
    if (list == &candidates) {
      if (!list->empty()) clearTempBindingList(list);
      return;
    }
    clearTempBindingList(list);
    delete list;
  }
  void enterNewBinding(TokenList* tokens, const DateTime& time);
  TempBindingList* searchInfiniteServer(TempBindingList* list, const DateTime& time);
  void giveBackTokens(Binding* binding);
  void insertMeasure(MeasureObj* measure);
  void deleteAllBindings();
  const DateTime& now() const;

  PlaceList inPlaces;
  PlaceList outPlaces;
  int boundedOutPlaces = 0;  // output places with a capacity
  TransitionList couldEnableTransitions;
  TransitionList couldDisableTransitions;
  PlaceList affectedPlaces;
  TokenList notBoundTokens;
  // Per input place, the not-bound tokens offered to the binding search; kept apart so that a
  // search holding the offer of one place is not disturbed by the offer of the next. Emptied
  // after every search.
  std::map<const Place*, TokenList> offeredTokens;
  TempBindingList candidates;
  EventList bindings;
  // Each measure once, in address order as a set of pointers holds them; a sorted vector, since
  // every firing walks it twice.
  MeasureVector measures;
  Counter fireCount = 0;
  bool inEventList = false;
  bool timeguardOptimization = false;
  bool isInfinite;
  bool exp;
  bool watch = false;
  bool firing = false;
  int priority;
  double firingWeight;
  bool takeFirst;
  bool immediate = false;
  bool displaying = false;
  bool logging = false;
  // The per-transition log file is written and closed when it is set, so no stream is kept: one
  // kept per transition would be set up again at every rebuild of the net, with logging off too.
  std::string logFileName;
  int id;
  bool localGuard;
  std::string pagePath;
  // Kept by the net's event queue: where this transition stands in it, and its place in the
  // name order.
  EventQueue* eventQueue = nullptr;
  std::size_t queueSlot = kNotQueued;
  bool queueNoted = false;
  int nameRank = 0;
};

std::ostream& operator<<(std::ostream& out, const Transition& transition);
