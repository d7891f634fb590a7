#include <gtest/gtest.h>

#include <list>
#include <set>
#include <tuple>
#include <vector>

#include "support/TestNet.h"

using testnet::TestTransition;
using Kind = TestTransition::Options::Kind;

TEST(Binding, TakesTimeKindAndIdentityFromItsTransitionAndOrdersByTimePriorityAndId) {
  TestTransition plain(
      1, "plain", nullptr,
      {.firingWeight = 0.5, .priority = 1, .kind = Kind::deterministic, .delay = 2.5});
  TestTransition guarded(2, "guarded", nullptr, {.timeguard = true, .opensAfter = 7.0,
                                                  .kind = Kind::deterministic, .delay = 2.5});
  const Counter id = Binding::idCounter;
  const std::string first = std::to_string(id), second = std::to_string(id + 1);
  Binding fire(new TokenList{Ptr<Token>(new Token_int(1))}, &plain, DateTime(100.0));
  EXPECT_EQ(testing::PrintToString(fire),
            "Binding[FIRE, plain, ID: " + first + ", time: 102.5, prio: 1, weight: 0.5]");

  Binding temp(&guarded, DateTime(100.0));  // now + delay + time guard
  EXPECT_EQ(testing::PrintToString(temp),
            "TempBinding[TIMEGUARD, guarded, ID: " + second + ", time: 109.5, prio: 0, weight: 1]");
  temp.updateTime(DateTime(200.0));
  temp.convertTempBinding(new TokenList{Ptr<Token>(new Token_int(2))});
  EXPECT_EQ(testing::PrintToString(temp),
            "Binding[TIMEGUARD, guarded, ID: " + second + ", time: 209.5, prio: 0, weight: 1]");

  // A restored binding keeps its old id and leaves the counter alone.
  Binding restored(12, &plain, DateTime(100.5), 1, 1.0, true, new TokenList);
  EXPECT_EQ(testing::PrintToString(restored),
            "Binding[FIRE, plain, ID: 12, time: 100.5, prio: 1, weight: 1]");
  EXPECT_EQ(Binding(DateTime(1.0)).getID(), id + 2);

  // The event set: the earliest first, then the higher priority, then the lower id.
  std::list<Binding> owned;
  std::set<Binding*, DerefLess<Binding*>> events;
  for (auto [given, time, priority] : std::vector<std::tuple<Counter, double, int>>{
           {5, 10.0, 0}, {3, 10.0, 0}, {9, 10.0, 2}, {1, 11.0, 5}, {7, 9.999, 0}, {4, 10.0, 2}})
    events.insert(&owned.emplace_back(given, &plain, DateTime(time), priority, 1.0, true, nullptr));
  std::vector<Counter> order;
  for (const Binding* b : events) order.push_back(b->getID());
  EXPECT_EQ(order, (std::vector<Counter>{7, 4, 9, 3, 5, 1}));

  // Token-less sentinels assign.
  Binding a(DateTime(5.0)), b(DateTime(7.0));
  a = b;
  EXPECT_EQ(a.getTime().FullDateTime(), 7.0);
  EXPECT_EQ(a.getID(), b.getID());
}
