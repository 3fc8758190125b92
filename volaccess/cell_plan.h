// The plan stage of every sampling kernel, run over a block of samples at
// once: inside tests, voxel indices and fractions, the quotients of the
// slice walk, and the arithmetic that runs across a block (trilinear
// blends, four-node stencil sums, Lagrange weights). It depends only on
// numbers, never on how voxels are stored, so it is compiled once per
// instruction set and chosen at run time (vector_paths.h); its functions
// are written once, in the plan_*.inc files. Every path forms each value with the
// same operations in the same order, so every path yields the same bits.
#ifndef VOLACCESS_CELL_PLAN_H
#define VOLACCESS_CELL_PLAN_H

#include <cstdint>

namespace volaccess {

// Samples per block: enough to keep the memory system busy with the next
// block's prefetches while this one is summed, few enough for the stack.
constexpr int32_t kBlock = 32;

struct Dims {
  int32_t dim0;
  int32_t dim1;
  int32_t dim2;
};

// Nearest neighbour: the voxel of each inside sample.
struct NearestPlan {
  int32_t inside[kBlock];
  int32_t i[kBlock];
  int32_t j[kBlock];
  int32_t k[kBlock];
  // Whether the stage prefetches the voxels of this block (Block::prefetch).
  bool prefetch;
};

// Trilinear: per axis the base voxel, the step to the upper one and the
// fraction.
struct TrilinearPlan {
  int32_t inside[kBlock];
  int32_t bx[kBlock];
  int32_t by[kBlock];
  int32_t bz[kBlock];
  int32_t sx[kBlock];
  int32_t sy[kBlock];
  int32_t sz[kBlock];
  double tx[kBlock];
  double ty[kBlock];
  double tz[kBlock];
  // Whether the stage prefetches the voxels of this block (Block::prefetch).
  bool prefetch;
};

// The eight corners of each planned trilinear cell as the reader gives
// them, not scaled, fetched in the order e00, e10, e01, e11 of the lower
// plane, then of the upper one. Encodings whose every value is a 32-bit
// integer keep integers, which the blend converts across the block (the
// conversion is exact either way); the others are converted as fetched.
// The scale and offset of both planes follow.
template <class Value>
struct CellCorners {
  Value v[8][kBlock];
  double scale0[kBlock];
  double offset0[kBlock];
  double scale1[kBlock];
  double offset1[kBlock];
};

// Lookup tables: the inside test; the runs themselves come from the
// weight builders.
struct LookupPlan {
  int32_t inside[kBlock];
  // Whether the stage prefetches the voxels of this block (Block::prefetch).
  bool prefetch;
};

// Lookup stencils of four nodes per axis, the most common size, gathered
// for a block so that their sums run across samples in vector registers.
// Lane l holds voxel (a, b, c) of its stencil (a along x, b along y, c
// along z) at v[(c * 4 + b) * 4 + a][l], as the reader gives it and not
// scaled, with the weights of its three runs and the scale and offset of
// its four planes. Values are kept as in CellCorners.
constexpr int32_t kStencilSide = 4;
template <class Value>
struct Stencils {
  Value v[kStencilSide * kStencilSide * kStencilSide][kBlock];
  double wx[kStencilSide][kBlock];
  double wy[kStencilSide][kBlock];
  double wz[kStencilSide][kBlock];
  double scale[kStencilSide][kBlock];
  double offset[kStencilSide][kBlock];
};

// The same stencils with the derivative weights of their runs.
template <class Value>
struct GradientStencils : Stencils<Value> {
  double dwx[kStencilSide][kBlock];
  double dwy[kStencilSide][kBlock];
  double dwz[kStencilSide][kBlock];
};

// Rows of a slice walked side by side, one per lane: each step adds
// (dx, dy, dz, dw) to every lane's running (x, y, z, w), and stores w and
// the quotients x / w, y / w and z / w of step i in lane r at
// [r * lane_stride + i], so that each lane's steps lie in a row of their
// own. The running values are left in the record.
constexpr int32_t kWalkLanes = 4;
struct RowWalk {
  double x[kWalkLanes];
  double y[kWalkLanes];
  double z[kWalkLanes];
  double w[kWalkLanes];
  double dx;
  double dy;
  double dz;
  double dw;
};

// Where the planes of a volume lie, for the vector gathers below: planes[k]
// is plane k; when the planes lie evenly in memory, base is plane 0 and
// plane k starts k * plane_bytes after it (base is null otherwise), and
// offsets32 is 1 when moreover every voxel lies less than 2^31 bytes after
// base, ascending. dim0 is the row length; is_signed is 0 for unsigned
// voxels; with `scaled`, the planes' scale and offset are gathered too.
struct PlaneLayout {
  void *const *planes;
  const unsigned char *base;
  int64_t plane_bytes;
  int32_t offsets32;
  const double *scale;
  const double *offset;
  int32_t dim0;
  int32_t is_signed;
  int32_t scaled;
};

// The gathers read the two corners of a row as one word, kGatherLanes or
// twice as many cells at a time.
constexpr int32_t kGatherLanes = 8;

// The plan functions, listed once: F(result, name, parameters) for each
// that every instruction set has, G(...) for the vector gathers, which
// only AVX-512 has (elsewhere they are null and the stage reads voxel by
// voxel, which is then faster). PlanKernels below holds a pointer to each;
// the plan_*.inc files define them once per instruction set as
// plan_<name>, and plan_table.inc fills each set's table from this list,
// so a new plan function is added here and written there. All take
// 1-based coordinates and blocks of n <= kBlock samples.
//   nearest, trilinear, lookup: the plan of a block for each kernel.
//   blend_trilinear(_int): the trilinear value of each planned cell from
//     its corners (kept as doubles, or as integers), or the background
//     outside.
//   blend_trilinear_gradient(_int): the same with the derivatives along
//     x, y and z; outside, the background with zero derivatives.
//   label_cells(_int): the label of each planned cell from its corners
//     (plan_labels.inc), or the background outside.
//   lagrange_runs: which of n coordinates c (on an axis of d voxels) get a
//     Lagrange run of q nodes that keeps all its nodes without the
//     whole-number shortcut (whole = 1), with the run's first voxel (0
//     elsewhere) and the fraction t from its centre voxel; the tests are
//     the Lagrange builder's.
//   lagrange_weights: the q Lagrange weights of n such runs, for their
//     fractions t: weight e of run l into w[e * kBlock + l], formed as the
//     Lagrange builder forms them.
//   sum_stencils(_int): the lookup sum of each of n stencils, in the order
//     of lookup_sum (lookup_sums.h), lane by lane.
//   sum_gradient_stencils(_int): the lookup value and derivatives of each
//     of n stencils, in the order of the gradient lookup_sum, lane by lane.
//   walk_rows: steps the rows of walk `columns` times (see RowWalk), each
//     lane's steps lane_stride doubles after the last lane's; true
//     when W was exactly 1 throughout (so no step has a zero W, and w is
//     left as it was).
//   gather_cells16, gather_cells_float: the corners of n planned cells, as
//     gather_cell (trilinear_stages.h) gathers them, of a volume of 16-bit
//     voxels or of 32-bit floats in the machine's byte order; the floats
//     only when the layout's offsets32 is 1.
#define VOLACCESS_PLAN_FUNCTIONS(F, G)                                                             \
  F(void, nearest,                                                                                 \
    (const double *x, const double *y, const double *z, int32_t n, Dims d, NearestPlan *plan))     \
  F(void, trilinear,                                                                               \
    (const double *x, const double *y, const double *z, int32_t n, Dims d, TrilinearPlan *plan))   \
  F(void, lookup,                                                                                  \
    (const double *x, const double *y, const double *z, int32_t n, Dims d, LookupPlan *plan))      \
  VOLACCESS_PLAN_VALUE_FUNCTIONS(F, double, )                                                      \
  VOLACCESS_PLAN_VALUE_FUNCTIONS(F, int32_t, _int)                                                 \
  F(void, lagrange_runs,                                                                           \
    (const double *c, int32_t n, int32_t q, int32_t d, int32_t *whole, int32_t *first, double *t)) \
  F(void, lagrange_weights,                                                                        \
    (const double *t, int32_t n, int32_t q, int32_t k0, const double *denom, double *w))           \
  F(bool, walk_rows,                                                                               \
    (RowWalk * walk, int32_t columns, int32_t lane_stride, double *qx, double *qy, double *qz,     \
     double *w))                                                                                   \
  G(void, gather_cells16,                                                                          \
    (const TrilinearPlan *plan, const PlaneLayout *volume, int32_t n,                              \
     CellCorners<int32_t> *corners))                                                               \
  G(void, gather_cells_float,                                                                      \
    (const TrilinearPlan *plan, const PlaneLayout *volume, int32_t n,                              \
     CellCorners<double> *corners))

// The functions of corners or stencils, once for values kept as doubles
// (name) and once for values kept as integers (name_int).
#define VOLACCESS_PLAN_VALUE_FUNCTIONS(F, Value, suffix)                                         \
  F(void, blend_trilinear##suffix,                                                               \
    (const TrilinearPlan *plan, const CellCorners<Value> *corners, int32_t n, double background, \
     double *out))                                                                               \
  F(void, blend_trilinear_gradient##suffix,                                                      \
    (const TrilinearPlan *plan, const CellCorners<Value> *corners, int32_t n, double background, \
     double *value, double *dx, double *dy, double *dz))                                         \
  F(void, label_cells##suffix,                                                                   \
    (const TrilinearPlan *plan, const CellCorners<Value> *corners, int32_t n, double background, \
     double *out))                                                                               \
  F(void, sum_stencils##suffix, (const Stencils<Value> *stencils, int32_t n, double *out))       \
  F(void, sum_gradient_stencils##suffix,                                                         \
    (const GradientStencils<Value> *stencils, int32_t n, double *value, double *dx, double *dy,  \
     double *dz))

// One instruction set's plan functions, and its name.
struct PlanKernels {
  const char *name;
#define VOLACCESS_PLAN_MEMBER(result, function, parameters) result(*function) parameters;
  VOLACCESS_PLAN_FUNCTIONS(VOLACCESS_PLAN_MEMBER, VOLACCESS_PLAN_MEMBER)
#undef VOLACCESS_PLAN_MEMBER
};

}  // namespace volaccess

#endif
