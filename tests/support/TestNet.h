#pragma once

#include <functional>
#include <iterator>
#include <utility>

#include "engine/Simulation.h"
#include "net/Binding.h"
#include "net/MeasureObj.h"
#include "net/NetClass.h"
#include "net/Place.h"
#include "net/Token_int.h"
#include "net/Transition.h"

namespace testnet {

// A transition whose candidates are every combination of one offered token per input arc (arc
// multiplicities above 1 take that many consecutive tokens), and whose firing removes the bound
// tokens and puts `multiplicity` new integer tokens into each output place.
struct TestTransition : Transition {
  struct Options {
    double firingWeight = 1.0;
    int priority = 0;
    bool infinite = false, localGuard = false;
    bool timeguard = false;   // a time guard: the transition holds a placeholder
    double opensAfter = 0.0;  // the seconds until the time guard opens
    enum class Kind { immediate, deterministic, exponential } kind = Kind::immediate;
    double delay = 0.0;  // the deterministic delay or the exponential mean

    static Options exponential(double mean, bool infinite = false) {
      return {.infinite = infinite, .kind = Kind::exponential, .delay = mean};
    }
  };

  TestTransition(int id, const char* name, NetClass* net, const Options& options)
      : Transition(id, name, net, PlaceIdentMap(), "", options.firingWeight, options.priority,
                   false, false, options.infinite, options.localGuard), options(options) {
    setImmediate(options.kind == Options::Kind::immediate);
  }

  bool hasTimeguard() const override { return options.timeguard; }
  Seconds_T Timeguard(const DateTime&) override { return options.opensAfter; }
  Seconds_T getFiringDelay(TokenList&) const override {
    if (options.kind == Options::Kind::deterministic) return delay.Det(options.delay);
    return options.kind == Options::Kind::exponential ? delay.Exp(options.delay) : 0.0;
  }

  // The candidates are built straight into the kernel's pooled lists, prefix by prefix.
  TempBindingList* generateBindingList() override {
    auto* list = new TempBindingList;
    list->push_back(new TokenList);
    for (Place* place : getInPlaces()) {
      // The groups of consecutive offered tokens one firing would take; multiplicity 0 takes none.
      const int w = place->getOutTransitionMultiplicity(getID());
      if (w <= 0) continue;
      const TokenList& offered = *getPlaceMarking(*place);
      TempBindingList extended;
      for (TokenList* prefix : *list) {
        auto token = offered.begin();
        for (size_t groups = offered.size() / static_cast<size_t>(w); groups > 0; --groups) {
          TokenList* candidate = extended.emplace_back(new TokenList(*prefix));
          for (int k = 0; k < w; ++k) candidate->push_back(*token++);
        }
        delete prefix;
      }
      list->swap(extended);
    }
    return list;
  }

  void moveTokens(TokenList& binding) override {
    auto token = binding.begin();
    for (Place* place : getInPlaces()) {
      const int w = place->getOutTransitionMultiplicity(getID());
      for (int k = 0; k < w && token != binding.end(); ++k) place->removeToken(*token++);
    }
    for (Place* place : getOutPlaces())
      for (int k = place->getInTransitionMultiplicity(getID()); k > 0; --k)
        place->addToken(Ptr<Token>(new Token_int(0)));
  }

  Options options;
};
using Opt = TestTransition::Options;

// A net whose buildNet runs a function, so the engine's per-run rebuilds recreate it.
struct TestNet : NetClass {
  explicit TestNet(std::function<void(TestNet&)> build) : build(std::move(build)) {}

  void buildNet() override { build(*this); }
  void createTokens() override {}
  Ptr<Token> copyToken(Ptr<Token> token) override {
    Ptr<Token_int> typed = Dynamic_Cast<Token_int, Token>(token);
    return Ptr<Token>(typed == 0 ? nullptr : new Token_int(*typed, true));
  }
  Ptr<Token> upcastToken(Ptr<Token> token) override {
    return Ptr<Token>(Dynamic_Cast<Token_int, Token>(token));
  }

  Place* place(const char* name, int id, unsigned int capacity = 0) {
    return added(new Place(id, name, this, false, capacity), &NetClass::addPlace);
  }
  TestTransition* transition(const char* name, int id, const TestTransition::Options& options) {
    return added(new TestTransition(id, name, this, options), &NetClass::addTransition);
  }
  void tokens(const char* place, int count) {
    for (int i = 0; i < count; ++i) getPlace(place)->addToken(Ptr<Token>(new Token_int(i)));
  }

  template <class T, class Base>
  T* added(T* element, void (NetClass::*add)(Base*)) { return (this->*add)(element), element; }
  std::function<void(TestNet&)> build;
};

// The number of tokens in a place, or with atLeast > 0 whether it holds at least that many:
// instantaneous, or averaged over simulated time. In RESTART runs the engine passes the span to
// average over; the accumulation carries the path weight.
struct MarkingMeasure : MeasureObj {
  MarkingMeasure(const char* name, NetClass* net, const char* place, bool timeAveraged,
                 int atLeast = 0)
      : MeasureObj(name, net, false), placeName(place), timeAveraged(timeAveraged), atLeast(atLeast) {}

  double measure(double dt) override {
    if (!timeAveraged) return count();
    const double now = net->getSimulation()->getCurrentSimulationTime().FullDateTime();
    const double span = dt >= 0.0 ? dt : now - firstTime;
    return span > 0.0 ? (value + count() * (now - lastTime)) / span : count();
  }
  bool accumulative() override { return false; }
  bool timeaverage() override { return timeAveraged; }
  void accum(const Binding* binding, double weight) override {
    const double t = binding->getTime().FullDateTime();
    if (timeAveraged) value += weight * count() * (t - lastTime), lastTime = t;
  }

  double count() {
    const int n = net->getPlace(placeName.c_str())->getMarkingSize();
    return atLeast > 0 ? (n >= atLeast ? 1.0 : 0.0) : n;
  }
  std::vector<double> means() const { return {AveragedMean.begin(), AveragedMean.end()}; }
  std::vector<double> halfWidths() const { return {DeltaX.begin(), DeltaX.end()}; }
  double last() const { return lastTime; }
  std::string placeName;
  bool timeAveraged;
  int atLeast;
};

// The tokens of a place as they are now, named and declared as the importance function of a
// RESTART run, which keeps only time-averaged measures.
struct ImportanceMeasure : MarkingMeasure {
  ImportanceMeasure(NetClass* net, const char* place)
      : MarkingMeasure("ImportanceFunction", net, place, true) {}
  double measure(double) override { return count(); }
};

using Probe = MarkingMeasure;  // a measure whose estimates the tests read

template <class M = Probe>
void measure(TestNet& n, const char* name, const char* place, bool timeAveraged, int atLeast = 0) {
  auto* m = new M(name, &n, place, timeAveraged, atLeast);
  n.getPlace(place)->addMeasure(m), n.addMeasure(m);
}

// The measure the engine keeps across rebuilds: the first build's, active again after a run.
inline Probe& active(NetClass& net, size_t index = 0) {
  return *static_cast<Probe*>(*std::next(net.getMeasureList().begin(), index));
}

// A transition with an arc in from one place and an arc out to another; no arc for a null place.
inline void step(TestNet& n, const char* from, const char* name, int id, const Opt& o,
                 const char* to) {
  n.transition(name, id, o);
  if (from) n.linkPlaceToTransition(from, name, 1);
  if (to) n.linkTransitionToPlace(name, to, 1);
}

// Ten tokens, each dying after an exponential delay of mean 1 (an infinite server).
inline void dying(TestNet& n, bool timeAveraged = false) {
  n.place("alive", 1), step(n, "alive", "die", 1, Opt::exponential(1.0, true), nullptr);
  n.tokens("alive", 10), measure(n, "alive", "alive", timeAveraged);
}

// Arrivals at rate rho, service at rate 1; the time-averaged number in the system, rho / (1 - rho).
template <class M = Probe>
std::function<void(TestNet&)> mm1(double rho) {
  return [rho](TestNet& n) {
    n.place("queue", 1), measure<M>(n, "inSystem", "queue", true);
    step(n, nullptr, "arrive", 1, Opt::exponential(1.0 / rho), "queue");
    step(n, "queue", "serve", 2, Opt::exponential(1.0), nullptr);
  };
}

// One token, taken at once by "light" (weight 1) into place l or by "heavy" (weight 3) into h;
// the measures "light" and "heavy" count the tokens there: 1/4 and 3/4 on average.
inline void oneToThree(TestNet& n) {
  int id = 0;
  for (const char* place : {"p", "l", "h"}) n.place(place, ++id);
  step(n, "p", "light", 1, {.firingWeight = 1.0, .priority = 1}, "l");
  step(n, "p", "heavy", 2, {.firingWeight = 3.0, .priority = 1}, "h");
  n.tokens("p", 1), measure(n, "light", "l", false), measure(n, "heavy", "h", false);
}

}  // namespace testnet
