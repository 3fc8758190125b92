#include "vector_paths.h"

#include <atomic>

namespace volaccess {

extern const PlanKernels kPlans_baseline;
extern const PlanKernels kPlans_avx2;
extern const PlanKernels kPlans_avx512;

namespace {

const PlanKernels *best_available() {
  // The feature test may run before the compiler's own start-up code has
  // probed the processor.
  __builtin_cpu_init();
  if (vector_path_available(VectorPath::kAvx512)) return &kPlans_avx512;
  if (vector_path_available(VectorPath::kAvx2)) return &kPlans_avx2;
  return &kPlans_baseline;
}

// Chosen on first use, so that sampling from another library's static
// initialiser finds a path too. Threads that start sampling together may
// each make the choice; they store the same table, and every path gives
// the same bits, so a thread that reads an older choice is still right.
std::atomic<const PlanKernels *> g_plans{nullptr};

const PlanKernels &kernels_of(VectorPath path) {
  switch (path) {
    case VectorPath::kAvx512: return kPlans_avx512;
    case VectorPath::kAvx2: return kPlans_avx2;
    case VectorPath::kBaseline: break;
  }
  return kPlans_baseline;
}

}  // namespace

const PlanKernels &plan_kernels() {
  const PlanKernels *plans = g_plans.load(std::memory_order_acquire);
  if (plans == nullptr) {
    plans = best_available();
    g_plans.store(plans, std::memory_order_release);
  }
  return *plans;
}

bool vector_path_available(VectorPath path) {
  __builtin_cpu_init();
  switch (path) {
    case VectorPath::kAvx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
             __builtin_cpu_supports("avx512dq");
    case VectorPath::kAvx2: return __builtin_cpu_supports("avx2");
    case VectorPath::kBaseline: break;
  }
  return true;
}

bool force_vector_path(VectorPath path) {
  if (!vector_path_available(path)) return false;
  g_plans.store(&kernels_of(path), std::memory_order_release);
  return true;
}

void choose_best_vector_path() { g_plans.store(best_available(), std::memory_order_release); }

}  // namespace volaccess
