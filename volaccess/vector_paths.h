// Runtime choice of the plan stage's instruction set: the widest one this
// machine has, unless a caller (the exactness battery) forces another one
// to compare the paths bit for bit. Internal to the library.
#ifndef VOLACCESS_VECTOR_PATHS_H
#define VOLACCESS_VECTOR_PATHS_H

#include "cell_plan.h"

namespace volaccess {

enum class VectorPath { kBaseline, kAvx2, kAvx512 };

// The plan stage in use.
const PlanKernels &plan_kernels();

// Whether this machine can run the path.
bool vector_path_available(VectorPath path);

// Uses the path from now on, in every thread; false (and nothing changes)
// when this machine cannot run it. Safe while other threads sample: a call
// already running keeps the path it started with, and every path gives
// the same bits.
bool force_vector_path(VectorPath path);

// Back to the widest path available.
void choose_best_vector_path();

}  // namespace volaccess

#endif
