// volaccess.check: the program's registration check picture, as a PNG
// file or an RGB array.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "check_picture.h"
#include "exceptions.h"
#include "module_parts.h"
#include "point_sampling.h"
#include "volume.h"
#include "workers.h"

namespace py = pybind11;

namespace vapy {

namespace {

std::vector<vaeng::Plane> planes_named(const std::vector<std::string> &names) {
  std::vector<vaeng::Plane> planes;
  for (const std::string &name : names) {
    const std::optional<vaeng::Plane> plane = vaeng::plane_named(name);
    if (!plane) value_error("planes", "'" + name + "' is not axial, coronal or sagittal");
    planes.push_back(*plane);
  }
  return planes;
}

vaeng::LabelSide label_side(const std::string &labels) {
  if (labels == "image") return vaeng::LabelSide::Image;
  if (labels == "ref") return vaeng::LabelSide::Reference;
  value_error("labels", "'" + labels + "' is neither 'image' nor 'ref'");
}

// A whole number the engine takes; beyond 32 bits one it refuses.
int32_t narrowed(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX ? static_cast<int32_t>(v) : -1; }

bool oriented(const vaeng::NiftiHeader &header) {
  return header.geometry.qform_code != 0 || header.geometry.sform_code != 0;
}

// The argument `name` as a T, or ValueError saying what was `expected`.
template <class T>
T argument(const py::dict &options, const char *name, const char *expected) {
  try {
    return options[name].cast<T>();
  } catch (const py::cast_error &) {
    value_error(name, std::string("expected ") + expected + ", got " + text_of(py::repr(options[name])));
  }
}

// Only the arguments given replace the engine's defaults.
vaeng::CheckRequest check_request(const py::dict &options, const vaeng::NiftiHeader &ref_header) {
  using Pair = std::pair<int64_t, int64_t>;
  vaeng::CheckRequest r;
  if (options.contains("planes"))
    r.planes = planes_named(argument<std::vector<std::string>>(options, "planes", "a sequence of plane names"));
  if (options.contains("positions"))
    r.positions = argument<std::vector<double>>(options, "positions", "a sequence of numbers");
  if (options.contains("size")) {
    const Pair wh = argument<Pair>(options, "size", "(width, height) in whole pixels");
    r.size = {narrowed(wh.first), narrowed(wh.second)};
  }
  if (options.contains("window")) {
    const auto lh = argument<std::pair<double, double>>(options, "window", "(low, high)");
    r.window = vaeng::Window{lh.first, lh.second};
  }
  if (options.contains("checkerboard"))
    r.checkerboard = narrowed(argument<int64_t>(options, "checkerboard", "a whole number"));
  if (options.contains("labels")) r.labels = label_side(argument<std::string>(options, "labels", "'image' or 'ref'"));
  if (options.contains("hold")) r.hold = checked_hold(options["hold"]);
  if (options.contains("edges")) r.edges = argument<double>(options, "edges", "a number");
  if (const std::optional<vaeng::RequestProblem> problem = vaeng::check_request_problem(r))
    value_error(problem->field, problem->reason);
  r.letters = oriented(ref_header);
  return r;
}

py::object check(const Volume &image, const Volume &ref, const py::dict &options, std::optional<int> threads,
                 const std::optional<std::string> &out) {
  const std::shared_ptr<OpenVolume> held_image = image.checked_open();
  const std::shared_ptr<OpenVolume> held_ref = ref.checked_open();
  const vaeng::CheckRequest request = check_request(options, held_ref->image.header());
  const int given_threads = checked_threads(threads);
  held_image->check_file();
  held_ref->check_file();
  vaeng::Picture picture;
  {
    py::gil_scoped_release release;
    const vaeng::Workers workers(chosen_threads(given_threads));
    picture = vaeng::check_picture(*held_image->mappings.front(), *held_ref->mappings.front(), request, workers);
    if (out) vaeng::write_picture(*out, picture);
  }
  if (out) return py::none();
  py::array_t<uint8_t> rgb({picture.height, picture.width, 3});
  std::copy(picture.bytes.begin(), picture.bytes.end(), rgb.mutable_data());
  return std::move(rgb);
}

}  // namespace

void bind_check(py::module_ &m) {
  m.def("_check", &check, py::arg("image"), py::arg("ref"), py::arg("options"), py::arg("threads"), py::arg("out"));
}

}  // namespace vapy
