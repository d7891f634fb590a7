#pragma once

#include <initializer_list>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/DateTime.h"
#include "net/EventQueue.h"
#include "net/RunContext.h"
#include "net/Token.h"
#include "net/Token_int.h"

class MeasureObj;
class Place;
class Transition;

// The container of one net: places and transitions by name, the active measures and the measures
// kept across the per-run rebuilds, and the run driving it. The model derives from it
// and fills in how the net is built and how its tokens are copied.
class NetClass {
 public:
  // Looked up by name, without a string made for the name: measures ask on every event.
  using PlaceMap = std::map<std::string, Place*, std::less<>>;
  using TransitionMap = std::map<std::string, Transition*>;

  NetClass();
  virtual ~NetClass();

  NetClass(const NetClass&) = delete;
  NetClass& operator=(const NetClass&) = delete;

  virtual void buildNet() = 0;
  virtual void createTokens() = 0;
  // Copying and re-typing depend on the model's token types, so the model supplies them.
  virtual Ptr<Token> copyToken(Ptr<Token> oldToken) = 0;
  virtual Ptr<Token> upcastToken(Ptr<Token> token) = 0;

  // Building. The net takes ownership of what it enters; an element whose name is already taken
  // is not entered and stays its caller's.
  void addPlace(Place* place);
  void addTransition(Transition* transition);
  void addMeasure(MeasureObj* measure);
  void linkPlaceToTransition(const char* place, const char* transition, int multiplicity);
  void linkTransitionToPlace(const char* transition, const char* place, int multiplicity);
  void linkIntoTransition(Place* place, Transition* transition, int multiplicity);
  void linkOutOfTransition(Transition* transition, Place* place, int multiplicity);
  // Warns of the token elements of "marking.xml" that name a place the net lacks, or one that is
  // not among the `takers` of integer tokens, one line per name with its count: their tokens are
  // left out, and a misspelt place would otherwise pass for a marking that is simply empty there.
  void warnOfLeftOutMarkingTokens(const std::vector<Token_int::Initial>& tokens,
                                  std::initializer_list<const Place*> takers);

  // Lookups.
  Place* getPlace(const char* name);
  Place* getPlace(const std::string& name);
  Place* getPlace(int id);
  Place* getPlace(const PlaceIdentMap* aliases, const char* localName);
  Transition* getTransition(const char* name);
  Transition* getTransition(int id);
  const PlaceMap& getPlaces() const { return places; }
  const std::map<std::string, Transition*>& getTransitions() const { return transitions; }
  // The transitions of the net with a pending event, by their first event.
  EventQueue& getEventQueue() { return eventQueue; }
  std::list<MeasureObj*>& getMeasureList() { return measureList; }
  RunContext* getSimulation() const { return simulation; }
  void setSimulation(RunContext* sim) { simulation = sim; }

  // The elements' view of the run driving the net. Without one, time stands at the start of the
  // calendar, the run is not single-stepped and reports go nowhere.
  const DateTime& getCurrentSimulationTime() const {
    return simulation != nullptr ? simulation->getCurrentSimulationTime() : noRunTime;
  }
  bool isSingleStep() const { return simulation != nullptr && simulation->isSingleStep(); }
  void measureOut(DefaultGM* element, double value) {
    if (simulation != nullptr) simulation->measureOut(element, value);
  }
  void displayOut(DefaultGM* element, double value) {
    if (simulation != nullptr) simulation->displayOut(element, value);
  }
  static inline const DateTime noRunTime{};

  // The tokens read from the token database, kept for the rest of the process: each run's rebuild
  // puts a fresh copy of every one into its place, so that no run reads the database again and
  // none starts with tokens an earlier run has changed. A token of a type the net cannot copy is
  // not kept.
  void keepStoredToken(const std::string& place, const Ptr<Token>& token);
  void forgetStoredTokens() { storedTokens.clear(); }
  void addStoredTokens();

  // Measures across rebuilds. A measure goes with the last place that lets it go; the net deletes
  // none it was only given. A rebuild frees the previous build's places while their measures may
  // still be read, so the net keeps those places' references in their stead: a stored measure's
  // as long as it stays stored, any other's until the next rebuild, so that the builder's pointer
  // to its newest measure stays good until its next build replaces it.
  void storeMeasureList();
  void clearMaps();
  void loadMeasureList(int mode);
  void restoreNet(int mode);

  std::string writeMaps() const;

 private:
  void deleteElements();
  void holdMeasuresOfFreedPlaces();

  PlaceMap places;
  PlaceMap::const_iterator lastPlaceFound = places.end();
  TransitionMap transitions;
  // The map nodes of the elements the last rebuild deleted, names and all, for the next build to
  // enter its elements in without allocating.
  std::vector<PlaceMap::node_type> sparePlaceNodes;
  std::vector<TransitionMap::node_type> spareTransitionNodes;
  EventQueue eventQueue{transitions};
  std::list<MeasureObj*> measureList;
  std::list<MeasureObj*> storedMeasureList;
  // The measures whose freed places' references the net holds, each once; and the same before
  // the last clearing, kept for its room. From the pool, like the places' own measure lists.
  std::vector<MeasureObj*, PoolAllocator<MeasureObj*>> heldMeasures;
  std::vector<MeasureObj*, PoolAllocator<MeasureObj*>> heldBefore;
  // Place name and an untouched copy of each stored token, in the order read.
  std::vector<std::pair<std::string, Ptr<Token>>> storedTokens;
  RunContext* simulation = nullptr;
};
