// The reslice of the volaccess package: the program's own reslice, from
// a mapped source onto a reference grid, written whole by its writer.
#include <optional>
#include <string>

#include "exceptions.h"
#include "image_formats.h"
#include "module_parts.h"
#include "point_sampling.h"
#include "reslicing.h"
#include "text_numbers.h"
#include "volume.h"

namespace py = pybind11;

namespace vapy {

namespace {

const std::string &output_datatype(const std::string &dtype) {
  const std::string problem = vaeng::output_datatype_problem(dtype);
  if (!problem.empty()) value_error("dtype", problem);
  return dtype;
}

// The world-space affine as the program reads it from a file: finite,
// last row 0 0 0 1.
vaeng::Mat4 world_affine(py::handle affine) {
  const vaeng::Mat4 m = matrix_from_rows(affine, "affine");
  if (!vaeng::all_finite(m)) value_error("affine", "not every element is a finite number");
  if (vaeng::at(m, 3, 0) != 0 || vaeng::at(m, 3, 1) != 0 || vaeng::at(m, 3, 2) != 0 || vaeng::at(m, 3, 3) != 1)
    value_error("affine", "the last row of the affine must be 0 0 0 1");
  return m;
}

vaeng::NiftiHeader reference_header(py::handle like) {
  if (py::isinstance<Volume>(like)) return like.cast<const Volume &>().checked_open()->image.header();
  return vaeng::NiftiImage::read_header(like.cast<std::string>());
}

void reslice_to_file(const Volume &source, py::handle like, py::handle affine, py::handle hold, double background,
                     const std::string &dtype, std::optional<int> threads, const std::string &out) {
  const std::shared_ptr<OpenVolume> held = source.checked_open();
  vaeng::ResliceOptions options;
  // The label code goes to the program's reslice only, which computes labels itself.
  options.hold = is_label_hold(hold) ? vaeng::kLabelHold : checked_hold(hold);
  options.background = background;
  options.datatype = output_datatype(dtype);
  options.threads = chosen_threads(checked_threads(threads));
  // One volume of a series; an image of one volume is resliced whole.
  options.volume = held->image.header().volumes > 1 ? held->volume : 0;
  // The affine moves the source onto the output, so points go back through its inverse.
  vaeng::TransformChain chain;
  if (!affine.is_none()) {
    vaeng::Mat4 inverse{};
    if (!vaeng::invert(world_affine(affine), &inverse)) value_error("affine", "the affine is singular");
    chain.then_affine(inverse);
  }
  if (!vaeng::is_image_output_name(out)) vaeng::fail_image_output_name(out);
  const vaeng::NiftiHeader reference = reference_header(like);
  held->check_file();
  py::gil_scoped_release release;
  vaeng::reslice(held->image, reference, chain, options, out);
}

}  // namespace

void bind_reslice(py::module_ &m) {
  m.def("_reslice_to_file", &reslice_to_file, py::arg("source"), py::arg("like"), py::arg("affine"), py::arg("hold"),
        py::arg("background"), py::arg("dtype"), py::arg("threads"), py::arg("out"),
        "The program's reslice of an open source onto the grid of `like` (a path or a Volume), written to out.");
}

}  // namespace vapy
