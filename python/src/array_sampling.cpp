// volaccess.sample_array: a 3-D numpy array sampled in place, described to
// the library as the record get_maps would build for voxels in memory,
// except that either byte order is kept as stored.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "call_arguments.h"
#include "exceptions.h"
#include "kernels.h"
#include "module_parts.h"
#include "point_sampling.h"

namespace py = pybind11;

namespace vapy {

namespace {

// The library's type code of a numpy dtype, swapped ones included; 0
// when the library has no kernels for it.
int32_t type_code(const py::dtype &type) {
  const char order = type.byteorder();
  const bool swapped = order != '=' && order != '|' && order != kNativeOrder;
  return vaeng::library_type_code(text_of(type.attr("name")), swapped).value_or(0);
}

// A record borrowing the array's voxels plane by plane.
struct ArrayVolume {
  VolumeMap map{};
  std::vector<void *> planes;
  std::vector<double> scale, offset;
};

void describe(const py::array &a, int32_t code, double scale, double offset, ArrayVolume *v) {
  for (int d = 0; d < 3; ++d) v->map.dim[d] = static_cast<uint64_t>(a.shape(d));
  const auto planes = static_cast<std::size_t>(a.shape(2));
  const std::size_t plane_bytes = static_cast<std::size_t>(a.shape(0) * a.shape(1)) * a.itemsize();
  v->planes.resize(planes);
  v->scale.assign(planes, scale);
  v->offset.assign(planes, offset);
  auto *base = static_cast<char *>(const_cast<void *>(a.data()));
  for (std::size_t k = 0; k < planes; ++k) v->planes[k] = base + k * plane_bytes;
  v->map.dtype = code;
  v->map.data = v->planes.data();
  v->map.scale = v->scale.data();
  v->map.offset = v->offset.data();
  for (int i = 0; i < 4; ++i) v->map.mat[5 * i] = 1;
}

py::array checked_volume(py::handle array, int32_t *code) {
  py::array a = py::array::ensure(array);
  if (!a) value_error("array", "not a numpy array of numbers");
  *code = type_code(a.dtype());
  if (*code == 0)
    value_error("array", "dtype " + text_of(a.dtype()) +
                             " has no kernels: use (u)int8/16/32/64, float32 or float64, in either byte order");
  if (a.ndim() != 3)
    value_error("array", "expected a 3-D array (x, y, z), got " + std::to_string(a.ndim()) +
                             " dimensions; add an axis for one plane, index the fourth for one volume");
  for (int d = 0; d < 3; ++d)
    if (a.shape(d) < 1 || a.shape(d) > INT32_MAX)
      value_error("array", "each dimension must hold 1 to " + std::to_string(INT32_MAX) + " voxels");
  // The library walks planes with x fastest: numpy's Fortran order.
  if (!(a.flags() & py::array::f_style)) a = py::module_::import("numpy").attr("asfortranarray")(a);
  return a;
}

py::object sample_array(py::handle array, py::handle points, py::handle hold, py::handle background_given,
                        py::handle scale_given, py::handle offset_given, py::handle gradient_given,
                        py::handle threads_given) {
  const char *f = "sample_array";
  const double background = number_argument(f, "background", background_given);
  const double scale = number_argument(f, "scale", scale_given);
  const double offset = number_argument(f, "offset", offset_given);
  const bool gradient = flag_argument(f, "gradient", gradient_given);
  const std::optional<int> threads = threads_argument(f, threads_given);
  if (is_label_hold(hold)) value_error("", "hold='label' is not available in sample_array; use Volume.sample");
  int32_t code = 0;
  const py::array volume = checked_volume(array, &code);
  SampleSettings s;
  s.frame = Frame::Voxel0;
  s.hold = checked_hold(hold);
  s.background = background;
  s.gradient = gradient;
  s.threads = checked_threads(threads);
  const PointArray p = point_array(points);
  ArrayVolume v;
  describe(volume, code, scale, offset, &v);
  const VolumeMap *map = &v.map;
  return sample_maps({&map, 1, false}, "array", p, s);
}

}  // namespace

void bind_array_sampling(py::module_ &m) {
  m.def("sample_array", &sample_array, py::arg("array"), py::arg("points"), py::kw_only(), py::arg("hold") = 1,
        py::arg("background") = 0.0, py::arg("scale") = 1.0, py::arg("offset") = 0.0, py::arg("gradient") = false,
        py::arg("threads") = py::none(),
        R"(Values of a 3-D numpy array at 0-based voxel coordinates.

Parameters
----------
array : ndarray, shape (x, y, z)
    Indexed array[x, y, z]; int8, uint8, int16, uint16, int32, uint32,
    int64, uint64, float32 or float64 in either byte order (a big-endian
    array is read by the byte-swapped kernels, never converted). A
    Fortran-ordered array (x fastest, as nibabel gives) is read in place;
    a C-ordered or strided one is first copied once into Fortran order.
points : array_like, shape (N, 3)
    0-based voxel coordinates; exactly 1.0 is added to each before the
    library (whose voxels count from 1) is called.
hold, background, gradient, threads
    As for Volume.sample (hold="label" is a ValueError).
scale, offset : float
    Real value = scale * stored + offset.

Returns
-------
values : ndarray of float64, shape (N,)
gradients : ndarray of float64, shape (N, 3)
    With gradient=True only, returned as ``(values, gradients)``: the
    derivatives along x, y, z.

Raises
------
ValueError
    For an array or points of the wrong shape or dtype, or a bad hold,
    each naming the argument.

Examples
--------
>>> import numpy as np, volaccess
>>> ramp = np.arange(24, dtype=np.int16).reshape((2, 3, 4), order="F")
>>> volaccess.sample_array(ramp, [[0.5, 1, 2], [5, 0, 0]], background=-1.0)
array([14.5, -1. ])
>>> volaccess.sample_array(ramp, [[0.5, 1, 2]], scale=0.5, offset=10.0, gradient=True)
(array([17.25]), array([[0.5, 1. , 3. ]])))");
}

}  // namespace vapy
