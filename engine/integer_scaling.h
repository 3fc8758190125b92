// The scale and offset of an integer output image: every value of the
// output's range fits the type, and the background is stored exactly, so
// that a reader finds exactly the background wherever the source was not.
#ifndef VOLACCESS_ENGINE_INTEGER_SCALING_H
#define VOLACCESS_ENGINE_INTEGER_SCALING_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "nifti_header.h"

namespace vaeng {

// real value = scale * stored + offset
struct StoredScaling {
  double scale = 1;
  double offset = 0;
};

// The finite values an output holds, the background among them.
struct ValueRange {
  double low = 0;
  double high = 0;
};

// Whether `scaling` stores `range` within `type` (after rounding to the
// nearest integer) and reads `background` back exactly, the reader's way:
// scale * stored + offset in doubles.
bool represents(const StoredScaling &scaling, const NiftiDatatype &type, const ValueRange &range, double background);

// How a front door names, in messages, the output and what its user can
// change: the background and the choice of a float output.
struct ScalingWords {
  std::string output;        // "out.nii"
  std::string background;    // "--background"
  std::string float_output;  // "--datatype float32"
};

// Integers have no NaN nor infinity: a background that is not finite is
// a Error naming the output.
void check_background_storable(const NiftiDatatype &type, double background, const ScalingWords &words);

// The scaling for an integer `type`: `preferred` (an integer source's own,
// so that labels stay labels) when it represents everything, else one that
// spreads the range over the type's integers. With
// `float_fields` (NIfTI-1) scale and offset are floats. A background that
// no scaling can store exactly is a Error naming the output.
StoredScaling choose_integer_scaling(const NiftiDatatype &type, const ValueRange &range, double background,
                                     const std::optional<StoredScaling> &preferred, bool float_fields,
                                     const ScalingWords &words);

// Whether values of `type` are integers.
bool is_integer_type(const NiftiDatatype &type);

// Whether finite `v` is stored within `type` and read back exactly.
bool stores_exactly(const StoredScaling &scaling, const NiftiDatatype &type, double v);

// Labels are stored as they are or not at all: a scaling that spread
// them over the type's integers would invent labels. Fails, naming
// `source`, when the range of the labels, or a label found to read back
// otherwise (`inexact`), cannot be stored in `type` with `scaling`.
void check_labels_storable(const NiftiDatatype &type, const StoredScaling &scaling, const ValueRange &range,
                           const std::optional<double> &inexact, const std::string &source);

// What storing an output changed: voxels that were not a number, stored
// as the background in an integer type (which has no NaN, and whose 0
// would read back as the offset), and finite values beyond the range of
// float32, which it stores as infinities.
struct StoringCounts {
  uint64_t not_a_number = 0;
  uint64_t beyond_float32 = 0;
};

// Readies n values for storing as `type`: in an integer type NaN becomes
// `background`; both kinds of change are added to `counts`.
void prepare_for_storing(double *values, std::size_t n, const NiftiDatatype &type, double background,
                         StoringCounts *counts);

}  // namespace vaeng

#endif
