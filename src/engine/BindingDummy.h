#pragma once

#include <vector>

#include "core/DateTime.h"
#include "core/IntTypes.h"

class Transition;

// The passive form of a saved binding: its fields, with token ids in place of the tokens, so that
// it stays valid whatever the net does with the tokens afterwards. A time-guard placeholder is
// saved as a placeholder: it has no token list, which is not the same as an empty one.
class BindingDummy {
 public:
  BindingDummy(Counter ID, Transition* transition, DateTime time, int priority, double weight,
               bool fireEvent, std::vector<Counter> tokensID, bool tempBinding = false);

  Counter getID() const { return ID; }
  Transition* getBoundTransition() const { return boundTransition; }
  DateTime getTime() const { return time; }
  int getPriority() const { return priority; }
  double getWeight() const { return weight; }
  bool isFireEvent() const { return fireEvent; }
  bool isTempBinding() const { return tempBinding; }
  const std::vector<Counter>& getTokensID() const { return tokensID; }

  // The event order of live bindings.
  bool operator<(const BindingDummy& other) const;
  bool operator==(const BindingDummy& other) const { return ID == other.ID; }

 private:
  Transition* boundTransition;
  DateTime time;
  int priority;
  Counter ID;
  double weight;
  bool fireEvent;
  bool tempBinding;
  std::vector<Counter> tokensID;
};
