#include <gtest/gtest.h>

#include <memory>

#include "support/TestNet.h"
#include "net/TokenTransfer.h"

using testnet::TestTransition;

TEST(Token, CountersFollowCreateCopyAndDestroy) {
  const Counter made = Token::tokenCounter, alive = Token::concTokenCounter;
  TestTransition holder(1, "holder", nullptr, {});
  {
    Ptr<Token_int> original(new Token_int(-5));
    EXPECT_EQ(original->getID(), made);
    original->addTransition(&holder);
    Ptr<Token> withTransitions(new Token_int(*original, true)),
        bare(new Token_int(*original, false));
    EXPECT_EQ(Token::concTokenCounter, alive + 3);
    EXPECT_TRUE(*bare == *original && !(bare == original));
    EXPECT_TRUE(withTransitions->containsTransition(&holder));
    EXPECT_FALSE(bare->containsTransition(&holder));
  }
  EXPECT_EQ(Token::concTokenCounter, alive);
  EXPECT_EQ(Token::tokenCounter, made + 1);  // copies keep the id
}

TEST(Token, FindTokenMatchesIdAndExactTypeName) {
  std::vector<token_info*> infos;
  for (auto [type, id] : {std::pair{"Data", 3}, {"int", 4}, {"int", 3}, {"int", 3}})
    infos.push_back(new token_info{type, Ptr<Token>(new Token_int(id)), id, "p"});
  EXPECT_TRUE(Token::findToken(infos, "int", 3) == infos[2]->token);  // the first match
  EXPECT_TRUE(Token::findToken(infos, "Data", 3) == infos[0]->token);
  EXPECT_TRUE(Token::findToken(infos, "Int", 3) == 0);
  EXPECT_TRUE(Token::findToken(infos, "int", 5) == 0);
  for (token_info* info : infos) delete info;
}

// Every holder drops its binding from within tokenNotify, which unregisters it from the token
// under the walk, and searches again: without input places it finds one empty binding, so each
// call draws exactly one new binding id. Half the holders stand in the token's list twice.
TEST(Token, NotifyReachesEveryRegisteredTransitionOnce) {
  for (int count : {3, 20}) {  // below and above the in-place snapshot size
    Ptr<Token> token(new Token_int(1));
    std::vector<std::unique_ptr<TestTransition>> holders;
    for (int i = 0; i < count; ++i) {
      auto& t = holders.emplace_back(new TestTransition(i, "holder", nullptr, {}));
      t->addBinding(new Binding(new TokenList(i % 2 == 0 ? 2 : 1, token), t.get(), DateTime()));
    }
    const Counter ids = Binding::idCounter;
    token->notifyTransitions(token);
    EXPECT_EQ(Binding::idCounter - ids, count);
    for (auto& holder : holders) {
      ASSERT_EQ(holder->getEvents().size(), 1u);
      EXPECT_FALSE(token->containsTransition(holder.get()));
    }
  }
}
