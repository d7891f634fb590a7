#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "engine/EngineHarness.h"

using namespace enginetest;

namespace {

// A transition whose global guard is a flag its own firing shuts; it enters itself into the net.
struct GuardedTransition : TestTransition {
  GuardedTransition(NetClass* n) : TestTransition(90, "G", n, {}) { n->addTransition(this); }
  bool globalGuard() override { return open; }
  void moveTokens(TokenList& tokens) override { open = false, TestTransition::moveTokens(tokens); }
  bool open = true;
};

// An arc by name: from a place it is an input arc, from a transition an output arc.
struct Arc { const char *from, *to; int multiplicity = 1; };

}  // namespace

// Small nets built by hand on one TestNet; places and transitions get consecutive ids.
struct TransitionTest : testing::Test {
  Place* place(const char* name, unsigned capacity = 0) { return net.place(name, ++ids, capacity); }
  Transition* transition(const char* name, const Opt& options = {}) {
    return net.transition(name, ++ids, options);
  }
  void link(std::initializer_list<Arc> arcs) {
    for (const Arc& a : arcs) {
      auto link = net.getPlaces().count(a.from) != 0 ? &NetClass::linkPlaceToTransition
                                                     : &NetClass::linkTransitionToPlace;
      (net.*link)(a.from, a.to, a.multiplicity);
    }
  }

  TestNet net{[](TestNet&) {}};
  int ids = 0;
};

TEST_F(TransitionTest, AffectedTransitionListsEnablingDegreeAndSpace) {
  for (const char* name : {"P", "Q"}) place(name);
  Transition *t = transition("T"), *u = transition("U");
  Transition *g = transition("G", {.localGuard = true}), *w = transition("W");
  link({{"P", "T"}, {"U", "P"}, {"T", "P"}, {"G", "P"}, {"T", "Q"}, {"G", "Q"}, {"Q", "W"}});
  t->startup();
  // P's producers come in through the input side, the locally guarded G again for each output
  // place, W as Q's consumer; T itself never.
  EXPECT_EQ(t->getCouldEnableTransitions(), (std::list<Transition*>{u, g, g, g, w}));
  EXPECT_EQ(t->getCouldDisableTransitions(), (std::list<Transition*>{u, g, g}));

  for (auto [name, capacity, tokens] : {std::tuple{"A", 0u, 5}, {"Empty", 0u, 0}, {"Free", 0u, 0},
                                        {"Cap3", 3u, 1}, {"Full", 1u, 1}, {"Loop", 2u, 2}})
    place(name, capacity), net.tokens(name, tokens);
  for (const char* name : {"capped", "sink", "zero", "loop", "full", "tail"}) transition(name);
  link({{"A", "capped"}, {"capped", "Cap3"}, {"A", "sink"}, {"Empty", "zero", 0}, {"zero", "Free"},
        {"Loop", "loop"}, {"loop", "Loop"}, {"A", "full"}, {"full", "Full"}, {"Loop", "tail"},
        {"Empty", "tail"}, {"tail", "Loop"}});
  // capped: min(5 tokens, 3 - 1 free places); loop: a net change of 0 sets no capacity bound;
  // tail: an input after the last output place sets no bound.
  for (auto [name, degree, space] :
       {std::tuple{"capped", 2, true}, {"sink", INT_MAX, true}, {"zero", INT_MAX, true},
        {"loop", 2, true}, {"full", 0, false}, {"tail", 2, true}}) {
    EXPECT_EQ(net.getTransition(name)->getEnablingDegree(), degree) << name;
    EXPECT_EQ(net.getTransition(name)->checkSpace(), space) << name;
  }
}

// An infinite server feeding a capacity-3 place: a producer filling the place trims it to its
// degree, a consumer freeing space lets it top up; dropped bindings give their tokens back.
TEST_F(TransitionTest, InfiniteServerFollowsItsDegree) {
  place("A"), place("B", 3);
  Transition* t = transition("T", {.infinite = true});
  Transition *single = transition("S"), *producer = transition("U"), *consumer = transition("C");
  link({{"A", "T"}, {"T", "B"}, {"A", "S"}, {"U", "B"}, {"B", "C"}}), net.tokens("A", 5);
  for (Transition* each : {t, single, producer, consumer}) each->startup();
  using Sizes = std::pair<size_t, size_t>;  // bindings, not-bound tokens
  auto sizes = [&] { return Sizes(t->getEvents().size(), t->getNotBoundTokens().size()); };
  EXPECT_EQ(sizes(), Sizes(3, 2));
  producer->fire(producer->getNextEvent(), 1.0);  // B holds 1: five tokens, two free places
  EXPECT_EQ(sizes(), Sizes(2, 3));
  consumer->fire(consumer->getNextEvent(), 1.0);
  EXPECT_EQ(sizes(), Sizes(3, 2));
  t->removeRandomBindingFromEventList();
  EXPECT_EQ(sizes(), Sizes(2, 3));
  t->removeAllBindingsFromEventList();
  EXPECT_EQ(sizes(), Sizes(0, 5));
  EXPECT_TRUE(single->getNotBoundTokens().empty());
}

// An infinite server whose binding loses one token to another transition drops that binding
// alone and offers its other tokens again, each input place its own. Tokens let go are free: one
// taken elsewhere dies at once though offered to the last search, and bindings removed wholesale
// are gone from their tokens.
TEST_F(TransitionTest, InfiniteServerGivesBackAndLetsGoTokensOfDroppedBindings) {
  Place *a = place("A"), *b = place("B");
  Transition *t1 = transition("T1"), *t2 = transition("T2", {.infinite = true});
  link({{"A", "T1"}, {"A", "T2"}, {"B", "T2"}}), net.tokens("A", 2), net.tokens("B", 3);
  for (Transition* t : {t1, t2}) t->startup();
  ASSERT_EQ(t2->getEvents().size(), 2u);
  const Ptr<Token> taken = t1->getNextEvent()->getBoundTokens()->front();
  Counter untouched = -1;
  for (Binding* each : t2->getEvents())
    if (!(each->getBoundTokens()->front() == taken)) untouched = each->getID();
  t1->fire(t1->getNextEvent(), 1.0);
  ASSERT_EQ(t2->getEvents().size(), 1u);
  EXPECT_EQ(t2->getNextEvent()->getID(), untouched);
  {  // the lists' handles must be gone before the count below
    TokenList expected = b->getFullMarking(), offered = t2->getNotBoundTokens();
    expected.remove(t2->getNextEvent()->getBoundTokens()->back());
    offered.sort([](const Ptr<Token>& l, const Ptr<Token>& r) { return l->getID() < r->getID(); });
    EXPECT_EQ(offered, expected);
  }
  EXPECT_TRUE(t2->getPlaceMarking(*a)->empty());
  const Counter alive = Token::concTokenCounter;
  b->removeToken(t2->getNotBoundTokens().front());
  EXPECT_EQ(Token::concTokenCounter, alive - 1);
  const Ptr<Token> bound = t2->getNextEvent()->getBoundTokens()->front();
  t2->removeCurrentBindings();
  bound->notifyTransitions(bound);  // reaches no deleted binding
  EXPECT_FALSE(bound->containsTransition(t2));
}

// The firing transition ignores the place notifications of its own token moves: acting on them
// would drop the binding being fired.
TEST_F(TransitionTest, PlaceNotifyIgnoredWhileFiring) {
  Place* a = place("A");
  auto* t = new GuardedTransition(&net);
  link({{"A", "G"}}), net.tokens("A", 1), a->addGlobalGuardTransition(t);
  t->startup(), t->fire(t->getNextEvent(), 1.0);
  EXPECT_EQ(t->getNextEvent(), nullptr);  // the guard stays shut
  t->open = true;
  a->addToken(Ptr<Token>(new Token_int(1)));  // not in the event list: searches
  ASSERT_NE(t->getNextEvent(), nullptr);
  t->open = false;
  a->addToken(Ptr<Token>(new Token_int(2)));  // in the event list, guard shut: drops it
  EXPECT_EQ(t->getNextEvent(), nullptr);
}

TEST_F(TransitionTest, TimeguardPlaceholderAndConversion) {
  place("A");
  Transition *tg = transition("TG", {.timeguard = true, .opensAfter = 5.0}), *t = transition("T");
  link({{"A", "TG"}, {"A", "T"}}), net.tokens("A", 1), tg->startup();
  Binding* temp = tg->getNextEvent();
  ASSERT_TRUE(temp && temp->isTempBinding() && tg->isOptimizingTimeguardTransition());
  ASSERT_TRUE(tg->convertTimeguardBinding(temp));
  EXPECT_FALSE(temp->isTempBinding() || tg->isOptimizingTimeguardTransition());
  Ptr<Token> token = temp->getBoundTokens()->front();
  EXPECT_TRUE(token->containsTransition(tg));
  // Another transition consumes the token: the converted binding goes with it.
  t->startup(), t->fire(t->getNextEvent(), 1.0);
  EXPECT_EQ(tg->getNextEvent(), nullptr);
  EXPECT_FALSE(token->containsTransition(tg));
}

// A transition's own log file in the log folder is appended to, but never through a link.
TEST_F(TransitionTest, OwnLogFileIsAppendedToAndNeverWrittenThroughALink) {
  InOwnFolder folder;
  std::filesystem::create_symlink("mine.txt", "T.log");
  Transition* t = transition("T");
  testing::internal::CaptureStderr();
  EXPECT_EQ(printed([&] { t->setLogfile("T.log", ""); }), "./T.log couldn't be opened!\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "./T.log is a symbolic link: a log is never written through one.\n");
  EXPECT_TRUE(Logging::instance().hasFailed());  // the run is to end saying so
  t->setLogfile("U.log", ""), t->setLogfile("U.log", "second");
  EXPECT_EQ(readFile("U.log"), "\t******** LOGFILE of Transition T *********\nsecond\n");
}

// A delay that is no number makes bindings that are never due, yet held like any other, each
// with its own token. One the event list cannot tell from one it holds ends the run.
TEST_F(TransitionTest, BindingsOfADelayThatIsNoNumberAreHeldAndNeverDue) {
  place("A");
  Transition* never = transition(
      "Never", {.infinite = true, .kind = Opt::Kind::deterministic, .delay = std::nan("")});
  link({{"A", "Never"}}), net.tokens("A", 3), never->startup();
  EXPECT_EQ(never->getEvents().size(), 3u);
  net.getEventQueue().firstEvents([](Binding* b) { ADD_FAILURE() << *b << " is due"; });
  const Binding* held = never->getNextEvent();
  EXPECT_DEATH(never->addBinding(new Binding(held->getID(), never, held->getTime(), 0, 1.0, true,
                                             new TokenList{})),
               "Assertion failed: held");
}
