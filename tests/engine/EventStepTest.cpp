#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "EngineHarness.h"

using namespace enginetest;

namespace {

// An immediate transition with a time guard: it holds a placeholder until the engine converts it.
void guarded(TestNet& n) {
  n.place("p", 1), step(n, "p", "guarded", 1, {.timeguard = true}, nullptr);
}

}  // namespace

TEST(EventStep, ConflictsDrawOnceUniformlyAtPriorityZeroAndByWeightAbove) {
  for (int priority : {0, 1}) {
    seed(21);
    TestNet net([priority](TestNet& n) {
      n.transition("a", 1, det(1.0, priority, 1.0)), n.transition("b", 2, det(1.0, priority, 3.0));
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

TEST(EventStep, ThreeCandidatesOfEqualWeightAreEachChosenAThirdOfTheTime) {
  seed(22);
  TestNet net([](TestNet& n) {
    for (const char* name : {"a", "b", "c"}) n.transition(name, name[0] - 'a' + 1, det(1.0, 1));
  });
  Sim sim(&net, 10.0);
  ASSERT_EQ(sim.next(), "a b c");
  std::map<std::string, int> chosen;
  for (int i = 0; i < 3000; ++i) sim.resolve_conflicts(sim.events), ++chosen[sim.lastChosen];
  for (const char* name : {"a", "b", "c"}) EXPECT_NEAR(chosen[name], 1000, 100) << name;  // 4 s.d.
}

TEST(EventStep, EventListShowsElevenBindingsOfARunThenOneEllipsisLine) {
  seed(31);
  TestNet net([](TestNet& n) {
    n.place("p", 1), step(n, "p", "many", 1, Opt::exponential(1.0, true), nullptr);
    n.transition("other", 2, det(1.0)), n.tokens("p", 15);
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

TEST(EventStep, PlaceholdersAloneAreADeadMarkingMoveOnBySecondsAndGiveUpPastTheStopTime) {
  // Beside the placeholder that never converts: nothing, an event beyond the calendar's end (which
  // no search ever finds), or a placeholder that converts, having no input place, past the stop.
  struct Case { std::optional<Opt> other; double stop; const char* next; double at; };
  for (const Case& c : {Case{{}, 0.0, "", 1.0}, Case{det(DateTime::MAX - kOrigin + 1), 0, "", 1},
                        Case{Opt{.timeguard = true, .opensAfter = 100.0}, 5.0, "late", 100.0}}) {
    TestNet net([&c](TestNet& n) {
      guarded(n);
      if (c.other) n.transition("late", 2, *c.other);
    });
    Sim sim(&net, c.stop);  // no stop time: nothing bounds the placeholder's moves
    EXPECT_EQ(sim.next(), c.next);  // a late event found ends the run by its stop time
    Transition* guard = net.getTransition("guarded");
    EXPECT_EQ((*c.next ? sim.events.front() : guard->getNextEvent())->getTime(), kOrigin + c.at);
  }

  TestNet net([](TestNet& n) { guarded(n), n.transition("other", 2, det(2.5)); });
  Sim sim(&net, 3.0);
  const auto placeholderAt = [&](double offset) {
    const Binding* b = net.getTransition("guarded")->getNextEvent();
    return b->isTempBinding() && b->getTime() == kOrigin + offset;
  };
  EXPECT_TRUE(placeholderAt(0.0));
  // p is empty: the placeholder goes to +1, +2, then +3, behind the event at +2.5.
  ASSERT_EQ(sim.next(), "other");
  EXPECT_TRUE(placeholderAt(3.0));
  sim.updateSimulationTime(sim.events.front()->getTime()), sim.executeEvent(sim.events.front());
  // Now only the placeholder is due before the stop time; past it only the real event counts.
  ASSERT_EQ(sim.next(), "other");
  EXPECT_EQ(sim.events.front()->getTime(), kOrigin + 5.0);
  EXPECT_TRUE(placeholderAt(4.0));
  // With a token to bind, the placeholder converts into a real event.
  net.getPlace("p")->addToken(Ptr<Token>(new Token_int(7)));
  ASSERT_EQ(sim.next(), "guarded");
  EXPECT_EQ(sim.events.front()->getBoundTokens()->size(), 1u);
}
