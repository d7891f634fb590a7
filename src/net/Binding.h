#pragma once

#include <ostream>

#include "core/DateTime.h"
#include "core/IntTypes.h"
#include "net/Token.h"

class Transition;

// One pending event of one transition: the tokens it will consume, when it is due, and the
// priority, weight and identity by which the engine chooses among events due together.
// A binding without a token list is either a time-guard placeholder (temp binding) or a
// time-only sentinel bound to no transition.
class Binding {
 public:
  // Bindings come and go with every event: they come from the small-object pool.
  VUDI_POOLED_NEW

  Binding(TokenList* tokens, Transition* transition, const DateTime& now);
  Binding(Transition* transition, const DateTime& now);
  explicit Binding(const DateTime& time);
  Binding(Counter ID, Transition* transition, DateTime time, int priority, double weight,
          bool fireEvent, TokenList* tokens);
  ~Binding();

  // A binding owns its token list, so it is never copied; assignment is kept for the token-less
  // sentinels and asserts that neither side owns a list.
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding& other);

  void updateTime(const DateTime& now);
  // Moves the event without drawing a new delay. The owner's event list is ordered by time, so
  // the binding must be out of it meanwhile.
  void setTime(const DateTime& when) { time = when; }
  void convertTempBinding(TokenList* tokens);

  TokenList* getBoundTokens() const { return boundTokens; }
  Transition* getBoundTransition() const { return boundTransition; }
  const DateTime& getTime() const { return time; }
  int getPriority() const { return priority; }
  Counter getID() const { return ID; }
  double getWeight() const { return weight; }
  bool isFireEvent() const { return fireEvent; }
  bool isTempBinding() const { return boundTokens == nullptr; }

  // Event order: earlier time first, then higher priority, then the older binding.
  bool operator<(const Binding& other) const {
    return eventBefore(time, priority, ID, other.time, other.priority, other.ID);
  }
  static bool eventBefore(const DateTime& time, int priority, Counter ID, const DateTime& otherTime,
                          int otherPriority, Counter otherID) {
    if (time != otherTime) return time < otherTime;
    if (priority != otherPriority) return priority > otherPriority;
    return ID < otherID;
  }
  bool operator==(const Binding& other) const { return ID == other.ID; }

  static Counter idCounter;

 private:
  void init(Transition* transition, const DateTime& now);

  TokenList* boundTokens;
  Transition* boundTransition;
  DateTime time;
  int priority;
  Counter ID;
  double weight;
  bool fireEvent;
};

// Orders pointers by what they point to; every transition's event list is a
// std::set<Binding*, DerefLess<Binding*>> (with the pool's allocator).
template <class T>
struct DerefLess {
  bool operator()(const T& a, const T& b) const { return *a < *b; }
};

std::ostream& operator<<(std::ostream& out, const Binding& binding);
