// The fixed distances of the weight builders' rules, named once: the
// builders (lookup.cpp) and the plan core's batched Lagrange runs, which
// must decide exactly as the builder does, read them from here.
#ifndef VOLACCESS_BUILDER_STEPS_H
#define VOLACCESS_BUILDER_STEPS_H

namespace volaccess {

// A coordinate closer than this to a voxel centre takes that voxel alone,
// with weight exactly 1 (Lagrange and sinc values; not their gradients).
constexpr double kWholeNumberReach = 0.00001;

// The forward-difference step of the Lagrange derivative weights, and the
// distance from a node within which every numerator is formed as a full
// product instead of by the recurrence, which would divide by nearly 0.
constexpr double kLagrangeGradientStep = 0.00001;
constexpr double kFullProductReach = 0.0001;

// The forward-difference step of the sinc derivative weights, and the
// distance from a node within which the windowed sinc is taken as exactly
// 1 (the formula would divide 0 by 0).
constexpr double kSincGradientStep = 0.000001;
constexpr double kSincNodeReach = 1e-12;

}  // namespace volaccess

#endif
