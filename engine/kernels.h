// The kernels by name and the label rule's code: what every front door
// accepts as a hold, checked the way the volume library reads it
// (hold_codes.h says why each limit is where it is).
#ifndef VOLACCESS_ENGINE_KERNELS_H
#define VOLACCESS_ENGINE_KERNELS_H

#include <cstdint>
#include <optional>
#include <string>

#include "hold_codes.h"

namespace vaeng {

using volaccess::kMaxLagrangeHold;
using volaccess::kMinSincHold;

// The hold code that asks for labels, computed by the engine (the label
// rule of source_grid.h); the volume library never sees it.
constexpr int32_t kLabelHold = -100000;

// The code of a kernel of the volume library known by name (nearest,
// linear, cubic, sinc); "label" is none of them.
std::optional<int32_t> hold_by_name(const std::string &name);

// Why a hold code is out of range ("Lagrange interpolation takes 2 to
// 170 ..."), or an empty text when the kernels accept it.
std::string hold_range_problem(int64_t hold);

// How far a kernel reads from floor(c - 1) along an axis, in voxels
// either way, for a 1-based coordinate c: nearest, trilinear and the
// label rule read floor(c - 1) and the next voxel; a kernel of q nodes
// reaches q / 2 beyond its centre, which is floor(c - 1) or the next.
int64_t read_reach(int32_t hold);

// The volume library's type code for voxels stored as `element` (the
// names of voxel_types.def, which are numpy's: "uint8", ..., "float64"),
// the swapped twin's when the bytes are in the other order; none when the
// library has no kernels for the element.
std::optional<int32_t> library_type_code(const std::string &element, bool swapped);

}  // namespace vaeng

#endif
