#include <gtest/gtest.h>

#include <regex>

#include "EngineHarness.h"
#include "frontend/MainClass.h"

using namespace enginetest;

namespace {

// A Sim that takes its candidates from the walk when asked to, as the engine did before the queue.
struct Walking : Sim {
  Walking(NetClass* net, double stop, int nofsampling, int mode, bool walk)
      : Sim(net, stop, nofsampling, mode, mode == 0 ? 1e300 : 0.0), walk(walk) {}
  void collectCandidates(std::list<Binding*>& found, bool all,
                         const std::set<const Transition*>* passedOver) override {
    walk ? scanTransitions(found, all, passedOver)
         : Simulation::collectCandidates(found, all, passedOver);
  }
  bool walk;
};

// Ties of every kind at whole seconds: a and b (priority 2, weights 1 and 3) share p's token, so
// firing one takes the other's event; c and d (priority 0) share q's two tokens; e (priority -1)
// feeds r, which f (priority -2) and the time-guarded g empty; h, an infinite server, cycles s's
// tokens at random times. The placeholder of i never converts: it moves on second by second, and
// past the stop time it is passed over.
void ties(TestNet& n) {
  int id = 0;
  for (const char* place : {"p", "q", "r", "s", "u"}) n.place(place, ++id);
  step(n, "u", "i", 9, {.timeguard = true, .opensAfter = 0.5}, nullptr);
  step(n, "p", "a", 1, det(1.0, 2, 1.0), "p"), step(n, "p", "b", 2, det(1.0, 2, 3.0), "p");
  step(n, "q", "c", 3, det(1.0), "q"), step(n, "q", "d", 4, det(1.0), "q");
  step(n, nullptr, "e", 5, det(1.0, -1), "r"), step(n, "r", "f", 6, det(2.0, -2), nullptr);
  step(n, "r", "g", 7, {.timeguard = true, .opensAfter = 0.5}, nullptr);
  step(n, "s", "h", 8, Opt::exponential(1.0, true), "s");
  n.tokens("p", 1), n.tokens("q", 2), n.tokens("s", 3), measure(n, "inR", "r", true);
}

void importance(TestNet& n) { mm1(0.5)(n), n.addMeasure(new ImportanceMeasure(&n, "queue")); }

// What a run shows: its console lines, the results file, the simulation and transition logs (the
// tokens' wall-clock creation times taken out) and the next number of every stream.
std::string trace(void (*build)(TestNet&), int mode, double stop, bool walk) {
  seed(77), Binding::idCounter = Token::tokenCounter = 1000;
  TestNet net(build);
  Walking sim(&net, stop, 5, mode, walk);
  MainClass::getLog()->open();
  std::string text = sim.run() + sim.results();
  MainClass::getLog()->close();
  const std::regex clock("\\d\\d:\\d\\d:\\d\\d@\\d\\d/\\d\\d/\\d{4}");
  text += readFile("sim.log") + std::regex_replace(readFile("trans.log"), clock, "") +
          std::to_string(sim.random.randu01());
  TokenList none;
  for (const auto& [name, t] : net.getTransitions())
    text.append(" ").append(std::to_string(t->getFiringDelay(none)));
  return text;
}

}  // namespace

TEST(NextEvent, RunsFireWhatTheWalkOverAllTransitionsFires) {
  InOwnFolder folder;
  // A stationary run whose last placeholder falls past its stop time, transient replications each
  // on a rebuilt net, and a RESTART run that puts saved states back.
  const std::tuple<void (*)(TestNet&), int, double> runs[] = {
      {ties, 1, 200.6}, {ties, 0, 20.0}, {importance, 2, 3000.0}};
  for (const auto& [build, mode, stop] : runs) {
    const std::string queued = trace(build, mode, stop, false);
    EXPECT_GT(queued.size(), 100000u);
    EXPECT_TRUE(queued == trace(build, mode, stop, true)) << "mode " << mode;
  }
}

TEST(NextEvent, EarliestFirstThenHighestPriorityInNameOrderAndAtTheLastTimeOnlyPriorityZeroOrMore) {
  const double last = DateTime::MAX - kOrigin;
  // Transitions z, y, x, ... in that order of creation: the next events, then every transition's.
  const std::tuple<std::vector<Opt>, std::string, std::string> nets[] = {
      {{det(last, -1), det(last, 0), det(last, 0)}, "x y", "x y z"},
      {{det(last, 3), det(last + 1, 9)}, "z", "y z"},
      {{det(2.0, -5), det(2.0, -5), det(2.0, -6), det(3.0, 9)}, "y z", "w x y z"}};
  for (const auto& [options, expected, all] : nets)
    for (bool walk : {false, true}) {
      TestNet net([&](TestNet& n) {
        for (size_t i = 0; i < options.size(); ++i)
          n.transition(std::string(1, char('z' - i)).c_str(), static_cast<int>(i) + 1, options[i]);
      });
      Walking sim(&net, 10.0, 1, 1, walk);
      EXPECT_EQ(sim.next(), expected) << walk;
      EXPECT_EQ(sim.next(true), all) << walk;
    }
}

TEST(Lifetimes, HandlesShareTheTokensBlockAndAFiredBindingGoesBackToThePoolAfterItsTokens) {
  const Counter live = Token::concTokenCounter;
  {
    Ptr<Token> p(new Token_int(1));
    const Ptr<Token_int> typed = Dynamic_Cast<Token_int, Token>(p);
    EXPECT_TRUE(p.GetRefObject() == p->GetEmbeddedRefCounter() &&
                typed.GetRefObject() == p.GetRefObject());
    Ptr<Token>& alias = p;
    p = alias, p = typed;
    EXPECT_EQ(p.GetRefObject()->GetActiveCount(), 2u);
  }
  EXPECT_EQ(Token::concTokenCounter, live);
  Token_int released(2);
  released.GetEmbeddedRefCounter()->SubtractActiveRef();
  EXPECT_TRUE(Ptr<Token>(&released, released.GetEmbeddedRefCounter()) == 0);

  // one and two both bind x, p's only token at their searches; y comes later.
  TestNet net([](TestNet& n) {
    n.place("p", 1), n.place("q", 2), n.tokens("p", 1);
    step(n, "p", "one", 1, det(1.0), "q"), step(n, "p", "two", 2, det(2.0), "q");
  });
  Sim sim(&net, 10.0);
  Transition *one = net.getTransition("one"), *two = net.getTransition("two");
  Binding *fired = one->getNextEvent(), *dropped = two->getNextEvent();
  const Ptr<Token> x = fired->getBoundTokens()->front();
  net.getPlace("p")->addToken(Ptr<Token>(new Token_int(5)));
  sim.updateSimulationTime(fired->getTime()), sim.executeEvent(fired);
  // While x let go of one, two dropped its binding and bound y in the slot it freed; only then did
  // the fired binding's slot come free, for one's next binding.
  EXPECT_FALSE(x->containsTransition(one) || x->containsTransition(two));
  EXPECT_EQ(two->getNextEvent(), dropped);
  EXPECT_EQ(one->getNextEvent(), fired);
}
