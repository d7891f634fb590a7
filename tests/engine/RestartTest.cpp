#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <numeric>

#include "EngineHarness.h"

using namespace enginetest;

namespace {

using Event = std::tuple<std::string, double, double>;  // transition, seconds from start, weight

// The first 1000 events accumulated since the last build; in no place, only the engine calls it.
struct Recorder : Probe {
  Recorder(NetClass* n, const char* place) : Probe("events", n, place, true) { events.clear(); }
  void accum(const Binding* b, double w) override {
    if (events.size() < 1000)
      events.emplace_back(b->getBoundTransition()->getName(), b->getTime() - kOrigin, w);
  }
  static inline std::vector<Event> events;
};

// The M/M/1 queue with its number in system as importance and the indicator of N >= 8 (third).
void rareMM1(TestNet& n) {
  mm1(0.5)(n), n.addMeasure(new ImportanceMeasure(&n, "queue"));
  measure(n, "full", "queue", true, 8);
}

// Pairs of customers arriving at rate 1/4, served one at a time at rate 1, so the number in the
// system, the importance, often rises two levels at once; the indicator of N >= 12 (third).
void pairsQueue(TestNet& n) {
  n.place("queue", 1), measure(n, "inSystem", "queue", true);
  n.transition("arrive", 1, Opt::exponential(4.0)), n.linkTransitionToPlace("arrive", "queue", 2);
  n.transition("serve", 2, Opt::exponential(1.0)), n.linkPlaceToTransition("queue", "serve", 1);
  n.addMeasure(new ImportanceMeasure(&n, "queue")), measure(n, "full", "queue", true, 12);
}

// Sanitizer builds run the validations a twentieth as long, with bounds to match.
const double kScale = kSanitized ? 20.0 : 1.0;

// The third measure's RESTART estimates over ten seeds against its exact value; returns the mean
// relative half-width.
double overTenSeeds(void (*build)(TestNet&), double stop, double exact, int repeats, double thrmin,
                    double thrmax, int thrnumber) {
  double sum = 0.0, width = 0.0;
  int covered = 0;
  for (int s = 0; s < 10; ++s) {
    seed(100 + 10 * s);
    TestNet net(build);
    Sim sim(&net, stop / kScale, 1, 2, 0.0);
    EXPECT_TRUE(sim.restart(repeats, thrmin, thrmax, thrnumber).ends_with("MODEL TIME."));
    const double mean = active(net, 2).means().back(), h = active(net, 2).halfWidths().back();
    sum += mean / 10, width += h / mean / 10, covered += std::fabs(mean - exact) <= h;
  }
  EXPECT_NEAR(sum, exact, std::sqrt(kScale) * 0.1 * exact);
  EXPECT_GE(covered, kScale > 1.0 ? 6 : 8) << "of 10";
  return width;
}

// a holds four tokens, the first also twice in b. "spread" (infinite server into c of capacity 2)
// binds two of a's and leaves two free, "take" binds the shared one, "wait" holds a placeholder.
void shared(TestNet& n) {
  n.place("a", 1), n.place("b", 2), n.place("c", 3, 2);
  step(n, "a", "spread", 1, Opt::exponential(1.0, true), "c");
  step(n, "b", "take", 2, Opt::exponential(1.0), "c");
  step(n, "c", "wait", 3, {.timeguard = true}, nullptr), n.tokens("a", 4);
  const Ptr<Token> first = n.getPlace("a")->getFullMarking().front();
  n.getPlace("b")->addToken(first), n.getPlace("b")->addToken(first), measure(n, "inC", "c", true);
}

// What a restore must give back; token objects are numbered in the order met, so sharing shows.
std::string describe(NetClass& net) {
  std::map<const Token*, size_t> ids;
  std::ostringstream out;
  auto tokens = [&](const TokenList* list) {
    for (const Ptr<Token>& t : list ? *list : TokenList())
      out << ' ' << t->content() << '#' << ids.emplace(t.GetRawPtr(), ids.size()).first->second;
    out << '\n';
  };
  for (const auto& [name, place] : net.getPlaces()) out << name, tokens(&place->getFullMarking());
  for (const auto& [name, t] : net.getTransitions()) {
    out << name << t->getInEventList() << t->getTimeguardOptimization();
    for (const Transition* u : t->getCouldEnableTransitions()) out << ' ' << u->getName();
    for (const Transition* u : t->getCouldDisableTransitions()) out << " -" << u->getName();
    tokens(&t->getNotBoundTokens());
    for (const Binding* b : t->getEvents()) out << *b, tokens(b->getBoundTokens());
  }
  for (MeasureObj* m : net.getMeasureList()) out << static_cast<Probe*>(m)->last();
  return out.str();
}

Counter firedBefore = 0;
void reportFirings() { std::cerr << "fired " << Transition::globalFireCount - firedBefore << "\n"; }

}  // namespace

TEST(Restart, LevelsClampInDoubleAndRefusedParametersEndWithStatusOneBeforeAnyFiring) {
  const double values[] = {-1, 0, 1.99, 2, 3, 9.99, 10, 100, 1e300, INFINITY, -INFINITY, NAN};
  const int levels[] = {0, 1, 1, 2, 2, 5, 6, 6, 6, 6, 0, 0};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(Simulation::level(0, 10, values[i], 4), levels[i]) << i;
  EXPECT_EQ(Simulation::level(0.0, 1.0, 5.0, INT_MAX), INT_MAX);
  for (const auto& [repeats, thrmax, thrnumber] :
       {std::tuple{0, 7.0, 5}, {3, 7.0, -1}, {3, 1.0, 5}, {3, NAN, 5}}) {
    TestNet net(rareMM1);
    Sim sim(&net, 100.0, 1, 2);
    double alpha = 0.05;
    EXPECT_EXIT((dup2(2, 1), firedBefore = Transition::globalFireCount, std::atexit(reportFirings),
                 sim.run_restart(alpha, repeats, 1.0, thrmax, thrnumber)),
                testing::ExitedWithCode(1),
                "Parameters: \nError: RESTART needs repeats >= 1, thrnumber >= 0 and finite "
                "thresholds with thrmax > thrmin\\.\nfired 0\n$");
  }
}

TEST(Restart, ThreeRepeatsDivideTheWeightAndPutTheFallingPathBackTwice) {
  TestNet net([](TestNet& n) {
    n.place("p", 1), n.transition("up", 1, det(1.0)), n.transition("down", 2, det(1.5));
    n.linkTransitionToPlace("up", "p", 1), n.linkPlaceToTransition("p", "down", 1);
    n.addMeasure(new ImportanceMeasure(&n, "p")), n.addMeasure(new Recorder(&n, "p"));
  });
  Sim sim(&net, 3.5, 1, 2, 0.0);
  EXPECT_TRUE(
      sim.restart(3, 1.0, 2.0, 0).ends_with("\n\nABORT SIMULATION. REACHED MAXIMUM MODEL TIME."));
  // The level is the token count. The rise to 1 at +1 splits (weight 1/3), the rise to 2 at +2
  // again (1/9); the fall at +2.5 is put back twice and the third pops the state (1/3 again). A
  // retrial that runs past the stop time ends like a fall, so the level-1 state runs three times.
  std::vector<Event> expected{{"up", 1.0, 1.0}};
  for (int trial = 0; trial < 3; ++trial) {
    expected.emplace_back("up", 2.0, std::pow(3.0, -1));
    for (int fall = 0; fall < 3; ++fall) expected.emplace_back("down", 2.5, std::pow(3.0, -2));
    expected.emplace_back("up", 3.0, std::pow(3.0, -1));
  }
  EXPECT_EQ(Recorder::events, expected);
  EXPECT_EQ(sim.restartTime, 3.0);  // the main path's time: the last trial of each split only
  Simulation::interruptRequested = 1;  // as a SIGINT does: the run ends at once and says why
  EXPECT_TRUE(sim.restart(3, 1.0, 2.0, 0).ends_with("\n\nABORT SIMULATION. INTERRUPTED."));
  Simulation::interruptRequested = 0;
}

TEST(Restart, EveryCrossingsWeightsAddUpToOneWhenAJumpSkipsALevel) {
  // `one` raises p to 1 at +1, `two` to 3 at +2, `drop` takes one token at +2.5 and +4: the level
  // (tokens in p) jumps two levels and falls back one at a time. Deterministic, so the weights of
  // each transition's firings over all retrials add up to its firings on the single path.
  TestNet net([](TestNet& n) {
    n.place("s1", 1), n.place("s2", 2), n.place("p", 3), n.place("sink", 4);
    step(n, "s1", "one", 1, det(1.0), "p"), n.tokens("s1", 1), n.tokens("s2", 1);
    n.transition("two", 2, det(2.0)), n.linkPlaceToTransition("s2", "two", 1);
    n.linkTransitionToPlace("two", "p", 2), step(n, "p", "drop", 3, det(1.5), "sink");
    n.addMeasure(new ImportanceMeasure(&n, "p")), n.addMeasure(new Recorder(&n, "p"));
  });
  Sim sim(&net, 5.0, 1, 2, 0.0);
  sim.restart(2, 1.0, 3.0, 1);
  std::map<std::string, double> sums;
  for (const auto& [name, time, weight] : Recorder::events) sums[name] += weight;
  EXPECT_EQ(sums, (std::map<std::string, double>{{"drop", 2.0}, {"one", 1.0}, {"two", 1.0}}));
}

TEST(Restart, WithOneRepeatFiresAsAStationaryRunDoes) {
  std::vector<Event> fired[2];
  for (int mode : {1, 2}) {
    seed(4242);
    TestNet net([](TestNet& n) { rareMM1(n), n.addMeasure(new Recorder(&n, "queue")); });
    Sim sim(&net, 3000.0, 1, mode, 0.0);
      sim.restart(1, 1.0, 7.0, 5);
    fired[mode - 1] = Recorder::events;
  }
  ASSERT_EQ(fired[0].size(), 1000u);
  EXPECT_EQ(fired[0], fired[1]);
}

TEST(SavedState, RestoresTheNetAsSavedWithItsSharingAnyNumberOfTimes) {
  seed(11);
  TestNet net(shared);
  Sim sim(&net, 1e6, 1, 2);
  auto fire = [&] {  // the next event; the measure is c's
    Binding* b = sim.next().empty() ? nullptr : sim.resolve_conflicts(sim.events);
    if (b) sim.updateSimulationTime(b->getTime()), sim.executeEvent(b);
  };
  fire();
  const std::string saved = describe(net);
  ASSERT_NE(saved.find("b 0#0 0#0\n"), std::string::npos) << saved;  // a's first token, twice
  ASSERT_NE(saved.find("TempBinding"), std::string::npos) << saved;
  sim.save_simulation_state(1);
  // A change to a restored token does not reach the next restore, and retrials leave no tokens.
  Counter live = 0;
  for (int retrial = 1; retrial <= 10000; ++retrial) {
    fire();
    ASSERT_TRUE(retrial > 1 || describe(net) != saved);
    dynamic_cast<Token_int&>(*net.getPlace("a")->getFullMarking().front()) = Token_int(99);
    sim.load_last_simulation_state();
    ASSERT_TRUE(retrial > 1 || describe(net) == saved);
    // The state answers for the tokens it handed out until its next restore.
    const Ptr<Token>& shared = net.getPlace("b")->getFullMarking().front();
    ASSERT_EQ(sim.savedStates.back().getRestoredToken(shared->getID()).GetRawPtr(),
              shared.GetRawPtr());
    if (retrial == 100) live = Token::concTokenCounter;
  }
  EXPECT_EQ(describe(net), saved);
  EXPECT_EQ(Token::concTokenCounter, live);
}

TEST(SavedState, FindsWhatARestoreCouldNotReproduceAndEndsTheRun) {
  struct Odd : Token { std::string getName() const override { return "odd"; } };
  static Place stray(4, "c", nullptr, false, 0);
  // clang-format off
  const std::pair<void (*)(TestNet&), std::string> cases[] = {
      {[](TestNet& n) { n.getPlace("c")->addToken(Ptr<Token>(new Odd)); }, "type odd cannot be copied"},
      {[](TestNet& n) { n.getPlace("a")->removeCurrentMarking(); }, "transition spread lies in no place"},
      {[](TestNet& n) { n.linkIntoTransition(&stray, n.getTransition("take"), 1); },
       "place c of transition take is not in the net"}};
  // clang-format on
  for (const auto& [change, problem] : cases) {
    TestNet net(shared);
    Sim sim(&net, 1e6, 1, 2);
    change(net);
    EXPECT_EXIT((dup2(2, 1), sim.save_simulation_state(1)), testing::ExitedWithCode(1),
                "^Error: the simulation state cannot be saved faithfully: .*" + problem);
  }
}

TEST(RestartValidation, MM1OverflowMatchesRhoToTheEighthWithFarFewerEvents) {
  // Arrivals at rate 0.5, service at rate 1: P(N >= 8) = 0.5^8. Thresholds at 3, 5 and 7, four
  // trials each.
  const Counter start = Transition::globalFireCount;
  const double width = overTenSeeds(rareMM1, 40000.0, std::pow(0.5, 8), 4, 3.0, 7.0, 1);
  if (kSanitized) return;
  // A plain stationary run of the same net to the same relative half-width, without a stop time.
  const Counter restart = (Transition::globalFireCount - start) / 10,
                before = Transition::globalFireCount;
  seed(99);
  TestNet net(rareMM1);
  Sim sim(&net, -86400.0, 1, 1, width);
  EXPECT_TRUE(sim.run().ends_with("\nSIMULATION SUCCESSFUL"));
  EXPECT_LT(2 * restart, Transition::globalFireCount - before) << "stationary events to " << width;
}

TEST(RestartValidation, PairArrivalsJumpingTwoLevelsMatchTheExactOverflow) {
  // Across the cut between n and n + 1 pairs from n - 1 and n go up, single departures from n + 1
  // come down: p(n + 1) = (p(n) + p(n - 1)) / 4, cut off where it no longer counts. A threshold
  // at every customer from 4 to 11, two trials each.
  std::vector<double> p{1.0, 0.25};
  while (p.size() < 400) p.push_back((p.back() + p[p.size() - 2]) / 4.0);
  const double all = std::accumulate(p.begin(), p.end(), 0.0);
  overTenSeeds(pairsQueue, 100000.0, std::accumulate(p.begin() + 12, p.end(), 0.0) / all, 2, 4.0,
               11.0, 6);
}
