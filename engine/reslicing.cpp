#include "reslicing.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "errors.h"
#include "image_formats.h"
#include "integer_scaling.h"
#include "source_grid.h"
#include "text_numbers.h"
#include "tiled_reslice.h"
#include "volume_description.h"
#include "workers.h"

namespace vaeng {

namespace {

// The xyzt_units bits of space (the reference's) and of time (the source's).
constexpr int kSpaceUnits = 0x07;
constexpr int kTimeUnits = 0x38;

// The layout of the output without its scaling, which integer outputs
// choose once the values are known.
NiftiLayout output_layout(const NiftiHeader &source, const NiftiHeader &reference, const ResliceOptions &options,
                          const std::string &description) {
  NiftiLayout layout;
  layout.version = reference.version;
  layout.dim = reference.dim;
  layout.geometry = reference.geometry;
  layout.geometry.xyzt_units =
      (reference.geometry.xyzt_units & kSpaceUnits) | (source.geometry.xyzt_units & kTimeUnits);
  layout.description = description;
  layout.series.intent_code = source.series.intent_code;
  layout.series.intent_p = source.series.intent_p;
  layout.series.intent_name = source.series.intent_name;
  if (options.volume == 0 && source.volumes > 1) {
    layout.series.rank = source.series.rank;
    layout.series.dim = source.series.dim;
    layout.series.pixdim = source.series.pixdim;
  }
  const std::string datatype = resliced_datatype(options);
  layout.datatype = datatype == "source" ? source.datatype : find_nifti_datatype(datatype);
  if (!layout.datatype) throw Error("unknown output datatype " + datatype);
  return layout;
}

// Where each output voxel lies in the source, in 1-based source voxel
// coordinates, from its own indices alone. An affine chain is one matrix
// from output voxels to source voxels; otherwise each voxel's world point
// goes through the chain, step by step.
PointMap source_points(const TransformChain &chain, const Mat4 &source_matrix, const NiftiHeader &reference,
                       const std::string &source_name) {
  const Mat4 grid = one_based_matrix(reference);
  if (chain.linear()) return affine_points(reference_to_source(source_matrix, grid, chain.composed(), source_name));
  Mat4 world_to_source{};
  if (!invert(source_matrix, &world_to_source)) fail(source_name, "its voxel-to-world matrix is singular");
  const PointMap world = affine_points(grid);
  return [world, &chain, world_to_source](const Tile &plane, double *x, double *y, double *z) {
    world(plane, x, y, z);
    const auto n = static_cast<std::size_t>(plane.ni * plane.nj);
    chain.map_points(x, y, z, n);
    apply_affine(world_to_source, x, y, z, n);
  };
}

// The values at the points: the library's kernel, or the label rule; with
// --clip each clamped to the voxels its kernel read.
PointSampler value_sampler(const VolumeMapping &volume, const SourceGrid *grid, const ResliceOptions &options) {
  const PointSampler kernel =
      options.hold == kLabelHold
          ? PointSampler([grid, &options](int32_t n, const double *x, const double *y, const double *z,
                                          double *values) { grid->labels_at(n, x, y, z, options.background, values); })
          : volume_sampler(volume, options.hold, options.background);
  if (!options.clip) return kernel;
  return [kernel, grid, &options](int32_t n, const double *x, const double *y, const double *z, double *values) {
    kernel(n, x, y, z, values);
    for (int32_t p = 0; p < n; ++p) {
      double low, high;
      if (grid->touched_range(x[p], y[p], z[p], options.hold, &low, &high))
        values[p] = std::min(std::max(values[p], low), high);
    }
  };
}

// The mask's voxels, plane by plane, on the reference grid.
class Mask {
 public:
  Mask(const std::string &path, const NiftiHeader &reference) : image_(NiftiImage::open(path)) {
    const NiftiHeader &h = image_.header();
    // Which of its volumes is meant cannot be guessed.
    if (h.volumes > 1) fail(path, "the mask holds " + std::to_string(h.volumes) + " volumes; a mask is one volume");
    if (h.dim != reference.dim)
      fail(path, "the mask is " + shape(h) + " but the reference grid is " + shape(reference));
    for (int e = 0; e < 16; ++e)
      if (std::fabs(h.voxel_to_world[e] - reference.voxel_to_world[e]) > 1e-4)
        fail(path, "the mask's voxel-to-world matrix is not the reference's: it must lie on the reference grid");
    volume_ = std::make_unique<VolumeMapping>(image_, 1);
  }

  // Sets to `background` every value of plane k (from 1) whose mask voxel is 0.
  void apply(int64_t k, double *values, double background) const {
    const auto n = static_cast<std::size_t>(image_.header().dim[0] * image_.header().dim[1]);
    const int64_t width = image_.header().dim[0];
    std::vector<double> x(n), y(n), z(n, static_cast<double>(k)), inside(n);
    for (std::size_t p = 0; p < n; ++p) {
      x[p] = static_cast<double>(static_cast<int64_t>(p) % width + 1);
      y[p] = static_cast<double>(static_cast<int64_t>(p) / width + 1);
    }
    if (resample(static_cast<int32_t>(n), &volume_->map(), inside.data(), x.data(), y.data(), z.data(), 0, 0.0) != 0)
      fail(image_.name(), "the volume library does not know its datatype");
    for (std::size_t p = 0; p < n; ++p)
      if (inside[p] == 0) values[p] = background;
  }

  void check_unchanged() const { volume_->check_unchanged(); }

 private:
  static std::string shape(const NiftiHeader &h) {
    return std::to_string(h.dim[0]) + "x" + std::to_string(h.dim[1]) + "x" + std::to_string(h.dim[2]);
  }

  NiftiImage image_;
  std::unique_ptr<VolumeMapping> volume_;
};

std::string base_name(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The planes of the output, volume after volume, each computed from the
// source on demand, so that a pass can measure them before one writes them.
class OutputPlanes {
 public:
  OutputPlanes(const NiftiImage &source, const NiftiHeader &reference, const TransformChain &chain,
               const ResliceOptions &options)
      : source_(source), reference_(reference), chain_(chain), options_(options),
        points_(source_points(chain, one_based_matrix(source.header()), reference, source.name())),
        workers_(options.threads), first_(options.volume > 0 ? options.volume : 1),
        last_(options.volume > 0 ? options.volume : source.header().volumes) {
    check_volume_index(source, first_);
    if (!options.mask_path.empty()) mask_ = std::make_unique<Mask>(options.mask_path, reference);
  }

  // Calls use(plane) for every plane (nx * ny values, x fastest) in file order.
  template <class Use>
  void each(const char *label, Use use) const {
    const GridSize grid{reference_.dim[0], reference_.dim[1], reference_.dim[2]};
    const int64_t total = (last_ - first_ + 1) * grid.nz;
    std::vector<double> masked(mask_ ? static_cast<std::size_t>(grid.nx * grid.ny) : 0);
    int64_t done = 0;
    for (int64_t t = first_; t <= last_; ++t) {
      const VolumeMapping volume(source_, t);
      const bool needs_grid = options_.hold == kLabelHold || options_.clip;
      const std::unique_ptr<SourceGrid> voxels = needs_grid ? std::make_unique<SourceGrid>(volume) : nullptr;
      reslice_grid(workers_, grid, points_, value_sampler(volume, voxels.get(), options_),
                   [&](int64_t k, const double *plane) {
                     if (mask_) {
                       std::copy(plane, plane + masked.size(), masked.begin());
                       mask_->apply(k + 1, masked.data(), options_.background);
                       plane = masked.data();
                     }
                     use(plane);
                     ++done;
                     if (options_.progress) options_.progress(label, done, total);
                   });
      // A file cut short within its last page reads zeros instead of
      // faulting: the output is refused before it is given its name.
      volume.check_unchanged();
      if (mask_) mask_->check_unchanged();
      chain_.check_unchanged();
    }
  }

 private:
  const NiftiImage &source_;
  const NiftiHeader &reference_;
  const TransformChain &chain_;
  const ResliceOptions &options_;
  PointMap points_;
  Workers workers_;
  int64_t first_, last_;
  std::unique_ptr<Mask> mask_;
};

// The finite values of the whole output and the background: a first pass
// over the planes, so that an integer output's scale fits what it holds.
ValueRange output_range(const OutputPlanes &planes, const NiftiHeader &reference, double background) {
  ValueRange range{background, background};
  const auto count = static_cast<std::size_t>(reference.dim[0] * reference.dim[1]);
  planes.each("measuring", [&](const double *values) {
    for (const double *v = values; v != values + count; ++v)
      if (std::isfinite(*v)) {
        range.low = std::min(range.low, *v);
        range.high = std::max(range.high, *v);
      }
  });
  return range;
}

// Labels keep their values: the source's own scaling (none for a float
// source), every label read back exactly, or the output is refused.
StoredScaling label_scaling(const NiftiDatatype &type, const NiftiHeader &source_header, const NiftiHeader &reference,
                            const OutputPlanes &planes, const ResliceOptions &options, const std::string &source_name) {
  StoredScaling own;
  if (is_integer_type(*source_header.datatype)) own = StoredScaling{source_header.scale, source_header.offset};
  const double b = options.background;
  ValueRange range{b, b};
  std::optional<double> inexact;
  if (!stores_exactly(own, type, b)) inexact = b;
  // An integer source's labels are its own stored values: they fit.
  const bool own_type = resliced_datatype(options) == "source" && is_integer_type(*source_header.datatype);
  if (own_type || inexact) {
    check_labels_storable(type, own, range, inexact, source_name);
    return own;
  }
  const auto count = static_cast<std::size_t>(reference.dim[0] * reference.dim[1]);
  planes.each("measuring", [&](const double *values) {
    for (const double *v = values; v != values + count; ++v) {
      if (!std::isfinite(*v)) continue;
      range.low = std::min(range.low, *v);
      range.high = std::max(range.high, *v);
      if (!inexact && !stores_exactly(own, type, *v)) inexact = *v;
    }
  });
  check_labels_storable(type, own, range, inexact, source_name);
  return own;
}

// An integer output keeps the source's scaling when asked for the source's
// type and that scaling stores the background; else the range is measured.
void choose_scaling(NiftiLayout *layout, const NiftiHeader &source_header, const NiftiHeader &reference,
                    const OutputPlanes &planes, const ResliceOptions &options, const std::string &source_name,
                    const ScalingWords &words) {
  if (!is_integer_type(*layout->datatype)) return;
  // Refused before the measuring pass, which it would only waste.
  check_background_storable(*layout->datatype, options.background, words);
  if (options.hold == kLabelHold) {
    const StoredScaling labels =
        label_scaling(*layout->datatype, source_header, reference, planes, options, source_name);
    layout->scale = labels.scale;
    layout->offset = labels.offset;
    return;
  }
  std::optional<StoredScaling> own;
  if (is_integer_type(*source_header.datatype)) own = StoredScaling{source_header.scale, source_header.offset};
  const double b = options.background;
  if (resliced_datatype(options) == "source" && own && represents(*own, *layout->datatype, ValueRange{b, b}, b)) {
    layout->scale = own->scale;
    layout->offset = own->offset;
    return;
  }
  const StoredScaling chosen = choose_integer_scaling(*layout->datatype, output_range(planes, reference, b), b, own,
                                                      layout->version == 1, words);
  layout->scale = chosen.scale;
  layout->offset = chosen.offset;
}

}  // namespace

Mat4 reference_to_source(const Mat4 &source_matrix, const Mat4 &reference_matrix, const Mat4 &chain,
                         const std::string &source_name) {
  Mat4 source_inverse{};
  if (!invert(source_matrix, &source_inverse)) fail(source_name, "its voxel-to-world matrix is singular");
  return multiply(source_inverse, multiply(chain, reference_matrix));
}

std::string output_datatype_problem(const std::string &datatype) {
  static const char *const kOutputTypes[] = {"int8",   "uint8",   "int16",   "uint16", "int32",
                                             "uint32", "float32", "float64", "source"};
  for (const char *known : kOutputTypes)
    if (datatype == known) return "";
  return quoted(datatype) + " is none of int8, uint8, int16, uint16, int32, uint32, float32, float64, source";
}

std::string resliced_datatype(const ResliceOptions &options) {
  if (!options.datatype.empty()) return options.datatype;
  return options.hold == kLabelHold ? "source" : "float32";
}

NiftiFileSink::NiftiFileSink(ScalingWords words) : NiftiSink(std::move(words)) {
  const std::string &path = this->words().output;
  if (!is_image_output_name(path)) fail_image_output_name(path);
}

void NiftiFileSink::start(const NiftiLayout &layout) {
  writer_ = std::make_unique<NiftiWriter>(words().output, layout);
}

NiftiMemorySink::NiftiMemorySink(ScalingWords words, std::function<unsigned char *(uint64_t)> allocate)
    : NiftiSink(std::move(words)), allocate_(std::move(allocate)) {}

void NiftiMemorySink::start(const NiftiLayout &layout) {
  writer_ = std::make_unique<NiftiWriter>(allocate_(nifti_file_bytes(layout)), layout, words().output);
}

std::string reslice_description(const TransformChain &chain, const ResliceOptions &options) {
  std::string text = "volaccess reslice hold ";
  text += options.hold == kLabelHold ? "label" : std::to_string(options.hold);
  for (const std::string &name : chain.names()) text += " " + base_name(name);
  if (options.clip) text += " clip";
  if (!options.mask_path.empty()) text += " mask " + base_name(options.mask_path);
  if (options.volume > 0) text += " volume " + std::to_string(options.volume);
  return text.substr(0, 79);
}

StoringCounts reslice(const NiftiImage &source, const NiftiHeader &reference, const TransformChain &chain,
                      const ResliceOptions &options, PlaneSink &sink) {
  const OutputPlanes planes(source, reference, chain, options);
  NiftiLayout layout = output_layout(source.header(), reference, options, reslice_description(chain, options));
  choose_scaling(&layout, source.header(), reference, planes, options, source.name(), sink.words());
  sink.start(layout);
  StoringCounts counts;
  std::vector<double> ready(static_cast<std::size_t>(reference.dim[0] * reference.dim[1]));
  planes.each("reslicing", [&](const double *plane) {
    std::copy(plane, plane + ready.size(), ready.begin());
    prepare_for_storing(ready.data(), ready.size(), *layout.datatype, options.background, &counts);
    sink.write_plane(ready.data());
  });
  sink.finish();
  return counts;
}

}  // namespace vaeng
