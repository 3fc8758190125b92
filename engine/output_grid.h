// Output grids made from the source itself, for a reslice without a
// reference image: new voxel sizes on the source's orientation, centred
// on its field of view.
#ifndef VOLACCESS_ENGINE_OUTPUT_GRID_H
#define VOLACCESS_ENGINE_OUTPUT_GRID_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "nifti_header.h"

namespace vaeng {

// The header of a grid whose axes point where the source's do, with
// voxels of `voxel_size` millimetres and `shape` voxels (by default as
// many as cover the source's field of view, rounded up), its centre at the
// centre of the source's field of view. The geometry is written as an
// sform and a qform with the source's code (2, aligned, when the source
// has none); for NIfTI-1 its matrix is the one the header's float fields
// hold. `name` names the source in errors, `size_argument` the voxel
// sizes as the front door calls them.
NiftiHeader grid_from_source(const NiftiHeader &source, const std::string &name, const Vec3 &voxel_size,
                             const std::optional<std::array<int64_t, 3>> &shape, const std::string &size_argument);

}  // namespace vaeng

#endif
