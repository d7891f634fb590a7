#include "core/Assert.h"

#include <gtest/gtest.h>

namespace {

int checkedDivide(int a, int b) {
  KERNEL_ASSERT(b != 0);
  return a / b;
}

TEST(KernelAssertDeathTest, ReportsExpressionSourceWithoutExtensionAndLine) {
  EXPECT_EQ(checkedDivide(6, 3), 2);
  EXPECT_DEATH(checkedDivide(1, 0),
               "Assertion failed: b != 0, file tests/core/AssertTest, line [0-9]+");
}

}  // namespace
