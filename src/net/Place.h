#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "net/DefaultGM.h"
#include "net/Token.h"

class MeasureObj;
class Place;
class Transition;

// The arcs and neighbours of the net's elements, made anew with the net at every run's rebuild and
// walked at every firing: vectors, whose room comes from the small-object pool.
using TransitionList = std::vector<Transition*, PoolAllocator<Transition*>>;
using PlaceList = std::vector<Place*, PoolAllocator<Place*>>;
using MeasureVector = std::vector<MeasureObj*, PoolAllocator<MeasureObj*>>;

// A net place: a marking of shared tokens in arrival order, the arcs to and from transitions with
// their multiplicities, an optional capacity and the measures attached to it.
class Place : public DefaultGM {
 public:
  VUDI_POOLED_NEW

  Place(int id, const char* name, NetClass* net, bool firstN, unsigned int capacity);
  Place(int id, const char* name, NetClass* net, const PlaceIdentMap& attributes, bool firstN,
        unsigned int capacity);
  Place(int id, NetClass* net);
  ~Place() override;

  // Arcs.
  void addOutTransition(Transition* transition, int multiplicity);
  void addInTransition(Transition* transition, int multiplicity);
  int getOutTransitionMultiplicity(int transitionId) const {
    return multiplicity(outMultiplicities, transitionId);
  }
  int getInTransitionMultiplicity(int transitionId) const {
    return multiplicity(inMultiplicities, transitionId);
  }
  void addGlobalGuardTransition(Transition* transition);
  const TransitionList& getInTransitions() const { return inTransitions; }
  const TransitionList& getOutTransitions() const { return outTransitions; }

  // Tokens. The caller's handle may lie in one of the lists these change; they go by the
  // place's own entry of the token instead.
  void addToken(const Ptr<Token>& token);
  void removeToken(const Ptr<Token>& token);
  void notifyGlobalGuardTransitions();
  bool canTake(unsigned int n) const;
  // Every binding search asks for it, so the usual case, all tokens, is answered inline.
  TokenList& getMarking(int n) { return firstN ? firstTokens(n) : marking; }
  const TokenList& getFullMarking() const { return marking; }
  int getMarkingSize() const { return static_cast<int>(marking.size()); }
  unsigned int getCapacity() const { return capacity; }
  int getID() const { return id; }
  void removeCurrentMarking();
  void addRestoredToken(const Ptr<Token>& token);

  // Measures and watching.
  void addMeasure(MeasureObj* measure);
  const MeasureVector& getMeasures() const { return measures; }
  // Gives up one reference to the measure; the last one deletes it.
  static void releaseMeasure(MeasureObj* measure);
  void setWatch(bool on) { watch = on; }
  // After every firing, for each place it touched: inline, since few places are watched.
  void displContent() {
    if (watch) reportMarking();
  }

  std::string content() const;
  void printTrans() const;

 private:
  // Arc multiplicities by transition id, asked on every search: a place has a handful of arcs, so
  // a short list searched in order beats a tree.
  using Multiplicities = std::vector<std::pair<int, int>, PoolAllocator<std::pair<int, int>>>;
  static void setMultiplicity(Multiplicities& arcs, int transitionId, int multiplicity);
  static int multiplicity(const Multiplicities& arcs, int transitionId) {
    for (const auto& [id, m] : arcs) {
      if (id == transitionId) return m;
    }
    return 0;
  }
  TokenList& firstTokens(int n);
  void reportMarking();

  TransitionList inTransitions;
  Multiplicities inMultiplicities;
  TransitionList outTransitions;
  Multiplicities outMultiplicities;
  TransitionList globalGuardTransitions;
  TokenList marking;
  TokenList partialMarking;
  TokenList leaving;  // the entries of tokens being removed, until the removal is done
  MeasureVector measures;
  bool firstN;
  bool watch;
  unsigned int capacity;
  int id;
};

std::ostream& operator<<(std::ostream& out, const Place& place);
