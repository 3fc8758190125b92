#include "point_sampling.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <initializer_list>

#include "exceptions.h"
#include "kernels.h"
#include "thread_count.h"
#include "workers.h"

namespace py = pybind11;

namespace vapy {

namespace {

// Points go to the library in blocks converted on the stack, so that a
// call of a few points allocates nothing but its result.
constexpr py::ssize_t kBlock = 512;
// Below this many points per thread, starting a thread costs more than it saves.
constexpr py::ssize_t kPointsPerThread = 32768;
// Below this many points, releasing and taking back the GIL costs more
// than the sampling it would let run beside other Python threads.
constexpr py::ssize_t kPointsToReleaseGil = 64;

// Where the results of volume t go: its column of values and of each
// derivative, all of length N.
struct Outputs {
  double *value = nullptr;
  double *gradient = nullptr;  // dx of every volume, then dy, then dz
  py::ssize_t count = 0;
  std::size_t volumes = 0;

  double *values_of(std::size_t t, py::ssize_t first) const { return value + t * count + first; }
  double *derivative(int axis, std::size_t t, py::ssize_t first) const {
    return gradient + (axis * volumes + t) * count + first;
  }
};

double coordinate(const PointArray &p, py::ssize_t i, int axis) {
  double v;
  std::memcpy(&v, p.base + i * p.row_stride + axis * p.column_stride, sizeof v);
  return v;
}

void convert_block(const PointArray &p, py::ssize_t first, py::ssize_t n, const SampleSettings &s, double *x, double *y,
                   double *z) {
  for (py::ssize_t i = 0; i < n; ++i) {
    const vaeng::Vec3 q{coordinate(p, first + i, 0), coordinate(p, first + i, 1), coordinate(p, first + i, 2)};
    switch (s.frame) {
      case Frame::Voxel1: x[i] = q[0], y[i] = q[1], z[i] = q[2]; break;
      case Frame::Voxel0: x[i] = q[0] + 1.0, y[i] = q[1] + 1.0, z[i] = q[2] + 1.0; break;
      case Frame::World: {
        const vaeng::Vec3 v = vaeng::apply_point(s.world_to_voxel, q);
        x[i] = v[0], y[i] = v[1], z[i] = v[2];
        break;
      }
    }
  }
}

// Points [begin, end) in blocks, each converted once for every volume;
// returns the library's status.
int32_t sample_range(const VolumeList &v, const PointArray &p, const SampleSettings &s, const Outputs &out,
                     py::ssize_t begin, py::ssize_t end) {
  double x[kBlock], y[kBlock], z[kBlock];
  for (py::ssize_t first = begin; first < end; first += kBlock) {
    const py::ssize_t n = std::min(kBlock, end - first);
    convert_block(p, first, n, s, x, y, z);
    for (std::size_t t = 0; t < v.count; ++t) {
      double *values = out.values_of(t, first);
      if (!s.labels.empty()) {
        s.labels[t]->labels_at(static_cast<int32_t>(n), x, y, z, s.background, values);
        continue;
      }
      const auto m = static_cast<int32_t>(n);
      const int32_t status =
          s.gradient ? resample_d(m, v.maps[t], values, out.derivative(0, t, first), out.derivative(1, t, first),
                                  out.derivative(2, t, first), x, y, z, s.hold, s.background)
                     : resample(m, v.maps[t], values, x, y, z, s.hold, s.background);
      if (status != 0) return status;
    }
  }
  return 0;
}

int32_t sample_all(const VolumeList &v, const PointArray &p, const SampleSettings &s, const Outputs &out) {
  const py::ssize_t shares = std::max<py::ssize_t>(1, p.count / kPointsPerThread);
  if (shares == 1) return sample_range(v, p, s, out, 0, p.count);
  const int chosen = chosen_threads(s.threads);
  const vaeng::Workers workers(static_cast<int>(std::min<py::ssize_t>(chosen, shares)));
  std::atomic<int32_t> status{0};
  workers.for_each(p.count, kPointsPerThread, [&](int64_t begin, int64_t end) {
    const int32_t st = sample_range(v, p, s, out, begin, end);
    if (st != 0) status = st;
  });
  return status;
}

using Columns = py::array_t<double, py::array::f_style>;

// A new float64 array in Fortran order, made by numpy's own constructor
// with the shape on the stack: the general one allocates for each call,
// which a call of a few points notices.
Columns new_columns(std::initializer_list<py::ssize_t> shape) {
  const auto &api = py::detail::npy_api::get();
  Py_intptr_t dims[3] = {};
  std::copy(shape.begin(), shape.end(), dims);
  PyObject *type = api.PyArray_DescrFromType_(py::detail::npy_api::NPY_DOUBLE_);
  if (!type) throw py::error_already_set();
  PyObject *a = api.PyArray_NewFromDescr_(api.PyArray_Type_, type, static_cast<int>(shape.size()), dims, nullptr,
                                          nullptr, py::detail::npy_api::NPY_ARRAY_F_CONTIGUOUS_, nullptr);
  if (!a) throw py::error_already_set();
  return py::reinterpret_steal<Columns>(a);
}

bool is_real_kind(char kind) { return kind == 'f' || kind == 'i' || kind == 'u'; }

std::string shape_text(const py::array &a) {
  std::string text = "(";
  for (py::ssize_t d = 0; d < a.ndim(); ++d) text += (d ? ", " : "") + std::to_string(a.shape(d));
  return text + (a.ndim() == 1 ? ",)" : ")");
}

}  // namespace

Frame frame_named(const std::string &space) {
  if (space == "world") return Frame::World;
  if (space == "voxel") return Frame::Voxel0;
  if (space == "voxel1") return Frame::Voxel1;
  value_error("space", "'" + space + "' is none of world, voxel, voxel1");
}

PointArray point_array(py::handle points) {
  py::array a = py::array::ensure(points);
  if (!a) value_error("points", "not an array of numbers");
  const py::dtype type = a.dtype();
  if (!is_real_kind(type.kind())) value_error("points", "dtype " + text_of(type) + " is not a real number type");
  if (!type.is(py::dtype::of<double>())) a = a.attr("astype")(py::dtype::of<double>());
  if (a.ndim() != 2 || a.shape(1) != 3) value_error("points", "expected an (N, 3) array, got shape " + shape_text(a));
  PointArray p;
  p.base = static_cast<const char *>(a.data());
  p.count = a.shape(0);
  p.row_stride = a.strides(0);
  p.column_stride = a.strides(1);
  p.keep = std::move(a);
  return p;
}

int32_t checked_hold(py::handle hold) {
  if (py::isinstance<py::str>(hold)) {
    const std::string name = hold.cast<std::string>();
    if (const std::optional<int32_t> code = vaeng::hold_by_name(name)) return *code;
    value_error("", "hold='" + name + "' is none of nearest, linear, cubic, sinc, label, or a whole number");
  }
  if (!py::isinstance<py::int_>(hold)) value_error("", "hold=" + text_of(py::repr(hold)) + " is not a whole number");
  int overflow = 0;
  const long long code = PyLong_AsLongLongAndOverflow(hold.ptr(), &overflow);
  const std::string problem = vaeng::hold_range_problem(overflow > 0 ? INT64_MAX : overflow < 0 ? INT64_MIN : code);
  if (!problem.empty()) value_error("", "hold=" + text_of(hold) + " is out of range: " + problem);
  return static_cast<int32_t>(code);
}

bool is_label_hold(py::handle hold) { return py::isinstance<py::str>(hold) && hold.cast<std::string>() == "label"; }

int checked_threads(std::optional<int> threads) {
  if (!threads) return 0;
  if (*threads < 1 || *threads > vaeng::kMaxThreads)
    value_error("", "threads=" + std::to_string(*threads) + " must be 1 to " + std::to_string(vaeng::kMaxThreads));
  return *threads;
}

int chosen_threads(int threads) { return threads ? threads : vaeng::thread_count(std::nullopt); }

py::object sample_maps(const VolumeList &volumes, const std::string &name, const PointArray &points,
                       const SampleSettings &settings) {
  const py::ssize_t n = points.count;
  const auto t = static_cast<py::ssize_t>(volumes.count);
  Columns values = volumes.series ? new_columns({n, t}) : new_columns({n});
  Outputs out;
  out.value = values.mutable_data();
  out.count = n;
  out.volumes = volumes.count;
  py::object gradients;  // an object: an empty array would be made for nothing
  if (settings.gradient) {
    Columns made = volumes.series ? new_columns({n, t, 3}) : new_columns({n, 3});
    out.gradient = made.mutable_data();
    gradients = std::move(made);
  }
  int32_t status;
  if (n * t < kPointsToReleaseGil) {
    status = sample_all(volumes, points, settings, out);
  } else {
    py::gil_scoped_release release;
    status = sample_all(volumes, points, settings, out);
  }
  if (status != 0) value_error(name, "the volume library does not know its datatype");
  if (settings.gradient) return py::make_tuple(values, gradients);
  return std::move(values);
}

}  // namespace vapy
