// The weight builders' cache of their last node count (one per thread),
// and the pointer helpers for their runs. Internal to the library; the
// cache accessors let tests see when a builder recomputes.
#ifndef VOLACCESS_LOOKUP_CACHE_H
#define VOLACCESS_LOOKUP_CACHE_H

#include <cstddef>
#include <cstdint>

namespace volaccess {

// Node offsets k0..k1 around the centre voxel for the node count oq.
struct LookupCache {
  int32_t oq;
  int32_t k0;
  int32_t k1;
};

// The calling thread's caches of the four builders, as they stand now (oq
// is 0 until a builder first recomputes in this thread).
LookupCache poly_cache();
LookupCache poly_grad_cache();
LookupCache sinc_cache();
LookupCache sinc_grad_cache();

// The Lagrange builder's denominators for q nodes (1 <= q <= 256), indexed
// from node k0, refreshing its cache as a call of make_lookup_poly with q
// does: for kernels that form whole runs of that builder themselves.
const double *lagrange_denominators(int32_t q);

// The end pointer of an empty run: one entry before the table. Formed
// through the address value, since pointer arithmetic before the start of
// an array is undefined.
inline double *empty_run_last(double *table) {
  return reinterpret_cast<double *>(reinterpret_cast<uintptr_t>(table) - sizeof(double));
}

// Number of weights of the run from table to last (0 for an empty run),
// measured on address values for the same reason.
inline int32_t run_length(const double *table, const double *last) {
  const auto span = static_cast<std::ptrdiff_t>(reinterpret_cast<uintptr_t>(last) -
                                                reinterpret_cast<uintptr_t>(table));
  return static_cast<int32_t>(span / static_cast<std::ptrdiff_t>(sizeof(double)) + 1);
}

}  // namespace volaccess

#endif
