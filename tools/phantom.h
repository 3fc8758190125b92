// A synthetic head-like phantom for the demonstration: overlapping
// ellipsoids in world millimetres, sampled on an oblique grid.
#ifndef VOLACCESS_TOOLS_PHANTOM_H
#define VOLACCESS_TOOLS_PHANTOM_H

#include <vector>

#include "matrix.h"
#include "nifti_writer.h"

namespace vacli {

using namespace vaeng;  // the engine's and the formats' names

struct Phantom {
  NiftiLayout layout;          // int16 voxels, scaled, with an oblique sform
  std::vector<double> values;  // real values, x fastest, then y, then z
};

Phantom make_phantom();

// The value of the phantom at a world point (millimetres).
double phantom_value(const Vec3 &world);

// A world-space rotation by `z_degrees` about the z axis and then by
// `y_degrees` about the y axis, around the world origin.
Mat4 rotation_zy(double z_degrees, double y_degrees);

}  // namespace vacli

#endif
