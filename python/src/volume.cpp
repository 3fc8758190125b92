#include "volume.h"

#include <algorithm>

#include "call_arguments.h"
#include "errors.h"
#include "exceptions.h"
#include "module_parts.h"
#include "point_sampling.h"
#include "slicing.h"
#include "volume_docs.h"
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

// A datatype's name ("int16") is numpy's name for its elements.
py::dtype numpy_dtype(const vaeng::NiftiHeader &h) {
  const py::dtype native(std::string(h.datatype->name));
  return h.swapped ? py::dtype::from_args(native.attr("newbyteorder")()) : native;
}

// Volume indices from Python count from 0, as numpy indexes the fourth
// axis; none opens every volume of a series (0 here), or the only one.
int64_t volume_number(const vaeng::NiftiImage &image, std::optional<int64_t> volume) {
  const int64_t count = image.header().volumes;
  if (!volume) return count > 1 ? 0 : 1;
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

OpenVolume::OpenVolume(vaeng::NiftiImage opened, int64_t index)
    : image(std::move(opened)), volume(index), changes(image) {
  const int64_t first = index == 0 ? 1 : index;
  const int64_t last = index == 0 ? image.header().volumes : index;
  mappings.push_back(std::make_unique<vaeng::VolumeMapping>(image, first));
  changes.watch(*mappings.front());
  // The other volumes of a series are read through the first one's mapping.
  for (int64_t t = first + 1; t <= last; ++t)
    mappings.push_back(std::make_unique<vaeng::VolumeMapping>(*mappings.front(), image, t));
  for (const auto &mapping : mappings) maps.push_back(&mapping->map());
}

void OpenVolume::check_file() const {
  if (changes.changed()) os_error(image.data_name(), std::string(vaeng::kChangedOnDisk) + "; load it again");
}

Volume::Volume(vaeng::NiftiImage image, std::optional<int64_t> volume, std::string path) : path_(std::move(path)) {
  const int64_t number = volume_number(image, volume);
  open_ = std::make_shared<OpenVolume>(std::move(image), number);
  const vaeng::NiftiHeader &h = open_->image.header();
  shape_ = number == 0 ? py::make_tuple(h.dim[0], h.dim[1], h.dim[2], h.volumes)
                       : py::make_tuple(h.dim[0], h.dim[1], h.dim[2]);
  dtype_ = numpy_dtype(h);
  affine_ = rows_of(h.voxel_to_world);
  has_world_ = vaeng::invert(open_->mappings.front()->voxel_to_world(), &world_to_voxel_);
}

Volume Volume::open(const std::string &path, std::optional<int64_t> volume) {
  // Only as much of a compressed series is decompressed as the volume chosen needs.
  return Volume(vaeng::NiftiImage::open(path, volume && *volume >= 0 ? *volume + 1 : 0), volume, path);
}

Volume Volume::from_bytes(const py::bytes &bytes, const std::string &name, std::optional<int64_t> volume,
                          py::handle affine) {
  const std::string_view view = bytes;
  vaeng::NiftiImage image = vaeng::NiftiImage::from_bytes(view.data(), view.size(), name);
  if (!affine.is_none()) {
    const vaeng::Mat4 m = matrix_from_rows(affine, "affine");
    if (!vaeng::all_finite(m)) value_error(name, "its affine has entries that are not finite");
    image.set_voxel_to_world(m);
  }
  return Volume(std::move(image), volume, "");
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
  const std::string &name = held->image.name();
  held->check_file();
  std::vector<std::unique_ptr<vaeng::SourceGrid>> grids;
  if (labels) {
    // The label rule reads the voxels in place, as the program's sample does.
    for (const auto &mapping : held->mappings) {
      grids.push_back(std::make_unique<vaeng::SourceGrid>(*mapping));
      s.labels.push_back(grids.back().get());
    }
  }
  py::object result = sample_maps(held->volume_list(), name, p, s);
  held->check_file();
  return result;
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
  const auto volumes = static_cast<py::ssize_t>(held->mappings.size());
  using Pixels = py::array_t<double, py::array::f_style>;
  Pixels image = held->volume == 0 ? Pixels({shape.first, shape.second, volumes}) : Pixels({shape.first, shape.second});
  double *pixels = image.mutable_data();
  std::fill(pixels, pixels + image.size(), background);
  held->check_file();
  try {
    py::gil_scoped_release release;
    const vaeng::Workers workers(chosen_threads(given_threads));
    for (const auto &mapping : held->mappings) {
      vaeng::cut_slice_into(*mapping, transform, static_cast<int32_t>(shape.first), static_cast<int32_t>(shape.second),
                            h, background, pixels, workers);
      pixels += shape.first * shape.second;
    }
  } catch (const vaeng::Error &) {
    // A file that shrank during the slice is reported as a file error.
    held->check_file();
    throw;
  }
  held->check_file();
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
    value_error(open_->image.name(), "its voxel-to-world matrix is singular, so world coordinates have no voxel");
  return world_to_voxel_;
}

void bind_volume(py::module_ &m) {
  py::class_<Volume> volume_class(m, "Volume", kVolumeDoc);
  volume_class.def_static("_open", &Volume::open, py::arg("path"), py::arg("volume") = py::none())
      .def_static("_from_bytes", &Volume::from_bytes, py::arg("data"), py::arg("name"), py::arg("volume") = py::none(),
                  py::arg("affine") = py::none())
      .def(
          "slice",
          [](const Volume &v, py::handle matrix, py::handle shape, py::handle hold, py::handle background,
             py::handle threads) {
            return v.slice(matrix, pair_argument("slice", "shape", shape), hold,
                           number_argument("slice", "background", background), threads_argument("slice", threads));
          },
          py::arg("matrix"), py::arg("shape"), py::kw_only(), py::arg("hold") = 1, py::arg("background") = 0.0,
          py::arg("threads") = py::none(), kSliceDoc)
      .def("close", &Volume::close, "Unmaps the volume; later use raises ValueError.")
      .def_property_readonly("closed", &Volume::closed, "Whether close() was called.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Volume &v, py::args) { v.close(); })
      .def("__repr__", &Volume::repr)
      .def_property_readonly("shape", &Volume::shape, "Voxels along x, y, z, and the volumes of a series.")
      .def_property_readonly("dtype", &Volume::dtype, "numpy dtype of the stored voxels, with its byte order.")
      .def_property_readonly("affine", &Volume::affine,
                             "4x4 matrix from 0-based voxel indices to world (nibabel's convention).")
      .def_property_readonly("scale", &Volume::scale, "Real value = scale * stored + offset.")
      .def_property_readonly("offset", &Volume::offset, "Real value = scale * stored + offset.")
      .def_property_readonly("path", &Volume::path, "The file given to load(), or None for an image in memory.")
      .def_property_readonly("nifti_version", &Volume::nifti_version, "1 or 2.");
  bind_sample_call(volume_class, kSampleDoc);
}

}  // namespace vapy
