// Resampling a source image onto the grid of a reference image, through
// a chain of transforms, volume by volume for a series, in tiles shared
// among threads (tiled_reslice.h).
#ifndef VOLACCESS_ENGINE_RESLICING_H
#define VOLACCESS_ENGINE_RESLICING_H

#include <cstdint>
#include <functional>
#include <string>

#include "integer_scaling.h"
#include "matrix.h"
#include "nifti_header.h"
#include "nifti_image.h"
#include "transform_chain.h"

namespace vaeng {

struct ResliceOptions {
  int32_t hold = 1;  // a hold code of the volume library, or kLabelHold
  double background = 0;
  // The output's datatype by name, or "source" for the source's own.
  // Integer outputs get a scale and offset that store the background
  // exactly (the source's own when they do).
  std::string datatype = "float32";
  int64_t volume = 0;     // one volume (from 1), or 0 for every volume of a series
  bool clip = false;      // clamp each value to the voxels its kernel touched
  std::string mask_path;  // an image on the reference grid, or empty
  // Told of each plane done, in each pass over the output ("measuring",
  // "writing"): its label, planes done and planes in all; none for silence.
  std::function<void(const char *pass, int64_t done, int64_t total)> progress;
  int threads = 1;
};

// Why `datatype` names no output datatype ("'x' is none of int8, ...,
// source"), or an empty text when it names one.
std::string output_datatype_problem(const std::string &datatype);

// The transform from reference voxel (i, j, k) to source voxel, both
// 1-based, for a chain of affine steps: inverse(source matrix) * chain *
// reference matrix.
Mat4 reference_to_source(const Mat4 &source_matrix, const Mat4 &reference_matrix, const Mat4 &chain,
                         const std::string &source_name);

// Resamples `source` onto the grid of `reference` through `chain` and
// writes the result, with the reference's geometry, to `out_path` (.nii or
// .nii.gz). A source series becomes an output series unless
// options.volume picks one volume. It installs no signal handler: the
// program holds a FaultGuard around it, for files that shrink meanwhile.
// Returns what storing changed, for the caller to tell.
StoringCounts reslice(const NiftiImage &source, const NiftiHeader &reference, const TransformChain &chain,
                      const ResliceOptions &options, const std::string &out_path);

// The output's description: what was done, cut to the 79 characters a
// NIfTI header holds.
std::string reslice_description(const TransformChain &chain, const ResliceOptions &options);

}  // namespace vaeng

#endif
