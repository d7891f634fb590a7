#include "net/Binding.h"

#include <cmath>
#include <iomanip>
#include <limits>

#include "core/Assert.h"
#include "net/Transition.h"

Counter Binding::idCounter = 0;

Binding::Binding(TokenList* tokens, Transition* transition, const DateTime& now)
    : boundTokens(tokens) {
  init(transition, now);
}

Binding::Binding(Transition* transition, const DateTime& now) : boundTokens(nullptr) {
  init(transition, now);
}

Binding::Binding(const DateTime& time)
    : boundTokens(nullptr),
      boundTransition(nullptr),
      time(time),
      priority(0),
      ID(idCounter++),
      weight(1.0),
      fireEvent(false) {}

Binding::Binding(Counter ID, Transition* transition, DateTime time, int priority, double weight,
                 bool fireEvent, TokenList* tokens)
    : boundTokens(tokens),
      boundTransition(transition),
      time(time),
      priority(priority),
      ID(ID),
      weight(weight),
      fireEvent(fireEvent) {}

Binding::~Binding() { delete boundTokens; }

Binding& Binding::operator=(const Binding& other) {
  // Sharing a token list between two bindings would delete it twice.
  KERNEL_ASSERT(boundTokens == nullptr && other.boundTokens == nullptr);
  boundTransition = other.boundTransition;
  time = other.time;
  priority = other.priority;
  ID = other.ID;
  weight = other.weight;
  fireEvent = other.fireEvent;
  return *this;
}

void Binding::init(Transition* transition, const DateTime& now) {
  boundTransition = transition;
  fireEvent = !transition->hasTimeguard();
  updateTime(now);
  priority = transition->getPriority();
  weight = transition->getFiringWeight();
  ID = idCounter++;
}

void Binding::updateTime(const DateTime& now) {
  KERNEL_ASSERT(boundTransition != nullptr);
  Seconds_T delay;
  if (boundTokens != nullptr) {
    delay = boundTransition->getFiringDelay(*boundTokens);
  } else {
    TokenList none;
    delay = boundTransition->getFiringDelay(none);
  }
  time = now + delay;
  if (!fireEvent) time += boundTransition->Timeguard(now);
  // A time that is no number compares with nothing: an event list would take the binding for one
  // it holds already. Such an event is never due, so it is kept as one at infinity, after every
  // other.
  if (std::isnan(time.FullDateTime())) time = DateTime(std::numeric_limits<double>::infinity());
}

void Binding::convertTempBinding(TokenList* tokens) { boundTokens = tokens; }

std::ostream& operator<<(std::ostream& out, const Binding& binding) {
  if (binding.isTempBinding()) out << "Temp";
  out << "Binding[" << (binding.isFireEvent() ? "FIRE, " : "TIMEGUARD, ")
      << (binding.getBoundTransition() != nullptr ? binding.getBoundTransition()->getName() : "")
      << ", ID: " << binding.getID()
      << ", time: " << std::setprecision(16) << binding.getTime().FullDateTime()
      << ", prio: " << binding.getPriority() << ", weight: " << binding.getWeight() << "]";
  return out;
}
