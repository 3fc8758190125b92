// Transforms written by registration programs, read from their files:
// ITK transform text files, the MATLAB level-4 .mat files that ITK and
// ANTs write, displacement fields (NIfTI vector images), FLIRT matrices,
// and plain 4x4 world matrices.
//
// Every transform here maps points of the output (fixed, reference) space
// to points of the source (moving) space, as registration programs define
// them. ITK and ANTs work in LPS physical coordinates (x to the left, y to
// the back); NIfTI's world is RAS. Matrices leave this file in RAS, so the
// conversion happens here and nowhere else.
#ifndef VOLACCESS_FORMATS_TRANSFORMS_H
#define VOLACCESS_FORMATS_TRANSFORMS_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "mat4.h"
#include "matrix.h"
#include "nifti_header.h"
#include "unique_fd.h"

namespace vaeng {

// One transform read from a file.
struct FileTransform {
  enum class Kind { Affine, Field };
  Kind kind = Kind::Affine;
  // Affine: output world point (RAS) to source world point (RAS).
  Mat4 ras = identity4();
  // Field: the image holding the displacements, opened by the caller.
  std::string field_path;
  // The unnamed file field_path names, for a field held inside a file.
  std::shared_ptr<UniqueFd> field_file;
  std::string name;  // the file (and the entry within it) for messages
};

// The transforms of a file, recognised by its content: an ITK text file
// or a .mat file (each may hold several transforms; they are returned in
// file order, and the last is applied first, like a list of --transform
// options), or a NIfTI displacement field. Anything else is a Error
// naming the file.
std::vector<FileTransform> read_transform_file(const std::string &path);

// The affine map, in LPS, of an ITK transform given by its type name
// ("AffineTransform_double_3_3", ...), parameters and fixed parameters
// (the centre). `where` names the entry in errors.
Mat4 itk_transform_lps(const std::string &type, const std::vector<double> &parameters, const std::vector<double> &fixed,
                       const std::string &where);

// The same map with points in RAS: F * lps * F with F = diag(-1, -1, 1, 1).
Mat4 lps_to_ras(const Mat4 &lps);

// Reads a 4x4 matrix: four lines of four numbers (blanks or commas between
// them, "#" comments and blank lines skipped), the last line 0 0 0 1.
// `option` names what asked for it ("--affine"), for the error that a
// transform file of another kind (ITK, .mat, NIfTI) is.
Mat4 read_matrix_file(const std::string &path, const std::string &option = "a matrix file");

// A FLIRT matrix (source scaled-voxel coordinates to reference
// scaled-voxel coordinates) as a map from output world points to source
// world points (RAS). FLIRT's coordinates are 0-based voxel indices times
// the voxel sizes, with x mirrored (i -> nx - 1 - i) in an image whose
// voxel-to-world matrix has a positive determinant.
Mat4 flirt_to_world(const Mat4 &flirt, const NiftiHeader &source, const NiftiHeader &reference,
                    const std::string &name);

// The matrix from 0-based voxel indices to FLIRT's scaled-voxel
// coordinates for an image with this header.
Mat4 flirt_scaled_voxels(const NiftiHeader &header);

}  // namespace vaeng

#endif
