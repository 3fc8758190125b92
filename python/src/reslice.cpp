// The reslice of the volaccess package: the engine's reslice request,
// filled from Python's arguments, into a file or into memory.
#include <array>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "exceptions.h"
#include "module_parts.h"
#include "point_sampling.h"
#include "reslice_request.h"
#include "thread_count.h"
#include "volume.h"

namespace py = pybind11;

namespace vapy {

namespace {

using vaeng::ResliceArgument;

// In the order of ResliceArgument.
constexpr const char *kKeywords[] = {"like",   "voxel_size", "shape", "transforms",       "fsl",
                                     "affine", "background", "dtype", "large_output=True"};

static_assert(std::size(kKeywords) == vaeng::kResliceArguments);

std::string keyword(ResliceArgument argument) { return kKeywords[static_cast<int>(argument)]; }

std::string keyword_with_value(ResliceArgument argument, const std::string &value) {
  return keyword(argument) + "=" + (argument == ResliceArgument::kDatatype ? "'" + value + "'" : value);
}

vaeng::ScalingWords scaling_words(const std::string &output) {
  return {output, keyword(ResliceArgument::kBackground), keyword_with_value(ResliceArgument::kDatatype, "float32")};
}

// A matrix argument: a file's path, or a 4x4 array-like given by rows.
vaeng::MatrixArgument matrix_argument(py::handle given, ResliceArgument argument) {
  if (given.is_none()) return {};
  if (py::isinstance<py::str>(given)) return {given.cast<std::string>(), std::nullopt};
  return {"", matrix_from_rows(given, keyword(argument))};
}

// The image resliced: a path opened here, or an open Volume's image.
struct Source {
  std::optional<vaeng::NiftiImage> opened;
  std::shared_ptr<OpenVolume> held;
  const vaeng::NiftiImage &image() const { return opened ? *opened : held->image; }
};

struct Arguments {
  py::handle source, like, fsl, affine, hold;
  std::vector<std::pair<std::string, bool>> transforms;
  std::optional<std::array<double, 3>> voxel_size;
  std::optional<std::array<int64_t, 3>> shape;
  double background;
  std::optional<std::string> dtype, mask, out;
  bool clip;
  std::optional<int> threads;
  bool large_output;
  std::map<std::string, std::string> written;
};

vaeng::ResliceRequest request_of(const Arguments &a, vaeng::ArgumentWords *words) {
  vaeng::ResliceRequest r;
  if (py::isinstance<Volume>(a.like)) r.like_header = a.like.cast<const Volume &>().checked_open()->image.header();
  if (py::isinstance<py::str>(a.like)) r.like = a.like.cast<std::string>();
  if (a.voxel_size) r.voxel_size = vaeng::Vec3{(*a.voxel_size)[0], (*a.voxel_size)[1], (*a.voxel_size)[2]};
  r.shape = a.shape;
  for (const auto &[path, inverse] : a.transforms) r.transforms.push_back({path, inverse});
  r.fsl = matrix_argument(a.fsl, ResliceArgument::kFsl);
  r.affine = matrix_argument(a.affine, ResliceArgument::kAffine);
  vaeng::ResliceOptions &o = r.options;
  o.hold = is_label_hold(a.hold) ? vaeng::kLabelHold : checked_hold(a.hold);
  o.background = a.background;
  o.datatype = a.dtype.value_or("");
  o.clip = a.clip;
  o.mask_path = a.mask.value_or("");
  o.threads = chosen_threads(checked_threads(a.threads));
  r.large_output = a.large_output;
  for (const auto &[name, text] : a.written) {
    if (name == "voxel_size") words->written[ResliceArgument::kVoxelSize] = text;
    if (name == "shape") words->written[ResliceArgument::kShape] = text;
  }
  return r;
}

Source source_of(const Arguments &a, vaeng::ResliceRequest *r) {
  Source s;
  if (!py::isinstance<Volume>(a.source)) return s;
  s.held = a.source.cast<const Volume &>().checked_open();
  s.held->check_file();
  // One volume of a series; an image of one volume is resliced whole.
  r->options.volume = s.held->image.header().volumes > 1 ? s.held->volume : 0;
  return s;
}

py::object reslice(const Arguments &a) {
  vaeng::ArgumentWords words{"reslice()", "", keyword, keyword_with_value, {}};
  vaeng::ResliceRequest request = request_of(a, &words);
  Source source = source_of(a, &request);
  vaeng::check_request(request, words);
  py::object image;
  auto allocate = [&image](uint64_t size) {
    py::gil_scoped_acquire held;
    if (size > static_cast<uint64_t>(PY_SSIZE_T_MAX)) throw std::bad_alloc();
    image = py::reinterpret_steal<py::object>(PyBytes_FromStringAndSize(nullptr, static_cast<py::ssize_t>(size)));
    if (!image) throw py::error_already_set();
    return reinterpret_cast<unsigned char *>(PyBytes_AsString(image.ptr()));
  };
  std::unique_ptr<vaeng::PlaneSink> sink;
  if (a.out)
    sink = std::make_unique<vaeng::NiftiFileSink>(scaling_words(*a.out));
  else
    sink = std::make_unique<vaeng::NiftiMemorySink>(scaling_words("reslice()"), allocate);
  const std::string path = source.held ? "" : a.source.cast<std::string>();
  {
    py::gil_scoped_release release;
    if (!source.held) source.opened = vaeng::open_reslice_source(path, request);
    vaeng::run_reslice(request, source.image(), words, *sink);
  }
  return a.out ? py::none() : image;
}

}  // namespace

void bind_reslice(py::module_ &m) {
  m.def(
      "_reslice",
      [](py::handle source, py::handle like, std::vector<std::pair<std::string, bool>> transforms, py::handle fsl,
         py::handle affine, std::optional<std::array<double, 3>> voxel_size,
         std::optional<std::array<int64_t, 3>> shape, py::handle hold, double background,
         std::optional<std::string> dtype, bool clip, std::optional<std::string> mask, std::optional<std::string> out,
         std::optional<int> threads, bool large_output, std::map<std::string, std::string> written) {
        return reslice(Arguments{source, like, fsl, affine, hold, std::move(transforms), voxel_size, shape, background,
                                 std::move(dtype), std::move(mask), std::move(out), clip, threads, large_output,
                                 std::move(written)});
      },
      py::arg("source"), py::arg("like"), py::arg("transforms"), py::arg("fsl"), py::arg("affine"),
      py::arg("voxel_size"), py::arg("shape"), py::arg("hold"), py::arg("background"), py::arg("dtype"),
      py::arg("clip"), py::arg("mask"), py::arg("out"), py::arg("threads"), py::arg("large_output"), py::arg("written"),
      "The engine's reslice of `source` (a path or a Volume) with arguments volaccess.reslice has checked:\n"
      "written to `out`, or returned as the bytes of a single-file NIfTI image.");
}

}  // namespace vapy
