#pragma once

#include <list>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "net/DefaultGM.h"
#include "net/Token.h"

class MeasureObj;
class Transition;

// A net place: a marking of shared tokens in arrival order, the arcs to and from transitions with
// their multiplicities, an optional capacity and the measures attached to it.
class Place : public DefaultGM {
 public:
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
  const std::list<Transition*>& getInTransitions() const { return inTransitions; }
  const std::list<Transition*>& getOutTransitions() const { return outTransitions; }

  // Tokens.
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
  const std::vector<MeasureObj*>& getMeasures() const { return measures; }
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
  using Multiplicities = std::vector<std::pair<int, int>>;
  static void setMultiplicity(Multiplicities& arcs, int transitionId, int multiplicity);
  static int multiplicity(const Multiplicities& arcs, int transitionId) {
    for (const auto& [id, m] : arcs) {
      if (id == transitionId) return m;
    }
    return 0;
  }
  TokenList& firstTokens(int n);
  void reportMarking();

  std::list<Transition*> inTransitions;
  Multiplicities inMultiplicities;
  std::list<Transition*> outTransitions;
  Multiplicities outMultiplicities;
  std::list<Transition*> globalGuardTransitions;
  TokenList marking;
  TokenList partialMarking;
  std::vector<MeasureObj*> measures;
  bool firstN;
  bool watch;
  unsigned int capacity;
  int id;
};

std::ostream& operator<<(std::ostream& out, const Place& place);
