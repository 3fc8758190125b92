// Hold codes: how a caller names the interpolation of a sampling call,
// decoded in one place for every entry point, with the limits on them and
// the reason for each. Programs include this too, to check codes the way
// the library reads them.
#ifndef VOLACCESS_HOLD_CODES_H
#define VOLACCESS_HOLD_CODES_H

#include <cstdint>

namespace volaccess {

// A lookup kernel builds each axis's run of weights into a table of this
// many entries, so a run holds at most this many nodes.
constexpr int32_t kTableEntries = 255;

// The largest code either way: code h asks for h + 1 Lagrange nodes or
// 1 - h sinc nodes, which must fit a table. Codes beyond are clamped to
// it, not refused: every code is a valid request.
constexpr int32_t kMaxHold = kTableEntries - 1;

// The largest Lagrange code a program should offer: the denominators of
// h + 1 nodes are products as large as h!, and 171! overflows a double,
// so above 170 the weights become infinite or NaN. The sinc weights have
// no such bound, so every sinc code down to -kMaxHold is usable.
constexpr int32_t kMaxLagrangeHold = 170;
constexpr int32_t kMinSincHold = -kMaxHold;

// The kernel a code selects: 0 nearest neighbour, 1 trilinear, 2 and up
// Lagrange, negative windowed sinc.
enum class HoldKernel { kNearest, kTrilinear, kLagrange, kSinc };

// A decoded code: the kernel and its nodes per axis (hold + 1, or 1 - hold
// for sinc). The gradient kernels have no nearest-neighbour form: they
// read code 0 as its node count, a one-node Lagrange kernel.
struct HoldRule {
  HoldKernel kernel;
  int32_t nodes;
};

constexpr HoldRule decode_hold(int32_t hold) {
  const int32_t h = hold < -kMaxHold ? -kMaxHold : hold > kMaxHold ? kMaxHold : hold;
  if (h < 0) return HoldRule{HoldKernel::kSinc, 1 - h};
  if (h == 0) return HoldRule{HoldKernel::kNearest, 1};
  if (h == 1) return HoldRule{HoldKernel::kTrilinear, 2};
  return HoldRule{HoldKernel::kLagrange, h + 1};
}

}  // namespace volaccess

#endif
