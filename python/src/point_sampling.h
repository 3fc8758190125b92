// Sampling a mapped volume at points given from Python: the checks of the
// arguments every sampling function shares, and one run of the library
// over the points with the GIL released.
#ifndef VOLACCESS_PYTHON_POINT_SAMPLING_H
#define VOLACCESS_PYTHON_POINT_SAMPLING_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "matrix.h"
#include "source_grid.h"
#include "volaccess.h"

namespace vapy {

// How the three numbers of a point are meant: the library's own 1-based
// voxel coordinates, numpy's 0-based indices (1.0 is added, exactly), or
// world coordinates (through the inverse of the volume's matrix).
enum class Frame { Voxel1, Voxel0, World };
Frame frame_named(const std::string &space);

// An (N, 3) array of float64 points in any order and with any strides;
// other real dtypes are converted once, everything else is a ValueError.
struct PointArray {
  pybind11::object keep;  // an object, since an empty array is made, not null
  const char *base = nullptr;
  pybind11::ssize_t count = 0;
  pybind11::ssize_t row_stride = 0;
  pybind11::ssize_t column_stride = 0;
};
PointArray point_array(pybind11::handle points);

// A hold code as the program takes it: a whole number in range or the
// name of a kernel (nearest, linear, cubic, sinc); ValueError otherwise.
int32_t checked_hold(pybind11::handle hold);
// Whether hold is the name "label": the largest summed trilinear weight
// among the eight neighbours, computed beside the library, which never
// sees that code.
bool is_label_hold(pybind11::handle hold);
// A thread count of 1 to the program's limit, or 0 for none given.
int checked_threads(std::optional<int> threads);
// The threads to run: those given, else the program's default
// (VOLACCESS_NUM_THREADS when set, else every CPU this process may use),
// asked for only when a call is large enough to share.
int chosen_threads(int threads);

struct SampleSettings {
  Frame frame = Frame::World;
  vaeng::Mat4 world_to_voxel{};  // used for Frame::World
  int32_t hold = 1;
  double background = 0;
  bool gradient = false;
  int threads = 0;  // 0: every CPU this process may use
  // Set for hold="label", one grid per volume: values come from the
  // grids' label rule, not from the library's kernel of `hold`.
  std::vector<const vaeng::SourceGrid *> labels;
};

// The volumes sampled by one call: one, or every volume of a series, each
// giving a column of the result.
struct VolumeList {
  const VolumeMap *const *maps = nullptr;
  std::size_t count = 0;
  bool series = false;
};

// The values at every point, an (N,) float64 array, or with gradient the
// tuple (values, (N, 3) derivatives along the voxel axes); for a series
// (N, T) values and (N, T, 3) derivatives. `name` names the volumes in
// errors. The caller keeps the maps alive and unchanged. The GIL is
// released unless the call is too small to gain from it.
pybind11::object sample_maps(const VolumeList &volumes, const std::string &name, const PointArray &points,
                             const SampleSettings &settings);

}  // namespace vapy

#endif
