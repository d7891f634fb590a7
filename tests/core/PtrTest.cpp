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
static_assert(sizeof(Ptr<Node>) == 2 * sizeof(void*));

std::uint64_t count(const Ptr<Node>& p) { return p.GetRefObject()->GetActiveCount(); }

TEST(PtrTest, CountsCopiesAndCastsDeletesOnceWithLastReferenceAndReleasesHoldersSafely) {
  destroyed = 0;
  Ptr<Node> null;
  {
    Ptr<Node> first(new IntNode), second(first);
    Ptr<Node>& alias = second;
    second = alias, second = first;
    EXPECT_TRUE(count(first) == 2 && !(first == 0) && first == second);
    second = null;
    EXPECT_TRUE(count(first) == 1 && destroyed == 0);
  }
  EXPECT_EQ(destroyed, 1);

  // A cast shares the block only when the type matches.
  Ptr<Node> plain(new Node), base(new IntNode);
  EXPECT_TRUE(Dynamic_Cast<IntNode>(plain) == 0);
  Ptr<IntNode> derived = Dynamic_Cast<IntNode, Node>(base);
  EXPECT_TRUE(count(plain) == 1 && count(base) == 2);  // base and derived share one block
  base = derived, base = plain;
  EXPECT_EQ(destroyed, 1);
  derived = Ptr<IntNode>();
  EXPECT_EQ(destroyed, 2);

  // Handing a Ptr the object it already holds keeps the object and its count.
  Node* raw = new Node;
  Ptr<Node> p(raw);
  p = raw;
  EXPECT_TRUE(destroyed == 2 && count(p) == 1);
  p = new Node;
  EXPECT_EQ(destroyed, 3);

  // Releasing the object that holds the source or the target of an assignment is safe.
  destroyed = 0;
  // a -> b -> c: a's link takes over b's own link while b dies with the assignment.
  Ptr<Node> a(new Node);
  a->next = Ptr<Node>(new Node);
  a->next->next = Ptr<Node>(new Node);
  Node* c = a->next->next.GetRawPtr();
  a->next = a->next->next;
  EXPECT_TRUE(destroyed == 1 && a->next.GetRawPtr() == c && count(a->next) == 1);

  // A node kept alive only by its own link dies when that link moves on.
  Node* self = new Node;
  self->next = Ptr<Node>(self);
  self->next = new Node;
  EXPECT_EQ(destroyed, 3);
}

// Also the form of every kernel assertion: the source without its extension, and the line.
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
