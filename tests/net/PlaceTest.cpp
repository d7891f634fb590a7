#include <gtest/gtest.h>

#include "support/TestNet.h"

using namespace testnet;

TEST(Place, SpaceTestOfferedMarkingAndArcs) {
  TestNet net([](TestNet&) {});
  EXPECT_TRUE(net.place("Unlimited", 1)->canTake(1000000));
  Place* three = net.place("Three", 2, 3);
  EXPECT_FALSE(three->canTake(static_cast<unsigned int>(-1)));  // 0 - 1 wraps and fails
  net.tokens("Three", 2);
  EXPECT_TRUE(three->canTake(1));
  EXPECT_FALSE(three->canTake(2));
  EXPECT_TRUE(three->canTake(static_cast<unsigned int>(-1)));  // 2 - 1 fits

  auto* firstN = new Place(3, "FirstN", &net, true, 0);
  net.addPlace(firstN);
  Place* plain = net.place("Plain", 4);
  for (int value : {1, 0, 4, 8, 9})
    for (Place* place : {firstN, plain}) place->addToken(Ptr<Token>(new Token_int(value)));
  const TokenList& all = firstN->getFullMarking();
  const TokenList firstTwo(all.begin(), std::next(all.begin(), 2));
  EXPECT_EQ(firstN->getMarking(2), firstTwo);
  EXPECT_EQ(firstN->getMarking(9), all);
  EXPECT_EQ(plain->getMarking(2).size(), 5u);
  // A token leaving the place leaves what was offered too, and dies with its last holder.
  const Counter alive = Token::concTokenCounter;
  firstN->removeToken(firstN->getFullMarking().back());
  EXPECT_EQ(Token::concTokenCounter, alive - 1);
  // One removal takes every entry of the token.
  plain->addToken(plain->getFullMarking().front());
  plain->removeToken(plain->getFullMarking().front());
  EXPECT_EQ(plain->content(), "0,4,8,9");
  // A second arc to the same transition replaces the multiplicity and lists the transition again.
  Transition* t = net.transition("T", 5, {});
  net.linkPlaceToTransition("Plain", "T", 1), net.linkPlaceToTransition("Plain", "T", 3);
  EXPECT_EQ(plain->getOutTransitionMultiplicity(5), 3);
  EXPECT_EQ(plain->getOutTransitions().size(), 2u);
  // A single server is offered the first w tokens of a first-N place.
  net.linkPlaceToTransition("FirstN", "T", 2);
  EXPECT_EQ(*t->getPlaceMarking(*firstN), firstTwo);
}

// A token named by a handle in a list its move changes, here a transition's offer (G's, which the
// search P's new token sets off binds from), leaves or reaches every offer.
TEST(Place, TokenNamedByAnOfferThatTheMoveChangesReachesEveryOffer) {
  TestNet net([](TestNet&) {});
  Place *a = net.place("A", 1), *p = net.place("P", 2);
  const Opt infinite{.infinite = true};
  Transition *t1 = net.transition("T1", 3, infinite), *t2 = net.transition("T2", 4, infinite);
  Transition *g = net.transition("G", 5, infinite), *t3 = net.transition("T3", 6, infinite);
  for (const char* name : {"T1", "T2", "G"}) net.linkPlaceToTransition("A", name, 1);
  net.linkPlaceToTransition("P", "T3", 1), p->addGlobalGuardTransition(g), net.tokens("A", 2);
  a->removeToken(t1->getNotBoundTokens().front());
  for (Transition* t : {t1, t2, g}) EXPECT_EQ(t->getNotBoundTokens(), a->getFullMarking());
  p->addToken(g->getNotBoundTokens().back());
  EXPECT_EQ(g->getEvents().size(), 1u);
  EXPECT_EQ(t3->getNotBoundTokens(), p->getFullMarking());
}
