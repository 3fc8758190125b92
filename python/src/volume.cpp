#include "volume.h"

#include <algorithm>

#include "exceptions.h"
#include "module_parts.h"
#include "point_sampling.h"
#include "slicing.h"
#include "workers.h"

namespace py = pybind11;

namespace vapy {

namespace {

py::array_t<double> rows_of(const vaeng::Mat4 &m) {
  py::array_t<double> a({4, 4});
  auto r = a.mutable_unchecked<2>();
  for (int row = 0; row < 4; ++row)
    for (int col = 0; col < 4; ++col) r(row, col) = vaeng::at(m, row, col);
  return a;
}

py::dtype numpy_dtype(const vaeng::NiftiHeader &h) {
  static const std::pair<int, const char *> kinds[] = {{2, "u1"},  {256, "i1"}, {4, "i2"},    {512, "u2"},
                                                       {8, "i4"},  {768, "u4"}, {1024, "i8"}, {1280, "u8"},
                                                       {16, "f4"}, {64, "f8"}};
  for (const auto &k : kinds)
    if (k.first == h.datatype->code) {
      const bool little = (kNativeOrder == '<') != h.swapped;
      return py::dtype(std::string(h.datatype->bytes == 1 ? "|" : little ? "<" : ">") + k.second);
    }
  value_error("", std::string("no numpy dtype for datatype ") + h.datatype->name);
}

// Volume indices from Python count from 0, as numpy indexes the fourth axis.
int64_t volume_number(const vaeng::NiftiImage &image, std::optional<int64_t> volume) {
  const int64_t count = image.header().volumes;
  if (!volume) {
    if (count > 1)
      value_error(image.name(), "holds " + std::to_string(count) + " volumes; choose one with volume=0 to " +
                                    std::to_string(count - 1));
    return 1;
  }
  if (*volume < 0 || *volume >= count)
    value_error(image.name(), "volume=" + std::to_string(*volume) + " does not exist: the image holds " +
                                  std::to_string(count) + (count == 1 ? " volume" : " volumes") +
                                  " (volume= counts from 0)");
  return *volume + 1;
}

}  // namespace

vaeng::Mat4 matrix_from_rows(py::handle matrix, const std::string &what) {
  py::array a = py::array::ensure(matrix);
  const char kind = a ? a.dtype().kind() : 'O';
  if (kind != 'f' && kind != 'i' && kind != 'u') value_error(what, "not an array of real numbers");
  const py::array_t<double, py::array::c_style | py::array::forcecast> m(a);
  if (m.ndim() != 2 || m.shape(0) != 4 || m.shape(1) != 4) value_error(what, "expected a 4x4 array");
  std::array<double, 16> rows{};
  std::copy(m.data(), m.data() + 16, rows.begin());
  return vaeng::from_rows(rows);
}

void OpenVolume::check_file() const {
  if (image.size_sealed()) return;
  const VolumeMap &map = mapping.map();
  if (!vaeng::file_covers_mapping(image.data_fd(), map, image.data_name()))
    os_error(image.data_name(), "the file is now shorter than when it was loaded (" + std::to_string(map.map_len) +
                                    " bytes mapped); load it again");
}

Volume::Volume(vaeng::NiftiImage image, std::optional<int64_t> volume, std::string path) : path_(std::move(path)) {
  const int64_t number = volume_number(image, volume);
  open_ = std::make_shared<OpenVolume>(std::move(image), number);
  const vaeng::NiftiHeader &h = open_->image.header();
  shape_ = py::make_tuple(h.dim[0], h.dim[1], h.dim[2]);
  dtype_ = numpy_dtype(h);
  affine_ = rows_of(h.voxel_to_world);
  has_world_ = vaeng::invert(open_->mapping.voxel_to_world(), &world_to_voxel_);
}

Volume Volume::open(const std::string &path, std::optional<int64_t> volume) {
  return Volume(vaeng::NiftiImage::open(path), volume, path);
}

Volume Volume::from_bytes(const py::bytes &bytes, const std::string &name, std::optional<int64_t> volume) {
  const std::string_view view = bytes;
  return Volume(vaeng::NiftiImage::from_bytes(view.data(), view.size(), name), volume, "");
}

py::object Volume::sample(py::handle points, const std::string &space, py::handle hold, double background,
                          bool gradient, std::optional<int> threads) const {
  const std::shared_ptr<OpenVolume> held = checked_open();
  const bool labels = is_label_hold(hold);
  if (labels && gradient) value_error("", "hold='label' has no gradient: labels are not interpolated");
  SampleSettings s;
  s.frame = frame_named(space);
  s.hold = labels ? 1 : checked_hold(hold);
  s.background = background;
  s.gradient = gradient;
  s.threads = checked_threads(threads);
  if (s.frame == Frame::World) s.world_to_voxel = world_to_voxel();
  const PointArray p = point_array(points);
  held->check_file();
  if (!labels) return sample_map(held->mapping.map(), held->mapping.name(), p, s);
  // The label rule reads the voxels in place, as the program's sample does.
  const vaeng::SourceGrid grid(held->mapping);
  s.labels = &grid;
  return sample_map(held->mapping.map(), held->mapping.name(), p, s);
}

py::array Volume::slice(py::handle matrix, std::pair<int64_t, int64_t> shape, py::handle hold, double background,
                        std::optional<int> threads) const {
  const std::shared_ptr<OpenVolume> held = checked_open();
  const vaeng::Mat4 transform = matrix_from_rows(matrix, "matrix");
  if (is_label_hold(hold)) value_error("", "hold='label' is not available in slice; use sample or reslice");
  const int32_t h = checked_hold(hold);
  const int given_threads = checked_threads(threads);
  for (const int64_t side : {shape.first, shape.second})
    if (side < 1 || side > INT32_MAX)
      value_error("shape", "each side must be 1 to " + std::to_string(INT32_MAX) + ", got " + std::to_string(side));
  py::array_t<double, py::array::f_style> image({shape.first, shape.second});
  double *pixels = image.mutable_data();
  std::fill(pixels, pixels + image.size(), background);
  held->check_file();
  {
    py::gil_scoped_release release;
    const vaeng::Workers workers(chosen_threads(given_threads));
    vaeng::cut_slice_into(held->mapping, transform, static_cast<int32_t>(shape.first),
                          static_cast<int32_t>(shape.second), h, background, pixels, workers);
  }
  return std::move(image);
}

std::shared_ptr<OpenVolume> Volume::checked_open() const {
  if (!open_) value_error(path_.empty() ? "volume" : path_, "the volume is closed");
  return open_;
}

py::array Volume::affine() const { return affine_.attr("copy")(); }

py::object Volume::path() const { return path_.empty() ? py::object(py::none()) : py::str(path_); }

std::string Volume::repr() const {
  const std::string where = path_.empty() ? "in memory" : "'" + path_ + "'";
  return "<volaccess.Volume " + where + " " + text_of(shape_) + " " + text_of(dtype_) + (closed() ? " closed>" : ">");
}

const vaeng::Mat4 &Volume::world_to_voxel() const {
  if (!has_world_)
    value_error(open_->mapping.name(), "its voxel-to-world matrix is singular, so world coordinates have no voxel");
  return world_to_voxel_;
}

void bind_volume(py::module_ &m) {
  py::class_<Volume>(m, "Volume", R"(One volume of a NIfTI image, mapped read-only.

Made by volaccess.load(). Voxels are read in place from the file (a
compressed file is decompressed once into an unnamed temporary file).
Usable as a context manager; close() unmaps, and a closed volume raises
ValueError. Each call checks that the file still covers what was mapped:
a file truncated after loading raises OSError naming it. A file truncated
*during* a call cannot be caught soundly: the process receives SIGBUS.)")
      .def_static("_open", &Volume::open, py::arg("path"), py::arg("volume") = py::none())
      .def_static("_from_bytes", &Volume::from_bytes, py::arg("data"), py::arg("name"), py::arg("volume") = py::none())
      .def("sample", &Volume::sample, py::arg("points"), py::kw_only(), py::arg("space") = "world", py::arg("hold") = 1,
           py::arg("background") = 0.0, py::arg("gradient") = false, py::arg("threads") = py::none(),
           R"(Values of the volume at points.

points: (N, 3) array-like of coordinates (float64 used as is, in any
  order and with any strides; other integer and float dtypes converted).
space: "world" (through the inverse of the image's matrix, as nibabel's
  affine), "voxel" (0-based indices as numpy uses them: exactly 1.0 is
  added to each coordinate before the library is called) or "voxel1"
  (the library's own 1-based coordinates).
hold: 0 nearest neighbour, 1 trilinear, 2..170 Lagrange through hold+1
  nodes, -1..-254 Hann-windowed sinc over 1-hold nodes per axis; or a
  name: "nearest", "linear", "cubic", "sinc", or "label" (for label
  images: of the eight trilinear neighbours, the value whose weights sum
  highest, the smaller value on a tie).
background: value of points outside the volume (also non-finite ones).
gradient: also return the derivatives along the voxel axes x, y, z (not
  with hold="label", a ValueError).
threads: threads for large calls; default VOLACCESS_NUM_THREADS when set,
  else every CPU this process may use. The result does not depend on it.

Returns an (N,) float64 array, or with gradient=True the tuple
(values, (N, 3) derivatives). Bit-identical to `volaccess sample`.)")
      .def("slice", &Volume::slice, py::arg("matrix"), py::arg("shape"), py::kw_only(), py::arg("hold") = 1,
           py::arg("background") = 0.0, py::arg("threads") = py::none(),
           R"(A 2-D image cut through the volume.

matrix: 4x4, written row by row, taking pixel (i, j, 0, 1) to 1-based
  voxel coordinates, as the program's --transform; pixels count from 1
  in it. shape: (width, height). hold, background, threads: as for
  sample (hold="label" is a ValueError); rows are shared among the
  threads, with the same bits.
Returns a (width, height) float64 array: out[i, j] is the pixel
(i + 1, j + 1), i.e. 0-based indexing of the program's pixels.)")
      .def("close", &Volume::close, "Unmaps the volume; later use raises ValueError.")
      .def_property_readonly("closed", &Volume::closed, "Whether close() was called.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Volume &v, py::args) { v.close(); })
      .def("__repr__", &Volume::repr)
      .def_property_readonly("shape", &Volume::shape, "Voxels along x, y, z.")
      .def_property_readonly("dtype", &Volume::dtype, "numpy dtype of the stored voxels, with its byte order.")
      .def_property_readonly("affine", &Volume::affine,
                             "4x4 matrix from 0-based voxel indices to world (nibabel's convention).")
      .def_property_readonly("scale", &Volume::scale, "Real value = scale * stored + offset.")
      .def_property_readonly("offset", &Volume::offset, "Real value = scale * stored + offset.")
      .def_property_readonly("path", &Volume::path, "The file given to load(), or None for an image in memory.")
      .def_property_readonly("nifti_version", &Volume::nifti_version, "1 or 2.");
}

}  // namespace vapy
