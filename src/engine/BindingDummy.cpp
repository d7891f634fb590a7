#include "engine/BindingDummy.h"

#include <utility>

#include "net/Binding.h"

BindingDummy::BindingDummy(Counter ID, Transition* transition, DateTime time, int priority,
                           double weight, bool fireEvent, std::vector<Counter> tokensID,
                           bool tempBinding)
    : boundTransition(transition),
      time(time),
      priority(priority),
      ID(ID),
      weight(weight),
      fireEvent(fireEvent),
      tempBinding(tempBinding),
      tokensID(std::move(tokensID)) {}

bool BindingDummy::operator<(const BindingDummy& other) const {
  return Binding::eventBefore(time, priority, ID, other.time, other.priority, other.ID);
}
