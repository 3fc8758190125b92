#include "reslice_request.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "errors.h"
#include "output_grid.h"
#include "output_guard.h"
#include "transforms.h"

namespace vaeng {

namespace {

std::string name_of(const ArgumentWords &words, ResliceArgument argument) { return words.name(argument); }

std::string written(const ArgumentWords &words, ResliceArgument argument) {
  const auto it = words.written.find(argument);
  return it == words.written.end() ? std::string() : it->second + " ";
}

// The value as the user wrote it, unquoted.
std::string written_value(const ArgumentWords &words, ResliceArgument argument) {
  const auto it = words.written.find(argument);
  if (it == words.written.end()) return "";
  const std::string &text = it->second;
  return text.size() >= 2 && text.front() == '\'' && text.back() == '\'' ? text.substr(1, text.size() - 2) : text;
}

void check_grid(const ResliceRequest &r, const ArgumentWords &words) {
  const bool like = !r.like.empty() || r.like_header.has_value();
  const std::string size = name_of(words, ResliceArgument::kVoxelSize);
  const std::string shape = name_of(words, ResliceArgument::kShape);
  if (like && (r.voxel_size || r.shape))
    throw ArgumentError(words.caller + " takes either " + name_of(words, ResliceArgument::kLike) + " or " + size +
                        " (with " + shape + "), not both");
  if (r.shape && !r.voxel_size) throw ArgumentError(shape + " needs " + size + ": the grid's voxel sizes in mm");
  if (!like && !r.voxel_size)
    throw ArgumentError(words.caller + " needs " + words.with_value(ResliceArgument::kLike, "REFERENCE") + " or " +
                        words.with_value(ResliceArgument::kVoxelSize, "MM") + words.help_hint);
  if (r.voxel_size)
    for (double v : *r.voxel_size)
      if (!(v > 0) || !std::isfinite(v))
        throw ArgumentError(size + ": " + written(words, ResliceArgument::kVoxelSize) +
                            "holds a size that is not a positive number of mm");
  if (r.shape)
    for (int64_t n : *r.shape)
      if (n < 1 || n > std::numeric_limits<int32_t>::max())
        throw ArgumentError(shape + ": " + written(words, ResliceArgument::kShape) +
                            "holds a count that is not a whole number from 1 to 2147483647");
}

// A matrix given in memory passes the checks a matrix file does.
void check_matrix(const MatrixArgument &m, const std::string &name) {
  if (!m.matrix) return;
  if (!all_finite(*m.matrix)) throw ArgumentError(name + ": not every element is a finite number");
  const Mat4 &a = *m.matrix;
  if (at(a, 3, 0) != 0 || at(a, 3, 1) != 0 || at(a, 3, 2) != 0 || at(a, 3, 3) != 1)
    throw ArgumentError(name + ": the last row of the matrix must be 0 0 0 1");
}

// What most likely made an output too large.
std::string likely_cause(const ResliceRequest &r, const NiftiHeader &source, const ArgumentWords &words) {
  std::string cause;
  if (!r.like.empty()) cause = "the grid of " + r.like;
  if (r.like_header) cause = "the grid of " + name_of(words, ResliceArgument::kLike);
  if (r.voxel_size) {
    const Vec3 &mm = *r.voxel_size;
    const Vec3 &own = source.geometry.pixdim;
    const double finest = std::min({std::fabs(own[0]), std::fabs(own[1]), std::fabs(own[2])});
    // Far below the source's own voxels: a size in metres or a lost digit.
    const bool tiny = std::min({mm[0], mm[1], mm[2]}) < finest / 10;
    cause = words.with_value(ResliceArgument::kVoxelSize, written_value(words, ResliceArgument::kVoxelSize)) +
            (tiny ? ": the image is in millimetres" : "");
  }
  if (r.shape) cause += ", " + words.with_value(ResliceArgument::kShape, written_value(words, ResliceArgument::kShape));
  return cause;
}

// The likely cause, and how to have the output all the same.
std::string size_advice(const ResliceRequest &r, const NiftiHeader &source, const ArgumentWords &words) {
  return likely_cause(r, source, words) + "; " + name_of(words, ResliceArgument::kLargeOutput) +
         " writes it all the same";
}

void check_transforms(const ResliceRequest &r, const ArgumentWords &words) {
  const int given = (r.transforms.empty() ? 0 : 1) + (r.fsl.given() ? 1 : 0) + (r.affine.given() ? 1 : 0);
  if (given > 1)
    throw ArgumentError(name_of(words, ResliceArgument::kTransforms) + ", " + name_of(words, ResliceArgument::kFsl) +
                        " and " + name_of(words, ResliceArgument::kAffine) + " exclude one another: give one kind");
  check_matrix(r.fsl, name_of(words, ResliceArgument::kFsl));
  check_matrix(r.affine, name_of(words, ResliceArgument::kAffine));
}

// The matrix and the name it goes by in messages and in the description.
Mat4 matrix_of(const MatrixArgument &m, const std::string &argument, std::string *name) {
  *name = m.path.empty() ? argument : m.path;
  return m.path.empty() ? *m.matrix : read_matrix_file(m.path);
}

NiftiHeader output_grid(const ResliceRequest &r, const NiftiImage &source, const ArgumentWords &words) {
  if (r.like_header) return *r.like_header;
  if (!r.like.empty()) return NiftiImage::read_header(r.like);
  try {
    return grid_from_source(source.header(), source.name(), *r.voxel_size, r.shape,
                            name_of(words, ResliceArgument::kVoxelSize));
  } catch (const ArgumentError &e) {
    // A grid beyond what an image can hold: the likely cause goes with it.
    throw ArgumentError(std::string(e.what()) + "; " + likely_cause(r, source.header(), words));
  }
}

// The steps from output world points to source world points.
TransformChain chain_of(const ResliceRequest &r, const NiftiHeader &source, const NiftiHeader &grid,
                        const ArgumentWords &words) {
  if (!r.transforms.empty()) return TransformChain::from_options(r.transforms);
  TransformChain chain;
  std::string name;
  if (r.fsl.given()) {
    const Mat4 flirt = matrix_of(r.fsl, name_of(words, ResliceArgument::kFsl), &name);
    chain.then_affine(flirt_to_world(flirt, source, grid, name));
    if (!r.fsl.path.empty()) chain.add_name(name);
  } else if (r.affine.given()) {
    // The affine moves the source onto the output, so points go back through its inverse.
    Mat4 inverse{};
    if (!invert(matrix_of(r.affine, name_of(words, ResliceArgument::kAffine), &name), &inverse))
      fail(name, "the affine is singular");
    chain.then_affine(inverse);
    if (!r.affine.path.empty()) chain.add_name(name);
  }
  return chain;
}

}  // namespace

void check_request(const ResliceRequest &request, const ArgumentWords &words) {
  check_grid(request, words);
  check_transforms(request, words);
  const std::string problem = request.options.datatype.empty() ? "" : output_datatype_problem(request.options.datatype);
  if (!problem.empty()) throw ArgumentError(name_of(words, ResliceArgument::kDatatype) + ": " + problem);
}

NiftiImage open_reslice_source(const std::string &path, const ResliceRequest &request) {
  return NiftiImage::open(path, request.options.volume);
}

ResliceResult run_reslice(const ResliceRequest &request, const NiftiImage &source, const ArgumentWords &words,
                          PlaneSink &sink) {
  check_request(request, words);
  ResliceResult result;
  result.grid = output_grid(request, source, words);
  const TransformChain chain = chain_of(request, source.header(), result.grid, words);
  if (!request.large_output) {
    const OutputSize size =
        reslice_output_size(source.header(), result.grid, resliced_datatype(request.options), request.options.volume);
    check_output_size(size, sink.place(size), size_advice(request, source.header(), words));
  }
  result.stored = reslice(source, result.grid, chain, request.options, sink);
  return result;
}

}  // namespace vaeng
