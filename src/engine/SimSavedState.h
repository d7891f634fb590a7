#pragma once

#include <list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/IntTypes.h"
#include "engine/BindingDummy.h"
#include "net/NetClass.h"
#include "net/Transition.h"

class Place;

// A snapshot of a whole net: every place's marking, every transition's event list, not-bound
// tokens, neighbour lists and time-guard flag, with the level and time at which it was taken and
// the retrials it has left. It keeps private copies of the tokens, shared by its own copies, and
// hands the net fresh copies on every restore, so it can be restored any number of times.
//
// Tokens are recorded by id. One token object may lie in several places, or twice in one; a
// restore makes one copy per id and uses it for every occurrence, so the net gets back the same
// sharing of token objects it had. What a restore could not reproduce is found while saving and
// reported by getProblem(): a token that cannot be copied, two token objects with one id, a bound
// or not-bound token that lies in no place, an arc or neighbour that is not the net's element of
// its name.
class SimSavedState {
 public:
  SimSavedState(NetClass* net, int level, DateTime time);

  // Empty when the state can be restored faithfully, else what stands in the way.
  const std::string& getProblem() const { return problem; }

  // Restoring: markings first, then the transitions, which take their tokens from the markings.
  void restoreMarkings(const NetClass::PlaceMap& places);
  void restoreTransitionStates(const std::map<std::string, Transition*>& transitions);

  DateTime getStateTime() const { return stateTime; }
  void setStateTime(DateTime time) { stateTime = time; }
  int getStateLevel() const { return stateLevel; }
  void setStateLevel(int level) { stateLevel = level; }
  int getTrials() const { return trials; }
  void setTrials(int n) { trials = n; }
  void decrementTrials() { --trials; }

  // Parts of the saving and restoring, by transition map.
  void setSavedBindings(const std::map<std::string, Transition*>& transitions);
  void setSavedNotBoundTokens(const std::map<std::string, Transition*>& transitions);
  void setSavedAffectedTransitions(const std::map<std::string, Transition*>& transitions);
  void restoreSavedAffectedTransitions(const std::map<std::string, Transition*>& transitions);

  std::vector<Counter> getSavedTokensID(const std::string& place) const;
  Ptr<Token> getSavedToken(Counter id) const;
  Ptr<Token> getRestoredToken(Counter id) const;

 private:
  void setSavedMarkings();
  void savePlaceMarking(const std::string& place, const TokenList& marking);
  void saveTransitionStates();
  void saveTransitionBindings(Transition* transition, const Transition::EventList& events);
  std::vector<Counter> createTokensIDList(const TokenList& tokens, const Transition* holder);
  void saveTransitionNotBoundTokens(Transition* transition, const TokenList& tokens);
  void checkNeighbours(const Transition* transition);
  void restorePlaceMarking(Place* place);
  void restoreTransitionBindings(Transition* transition);
  void restoreTransitionNotBoundTokens(Transition* transition);
  TokenList* createTokenList(const std::vector<Counter>& ids) const;
  void addRestoredToken(Ptr<Token> token);
  void fail(const std::string& what);

  std::map<std::string, std::vector<Counter>> savedMarkings;
  std::map<std::string, std::set<BindingDummy>> savedBindings;
  std::map<std::string, std::vector<Counter>> savedNotBoundTokens;
  std::map<Counter, Ptr<Token>> savedTokens;
  std::map<Counter, Ptr<Token>> restoredTokens;
  std::map<std::string, std::list<Transition*>> couldEnable;
  std::map<std::string, std::list<Transition*>> couldDisable;
  std::map<std::string, bool> timeguardOptimization;
  int stateLevel;
  DateTime stateTime;
  int trials = 0;
  NetClass* net;
  // While saving: the token object each saved id was taken from, to tell one object met twice
  // from two objects that share an id.
  std::map<Counter, const Token*> originals;
  std::string problem;
};
