// The nearest-neighbour stage: the value of the voxel whose centre is
// nearest, for the point and slice kernels.
#ifndef VOLACCESS_NEAREST_STAGE_H
#define VOLACCESS_NEAREST_STAGE_H

#include <cstdint>

#include "cell_plan.h"
#include "sample_pipeline.h"
#include "stage_support.h"
#include "volume.h"

namespace volaccess {

// The real value of the voxel whose centre is nearest, halves going
// upward: 0.5 <= c < dim + 0.5 is inside on every axis.
template <class Voxel>
class NearestStage {
 public:
  using Plan = NearestPlan;
  using Result = double;
  NearestStage(const Volume &vol, const PlanKernels &plans, double background)
      : vol_(vol), plans_(plans), background_(background) {}

  void plan(const Block &b, Plan &p) const {
    plans_.nearest(b.x, b.y, b.z, b.n, dims_of(vol_), &p);
    p.prefetch = b.prefetch;
  }

  static int32_t ahead() { return kBlock; }

  void prefetch(const Plan &p, int32_t s) const {
    if (p.prefetch && p.inside[s])
      prefetch_voxel<Voxel>(vol_, p.k[s], vol_.element(p.i[s], p.j[s]));
  }

  double sample(const Plan &p, const Block & /*b*/, int32_t s) const {
    if (!p.inside[s]) return background_;
    return vol_.real(Voxel::at(vol_.data[p.k[s]], vol_.element(p.i[s], p.j[s])), p.k[s]);
  }

  void finish(const Plan &p, const Block &b, const Plan &next, int32_t next_n, Result *results) {
    finish_each(*this, p, b, next, next_n, results);
  }

 private:
  const Volume &vol_;
  const PlanKernels &plans_;
  double background_;
};

}  // namespace volaccess

#endif
