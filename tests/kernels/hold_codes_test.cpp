// The hold-code rule every entry point decodes: the kernel a code selects,
// its node count, and the clamping at the table's limit.
#include <gtest/gtest.h>

#include <cstdint>

#include "hold_codes.h"

namespace {

using volaccess::decode_hold;
using volaccess::HoldKernel;

TEST(HoldCodes, EachCodeSelectsItsKernelAndNodeCount) {
  struct Case {
    int32_t hold;
    HoldKernel kernel;
    int32_t nodes;
  };
  const Case cases[] = {
      {0, HoldKernel::kNearest, 1},        {1, HoldKernel::kTrilinear, 2},
      {2, HoldKernel::kLagrange, 3},       {3, HoldKernel::kLagrange, 4},
      {170, HoldKernel::kLagrange, 171},   {254, HoldKernel::kLagrange, 255},
      {255, HoldKernel::kLagrange, 255},   {INT32_MAX, HoldKernel::kLagrange, 255},
      {-1, HoldKernel::kSinc, 2},          {-3, HoldKernel::kSinc, 4},
      {-254, HoldKernel::kSinc, 255},      {-255, HoldKernel::kSinc, 255},
      {INT32_MIN, HoldKernel::kSinc, 255},
  };
  for (const Case &c : cases) {
    const volaccess::HoldRule rule = decode_hold(c.hold);
    EXPECT_EQ(rule.kernel, c.kernel) << "hold " << c.hold;
    EXPECT_EQ(rule.nodes, c.nodes) << "hold " << c.hold;
  }
}

TEST(HoldCodes, TheLargestCodesFillOneTableExactly) {
  EXPECT_EQ(decode_hold(volaccess::kMaxHold).nodes, volaccess::kTableEntries);
  EXPECT_EQ(decode_hold(-volaccess::kMaxHold).nodes, volaccess::kTableEntries);
  EXPECT_LE(decode_hold(volaccess::kMaxLagrangeHold).nodes, volaccess::kTableEntries);
  EXPECT_EQ(decode_hold(volaccess::kMinSincHold).nodes, volaccess::kTableEntries);
}

}  // namespace
