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

}  // namespace vaeng

#endif
