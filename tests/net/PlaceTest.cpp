#include <gtest/gtest.h>

#include "support/TestNet.h"

using namespace testnet;

TEST(Place, CapacityAndWrappingSpaceTest) {
  TestNet net([](TestNet&) {});
  EXPECT_TRUE(net.place("Unlimited", 1)->canTake(1000000));
  Place* three = net.place("Three", 2, 3);
  EXPECT_FALSE(three->canTake(static_cast<unsigned int>(-1)));  // 0 - 1 wraps and fails
  net.tokens("Three", 2);
  EXPECT_TRUE(three->canTake(1));
  EXPECT_FALSE(three->canTake(2));
  EXPECT_TRUE(three->canTake(static_cast<unsigned int>(-1)));  // 2 - 1 fits
}

TEST(Place, OfferedMarkingTokensAndArcs) {
  TestNet net([](TestNet&) {});
  auto* firstN = new Place(1, "FirstN", &net, true, 0);
  net.addPlace(firstN);
  Place* plain = net.place("Plain", 2);
  EXPECT_EQ(plain->content(), "");
  for (int value : {1, 0, 4, 8, 9}) {
    firstN->addToken(Ptr<Token>(new Token_int(value)));
    plain->addToken(Ptr<Token>(new Token_int(value)));
  }
  const TokenList firstTwo(firstN->getFullMarking().begin(),
                           std::next(firstN->getFullMarking().begin(), 2));
  EXPECT_EQ(firstN->getMarking(2), firstTwo);
  EXPECT_TRUE(firstN->getMarking(0).empty());
  EXPECT_EQ(firstN->getMarking(9).size(), 5u);
  EXPECT_EQ(plain->getMarking(2).size(), 5u);
  EXPECT_EQ(plain->content(), "1,0,4,8,9");

  // One removal takes every entry of the token.
  plain->addToken(plain->getFullMarking().front());
  plain->removeToken(plain->getFullMarking().front());
  EXPECT_EQ(plain->content(), "0,4,8,9");

  // A second arc to the same transition replaces the multiplicity and lists the transition again.
  Transition* t = net.transition("T", 5, {});
  net.linkPlaceToTransition("Plain", "T", 1);
  net.linkPlaceToTransition("Plain", "T", 3);
  EXPECT_EQ(plain->getOutTransitionMultiplicity(5), 3);
  EXPECT_EQ(plain->getOutTransitions().size(), 2u);
  EXPECT_EQ(plain->getInTransitionMultiplicity(5), 0);
  // A single server is offered the first w tokens of a first-N place.
  net.linkPlaceToTransition("FirstN", "T", 2);
  EXPECT_EQ(*t->getPlaceMarking(*firstN), firstTwo);
}
