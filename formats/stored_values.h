// Real values turned into stored voxels of an output image: integers are
// rounded to nearest (halves away from zero) and clamped to their type's
// range, values that are not numbers become 0; floats are converted.
#ifndef VOLACCESS_FORMATS_STORED_VALUES_H
#define VOLACCESS_FORMATS_STORED_VALUES_H

#include <cstddef>
#include <vector>

#include "nifti_header.h"

namespace vaeng {

// Appends n values, each (v - offset) / scale stored as `type`, in this
// machine's byte order, to `bytes`.
void append_stored(const double *values, std::size_t n, const NiftiDatatype &type, double scale, double offset,
                   std::vector<unsigned char> *bytes);

// The smallest and largest real value among stored voxels, not-a-number
// left out; empty until a number is seen.
struct StoredRange {
  bool empty = true;
  double low = 0;
  double high = 0;
};

// Widens `range` by the n voxels of `type` at `bytes` (this machine's
// byte order), read back as scale * stored + offset.
void add_stored_range(const unsigned char *bytes, std::size_t n, const NiftiDatatype &type, double scale, double offset,
                      StoredRange *range);

// One value stored as the integer type T; exposed for tests.
template <class T>
T round_and_clamp(double v);

}  // namespace vaeng

#endif
