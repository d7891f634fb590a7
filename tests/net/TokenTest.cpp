#include <gtest/gtest.h>

#include <memory>

#include "support/TestNet.h"
#include "tokendb/TokenRecords.h"

using testnet::TestTransition;

TEST(Token, CountersFollowCreateCopyAndDestroy) {
  const Counter made = Token::tokenCounter, alive = Token::concTokenCounter;
  TestTransition holder(1, "holder", nullptr, {});
  {
    Ptr<Token_int> original(new Token_int(-5));
    EXPECT_EQ(original->getID(), made);
    EXPECT_EQ(original->content(), "-5");
    EXPECT_EQ(original->getName(), "int");
    original->addTransition(&holder);

    Ptr<Token_int> withTransitions(new Token_int(*original, true));
    Ptr<Token> bare(new Token_int(*original, false));
    EXPECT_EQ(Token::tokenCounter, made + 1);  // copies keep the id
    EXPECT_EQ(Token::concTokenCounter, alive + 3);
    EXPECT_GE(Token::maxConcTokenCounter, alive + 3);
    EXPECT_TRUE(*bare == *original && !(bare == original));
    EXPECT_TRUE(withTransitions->containsTransition(&holder));
    EXPECT_FALSE(bare->containsTransition(&holder));
  }
  EXPECT_EQ(Token::concTokenCounter, alive);
  EXPECT_EQ(Token::tokenCounter, made + 1);
}

TEST(Token, FindTokenMatchesIdAndExactTypeName) {
  std::vector<token_info*> infos;
  for (auto [type, id] : {std::pair{"Data", 3}, {"int", 4}, {"int", 3}, {"int", 3}}) {
    infos.push_back(new token_info{type, Ptr<Token>(new Token_int(id)), id, "p"});
  }
  EXPECT_TRUE(Token::findToken(infos, "int", 3) == infos[2]->token);  // the first match
  EXPECT_TRUE(Token::findToken(infos, "Data", 3) == infos[0]->token);
  EXPECT_TRUE(Token::findToken(infos, "Int", 3) == 0);
  EXPECT_TRUE(Token::findToken(infos, "int", 5) == 0);
  for (token_info* info : infos) delete info;
}

// Every transition holding the token drops its binding from within tokenNotify, which unregisters
// it from the token under the walk, and searches again: a test transition without input places
// finds one empty binding each time, so each call draws exactly one new binding id.
TEST(Token, NotifyReachesEveryRegisteredTransitionOnce) {
  for (int count : {3, 20}) {  // both below and above the in-place snapshot size
    Ptr<Token> token(new Token_int(1));
    std::vector<std::unique_ptr<TestTransition>> holders;
    for (int i = 0; i < count; ++i) {
      holders.push_back(std::make_unique<TestTransition>(i, "holder", nullptr,
                                                         TestTransition::Options{}));
      // Every other transition binds the token twice and so stands in its list twice.
      auto* tokens = new TokenList(i % 2 == 0 ? 2 : 1, token);
      holders.back()->addBinding(new Binding(tokens, holders.back().get(), DateTime()));
    }
    const Counter ids = Binding::idCounter;
    token->notifyTransitions(token);
    EXPECT_EQ(Binding::idCounter - ids, count);
    for (auto& holder : holders) {
      ASSERT_EQ(holder->getEvents().size(), 1u);
      EXPECT_GE((*holder->getEvents().begin())->getID(), ids);
      EXPECT_FALSE(token->containsTransition(holder.get()));
    }
  }
}
