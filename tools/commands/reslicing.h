// Resampling a source volume onto the grid of a reference image, in
// tiles shared among threads (tiled_reslice.h).
#ifndef VOLACCESS_TOOLS_RESLICING_H
#define VOLACCESS_TOOLS_RESLICING_H

#include <cstdint>
#include <string>

#include "matrix.h"
#include "nifti_header.h"
#include "volume_description.h"

namespace vacli {

struct ResliceOptions {
  int32_t hold = 1;
  double background = 0;
  // A world-space transform applied to the source before resampling: the
  // output at world point w shows the source at inverse(affine) * w.
  Mat4 affine = identity4();
  std::string affine_name;  // names the affine in errors
  // The output's datatype by name, or "source" for the source's own.
  // Integer outputs get a scale and offset that store the background
  // exactly (the source's own when they do).
  std::string datatype = "float32";
  bool progress = false;
  int threads = 1;
};

// Why `datatype` names no output datatype ("'x' is none of int8, ...,
// source"), or an empty text when it names one.
std::string output_datatype_problem(const std::string &datatype);

// The transform from reference voxel (i, j, k) to source voxel, both
// 1-based: inverse(source matrix) * inverse(affine) * reference matrix.
Mat4 reference_to_source(const Mat4 &source_matrix, const Mat4 &reference_matrix, const ResliceOptions &options,
                         const std::string &source_name);

// Resamples `source` onto the grid of `reference` and writes the result,
// with the reference's geometry, to `out_path` (.nii or .nii.gz).
void reslice(const VolumeMapping &source, const NiftiHeader &source_header, const NiftiHeader &reference,
             const ResliceOptions &options, const std::string &out_path);

// Reads a 4x4 world-space affine: four lines of four numbers (blanks or
// commas between them, "#" comments and blank lines skipped), the last
// line 0 0 0 1.
Mat4 read_affine_file(const std::string &path);

}  // namespace vacli

#endif
