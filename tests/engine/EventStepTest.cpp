#include <gtest/gtest.h>

#include "EngineHarness.h"

using namespace enginetest;

namespace {

// An immediate transition with a time guard: it holds a placeholder until the engine converts it.
void guarded(TestNet& n) {
  n.place("p", 1);
  n.transition("guarded", 1, {.timeguard = true});
  n.linkPlaceToTransition("p", "guarded", 1);
}

}  // namespace

TEST(EventStep, EarliestTimeFirstThenHighestPriorityThenAllInNameOrder) {
  // Transitions without input places are always enabled, each with one pending event.
  TestNet net([](TestNet& n) {
    n.transition("late", 1, det(2.0, 9));
    n.transition("c", 2, det(1.0, 3));
    n.transition("a", 3, det(1.0, 3));
    n.transition("b", 4, det(1.0, 1));
  });
  Sim sim(&net, 10.0);
  EXPECT_EQ(sim.next(), "a c");
  EXPECT_EQ(sim.next(true), "a b c late");
}

TEST(EventStep, ConflictsDrawOnceUniformlyAtPriorityZeroAndByWeightAbove) {
  for (int priority : {0, 1}) {
    seed(21);
    TestNet net([priority](TestNet& n) {
      n.transition("a", 1, det(1.0, priority, 1.0));
      n.transition("b", 2, det(1.0, priority, 3.0));
    });
    Sim sim(&net, 10.0);
    std::list<Binding*> single;
    EXPECT_EQ(sim.resolve_conflicts(single), nullptr);
    ASSERT_EQ(sim.next(), "a b");
    const std::list<Binding*>& list = sim.events;
    // The copy follows the engine's stream: a lone candidate must leave it untouched, and every
    // conflict must take exactly one number of the documented kind.
    RandomWrapper expected = sim.random;
    single.push_back(list.back());
    EXPECT_EQ(sim.resolve_conflicts(single), list.back());
    EXPECT_EQ(sim.lastChosen, "b");
    for (int i = 0; i < 400; ++i) {
      const bool b = priority > 0 ? expected.randu01() * 4.0 > 1.0 : expected.randint(0, 1) == 1;
      EXPECT_EQ(sim.resolve_conflicts(sim.events), b ? list.back() : list.front()) << priority;
      EXPECT_EQ(sim.lastChosen, b ? "b" : "a");
    }
  }
}

TEST(EventStep, EventListShowsElevenBindingsOfARunThenOneEllipsisLine) {
  seed(31);
  TestNet net([](TestNet& n) {
    n.place("p", 1);
    n.transition("many", 1, {.infinite = true, .kind = Opt::Kind::exponential, .delay = 1.0});
    n.transition("other", 2, det(1.0));
    n.linkPlaceToTransition("p", "many", 1);
    n.tokens("p", 15);
  });
  Sim sim(&net, 10.0);
  const auto& events = net.getTransition("many")->getEvents();
  std::list<Binding*> list(events.begin(), events.end());
  ASSERT_EQ(list.size(), 15u);
  list.push_back(net.getTransition("other")->getNextEvent());
  std::ostringstream expected;
  expected << " ******** ---- EventList ---- ********\n";
  for (auto it = list.begin(); it != std::next(list.begin(), 11); ++it) expected << **it << "\n";
  expected << "Binding[..., many,  ...  ]\n" << *list.back() << "\n---- --------- ----\n";
  EXPECT_EQ(sim.printEventList(list), expected.str());
}

TEST(EventStep, UnconvertiblePlaceholdersMoveOnBySecondsAndGiveUpPastTheStopTime) {
  TestNet net([](TestNet& n) {
    guarded(n);
    n.transition("other", 2, det(2.5));
  });
  Sim sim(&net, 3.0);
  const auto placeholderAt = [&](double offset) {
    const Binding* b = net.getTransition("guarded")->getNextEvent();
    return b->isTempBinding() && b->getTime() == kOrigin + offset;
  };
  EXPECT_TRUE(placeholderAt(0.0));
  // p is empty: the placeholder goes to +1, +2, then +3, behind the event at +2.5.
  ASSERT_EQ(sim.next(), "other");
  EXPECT_TRUE(placeholderAt(3.0));
  sim.updateSimulationTime(sim.events.front()->getTime());
  sim.executeEvent(sim.events.front());
  // Now only the placeholder is due before the stop time; past it only the real event counts.
  ASSERT_EQ(sim.next(), "other");
  EXPECT_EQ(sim.events.front()->getTime(), kOrigin + 5.0);
  EXPECT_TRUE(placeholderAt(4.0));
  // With a token to bind, the placeholder converts into a real event.
  net.getPlace("p")->addToken(Ptr<Token>(new Token_int(7)));
  ASSERT_EQ(sim.next(), "guarded");
  EXPECT_EQ(sim.events.front()->getBoundTokens()->size(), 1u);
}

TEST(EventStep, PlaceholdersAloneThatCannotConvertAreADeadMarkingEvenWithoutStopTime) {
  // Alone, or beside an event beyond the calendar's end, which no search ever finds.
  for (const double never : {0.0, DateTime::MAX - kOrigin + 1.0}) {
    TestNet net([never](TestNet& n) {
      guarded(n);
      if (never > 0) n.transition("never", 2, det(never));
    });
    Sim sim(&net, 0.0);  // no stop time: nothing bounds the placeholder's moves
    EXPECT_EQ(sim.next(), "");
    EXPECT_EQ(net.getTransition("guarded")->getNextEvent()->getTime(), kOrigin + 1.0);
  }
}

TEST(EventStep, PastTheStopTimeAPlaceholderThatConvertsIsStillFound) {
  TestNet net([](TestNet& n) {
    guarded(n);  // never converts
    n.transition("late", 2, {.timeguard = true, .opensAfter = 100.0});  // converts: no input place
  });
  Sim sim(&net, 5.0);
  ASSERT_EQ(sim.next(), "late");  // the run then ends by its stop time, not at a dead marking
  EXPECT_EQ(sim.events.front()->getTime(), kOrigin + 100.0);
}
