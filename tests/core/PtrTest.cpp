#include "core/SmartPointers.h"

#include <gtest/gtest.h>

using ReferenceCountedSmartPointer::Dynamic_Cast;
using ReferenceCountedSmartPointer::Ptr;

namespace {

int destroyed = 0;

struct Node {
  virtual ~Node() { ++destroyed; }
  Ptr<Node> next;
};
struct IntNode : Node {};

std::uint64_t count(const Ptr<Node>& p) { return p.GetRefObject()->GetActiveCount(); }

class PtrTest : public testing::Test {
 protected:
  void SetUp() override { destroyed = 0; }
};

TEST_F(PtrTest, CountsCopiesAndDeletesOnceWithLastReference) {
  static_assert(sizeof(Ptr<Node>) == 2 * sizeof(void*));
  Ptr<Node> null;
  EXPECT_TRUE(null == 0 && null.GetRefObject() == nullptr);
  {
    Ptr<Node> first(new IntNode);
    Ptr<Node> second(first);
    Ptr<Node>& alias = second;
    second = alias;
    second = first;
    EXPECT_EQ(count(first), 2u);
    Ptr<Node> third(null);
    third = null;
    EXPECT_TRUE(third == 0 && !(first == 0) && first == second);
    second = null;
    EXPECT_EQ(count(first), 1u);
    EXPECT_EQ(destroyed, 0);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST_F(PtrTest, RawAssignmentKeepsTheObjectAlreadyHeld) {
  Node* raw = new Node;
  Ptr<Node> p(raw);
  p = raw;
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(count(p), 1u);
  p = new Node;
  EXPECT_EQ(destroyed, 1);
}

TEST_F(PtrTest, ReleasingTheObjectThatHoldsTheSourceOrTheTargetIsSafe) {
  // a -> b -> c: a's link takes over b's own link while b dies with the assignment.
  Ptr<Node> a(new Node);
  a->next = Ptr<Node>(new Node);
  a->next->next = Ptr<Node>(new Node);
  Node* c = a->next->next.GetRawPtr();
  a->next = a->next->next;
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(a->next.GetRawPtr(), c);
  EXPECT_EQ(count(a->next), 1u);

  // A node kept alive only by its own link dies when that link moves on.
  Node* self = new Node;
  self->next = Ptr<Node>(self);
  self->next = new Node;
  EXPECT_EQ(destroyed, 3);
}

TEST_F(PtrTest, DynamicCastSharesTheBlockOnlyWhenTheTypeMatches) {
  Ptr<Node> plain(new Node);
  EXPECT_TRUE(Dynamic_Cast<IntNode>(plain) == 0);
  EXPECT_EQ(count(plain), 1u);

  Ptr<Node> base(new IntNode);
  Ptr<IntNode> derived = Dynamic_Cast<IntNode, Node>(base);
  EXPECT_EQ(derived.GetRefObject(), base.GetRefObject());
  EXPECT_EQ(count(base), 2u);
  base = derived;
  base = plain;
  EXPECT_EQ(destroyed, 0);
  derived = Ptr<IntNode>();
  EXPECT_EQ(destroyed, 1);
}

TEST(PtrDeathTest, NullDereferenceBadComparisonAndOverReleaseAbort) {
  Ptr<Node> null;
  EXPECT_DEATH(*null, "Assertion failed: m_pRawPtr != 0, file src/core/Ptr, line [0-9]+");
  EXPECT_DEATH(null->next, "Assertion failed: m_pRawPtr != 0, file src/core/Ptr, line [0-9]+");
  EXPECT_DEATH(static_cast<void>(null == 1),
               "Assertion failed: iShouldBeNull == 0, file src/core/Ptr, line [0-9]+");
  ReferenceCountedSmartPointer::PtrRefCounter counter;
  counter.SubtractActiveRef();
  EXPECT_DEATH(counter.SubtractActiveRef(),
               "Assertion failed: m_uActiveCount > 0, file src/core/PtrRefCounter, line [0-9]+");
}

}  // namespace
