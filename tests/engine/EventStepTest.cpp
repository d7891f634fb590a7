#include <gtest/gtest.h>

#include "EngineHarness.h"
#include "frontend/MainClass.h"

using namespace enginetest;

namespace {

std::string names(const std::list<Binding*>& list) {
  std::string text;
  for (const Binding* b : list) text += (text.empty() ? "" : " ") + b->getBoundTransition()->getName();
  return text;
}

// An immediate transition whose time guard is open at once: it holds a placeholder until the
// engine converts it.
struct Guarded : testnet::TestTransition {
  using TestTransition::TestTransition;
  bool hasTimeguard() const override { return true; }
};

}  // namespace

TEST(EventStep, EarliestTimeFirstThenHighestPriorityThenAllInNameOrder) {
  // Transitions without input places are always enabled, each with one pending event.
  TestNet net([](TestNet& n) {
    n.transition("late", 1, det(2.0, 9));
    n.transition("c", 2, det(1.0, 3));
    n.transition("a", 3, det(1.0, 3));
    n.transition("b", 4, det(1.0, 1));
  });
  net.buildNet();
  Sim sim(&net, 10.0, 1, 1, 0.05, 0);
  sim.init();
  std::list<Binding*> list;
  sim.getFirstBindingsOfAllTransitions(&list, false);
  EXPECT_EQ(names(list), "a c");
  sim.getFirstBindingsOfAllTransitions(&list, true);
  EXPECT_EQ(names(list), "a b c late");
}

TEST(EventStep, ConflictsDrawOnceUniformlyAtPriorityZeroAndByWeightAbove) {
  for (int priority : {0, 1}) {
    seed(21);
    TestNet net([priority](TestNet& n) {
      n.transition("a", 1, det(1.0, priority, 1.0));
      n.transition("b", 2, det(1.0, priority, 3.0));
    });
    net.buildNet();
    Sim sim(&net, 10.0, 1, 1, 0.05, 0);
    sim.init();
    std::list<Binding*> list;
    EXPECT_EQ(sim.resolve_conflicts(list), nullptr);
    sim.getFirstBindingsOfAllTransitions(&list, false);
    ASSERT_EQ(names(list), "a b");

    // The copy follows the engine's stream: a lone candidate must leave it untouched, and every
    // conflict must take exactly one number of the documented kind.
    RandomWrapper expected = sim.random;
    std::list<Binding*> single{list.back()};
    EXPECT_EQ(sim.resolve_conflicts(single), list.back());
    EXPECT_EQ(sim.lastChosen, "b");
    for (int i = 0; i < 400; ++i) {
      const bool b = priority > 0 ? expected.randu01() * 4.0 > 1.0 : expected.randint(0, 1) == 1;
      EXPECT_EQ(sim.resolve_conflicts(list), b ? list.back() : list.front()) << priority;
      EXPECT_EQ(sim.lastChosen, b ? "b" : "a");
    }
  }
}

TEST(EventStep, EventListShowsElevenBindingsOfARunThenOneEllipsisLine) {
  seed(31);
  TestNet net([](TestNet& n) {
    n.place("p", 1);
    Opt many = Opt::exponential(1.0);
    many.infinite = true;
    n.transition("many", 1, many);
    n.transition("other", 2, det(1.0));
    n.linkPlaceToTransition("p", "many", 1);
    n.tokens("p", 15);
  });
  net.buildNet();
  Sim sim(&net, 10.0, 1, 1, 0.05, 0);
  sim.init();
  const auto& events = net.getTransition("many")->getEvents();
  std::list<Binding*> list(events.begin(), events.end());
  ASSERT_EQ(list.size(), 15u);
  list.push_back(net.getTransition("other")->getNextEvent());

  std::ostringstream expected;
  expected << " ******** ---- EventList ---- ********\n";
  auto it = list.begin();
  for (int i = 0; i < 11; ++i) expected << **it++ << "\n";
  expected << "Binding[..., many,  ...  ]\n" << *list.back() << "\n---- --------- ----\n";
  EXPECT_EQ(sim.printEventList(list), expected.str());
}

TEST(EventStep, UnconvertiblePlaceholdersMoveOnBySecondsAndGiveUpPastTheStopTime) {
  seed(41);
  TestNet net([](TestNet& n) {
    n.place("p", 1);
    n.addTransition(new Guarded(1, "guarded", &n, Opt()));
    n.linkPlaceToTransition("p", "guarded", 1);
    n.transition("other", 2, det(2.5));
  });
  net.buildNet();
  Sim sim(&net, 3.0, 1, 1, 0.05, 0);
  sim.init();
  const Transition* guarded = net.getTransition("guarded");
  const auto placeholderAt = [&](double offset) {
    const Binding* b = guarded->getNextEvent();
    return b->isTempBinding() && b->getTime() == Sim::origin() + offset;
  };
  EXPECT_TRUE(placeholderAt(0.0));
  // p is empty: the placeholder goes to +1, +2, then +3, behind the event at +2.5.
  std::list<Binding*> list;
  sim.getFirstBindingsOfAllTransitions(&list, false);
  ASSERT_EQ(names(list), "other");
  EXPECT_TRUE(placeholderAt(3.0));
  sim.updateSimulationTime(list.front()->getTime());
  sim.executeEvent(list.front());
  // Now only the placeholder is due before the stop time; past it only the real event counts.
  sim.getFirstBindingsOfAllTransitions(&list, false);
  ASSERT_EQ(names(list), "other");
  EXPECT_EQ(list.front()->getTime(), Sim::origin() + 5.0);
  EXPECT_TRUE(placeholderAt(4.0));
  // With a token to bind, the placeholder converts into a real event.
  net.getPlace("p")->addToken(Ptr<Token>(new Token_int(7)));
  sim.getFirstBindingsOfAllTransitions(&list, false);
  ASSERT_EQ(names(list), "guarded");
  EXPECT_EQ(list.front()->getBoundTokens()->size(), 1u);
}

TEST(EventStep, PlaceholdersAloneThatCannotConvertAreADeadMarkingEvenWithoutStopTime) {
  seed(43);
  TestNet net([](TestNet& n) {
    n.place("p", 1);
    n.addTransition(new Guarded(1, "guarded", &n, Opt()));
    n.linkPlaceToTransition("p", "guarded", 1);
  });
  net.buildNet();
  Sim sim(&net, 0.0, 1, 1, 0.05, 0);  // no stop time: nothing bounds the placeholder's moves
  sim.init();
  std::list<Binding*> list;
  sim.getFirstBindingsOfAllTransitions(&list, false);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(net.getTransition("guarded")->getNextEvent()->getTime(), Sim::origin() + 1.0);
}

TEST(EventStep, SettingTheClockToItsOwnTimeLogsNothing) {
  const auto folder = std::filesystem::current_path() / "engine-tests" / "clock-log";
  std::filesystem::create_directories(folder);
  Logging* log = MainClass::getLog();
  log->setLogFolder(folder.string());
  log->open();
  {
    TestNet net([](TestNet& n) { n.transition("t", 1, det(1.0)); });
    net.buildNet();
    Sim sim(&net, 10.0, 1, 1, 0.05, 0);  // not initialised: a changed time is logged
    for (double offset : {0.0, 5.0, 5.0}) sim.updateSimulationTime(Sim::origin() + offset);
    EXPECT_EQ(sim.getCurrentSimulationTime(), Sim::origin() + 5.0);
  }
  log->close();
  log->setLogFolder(".");
  EXPECT_EQ(readFile(folder / "sim.log"),
            "measureOut not initialized, couldn't send Time: 00:00:05@01/01/0001\n");
}
