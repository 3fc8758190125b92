#include "reslicing.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "cli_error.h"
#include "integer_scaling.h"
#include "line_reader.h"
#include "nifti_writer.h"
#include "progress.h"
#include "text_numbers.h"
#include "tiled_reslice.h"
#include "workers.h"

namespace vacli {

namespace {

// The layout of the output without its scaling, which integer outputs
// choose once the values are known.
NiftiLayout output_layout(const NiftiHeader &source, const NiftiHeader &reference, const std::string &datatype) {
  NiftiLayout layout;
  layout.version = reference.version;
  layout.dim = reference.dim;
  layout.geometry = reference.geometry;
  layout.description = "volaccess reslice";
  layout.datatype = datatype == "source" ? source.datatype : find_nifti_datatype(datatype);
  if (!layout.datatype) throw CliError("unknown output datatype " + datatype);
  return layout;
}

// Each output plane in turn (nx * ny values, x fastest), resampled in
// tiles shared among the threads.
template <class Use>
void each_plane(const VolumeMapping &source, const Mat4 &to_source, const std::array<int64_t, 3> &dim,
                const ResliceOptions &options, const char *label, Use use) {
  const GridSize grid{dim[0], dim[1], dim[2]};
  ProgressBar bar(label, dim[2], options.progress);
  const Workers workers(options.threads);
  reslice_grid(workers, grid, affine_points(to_source), volume_sampler(source, options.hold, options.background),
               [&](int64_t k, const double *plane) {
                 use(plane);
                 bar.update(k + 1);
               });
}

// The finite values of the whole output and the background: a first pass
// over the planes, so that an integer output's scale fits what it holds.
ValueRange output_range(const VolumeMapping &source, const Mat4 &to_source, const std::array<int64_t, 3> &dim,
                        const ResliceOptions &options) {
  ValueRange range{options.background, options.background};
  const auto plane = static_cast<std::size_t>(dim[0] * dim[1]);
  each_plane(source, to_source, dim, options, "measuring", [&](const double *values) {
    for (const double *v = values; v != values + plane; ++v)
      if (std::isfinite(*v)) {
        range.low = std::min(range.low, *v);
        range.high = std::max(range.high, *v);
      }
  });
  return range;
}

// An integer output keeps the source's scaling when asked for the source's
// type and that scaling stores the background; else the range is measured.
void choose_scaling(NiftiLayout *layout, const NiftiHeader &source_header, const VolumeMapping &source,
                    const Mat4 &to_source, const ResliceOptions &options, const std::string &out_path) {
  if (!is_integer_type(*layout->datatype)) return;
  // Refused before the measuring pass, which it would only waste.
  check_background_storable(*layout->datatype, options.background, out_path);
  std::optional<StoredScaling> own;
  if (is_integer_type(*source_header.datatype)) own = StoredScaling{source_header.scale, source_header.offset};
  const double b = options.background;
  if (options.datatype == "source" && own && represents(*own, *layout->datatype, ValueRange{b, b}, b)) {
    layout->scale = own->scale;
    layout->offset = own->offset;
    return;
  }
  const ValueRange range = output_range(source, to_source, layout->dim, options);
  const StoredScaling chosen =
      choose_integer_scaling(*layout->datatype, range, b, own, layout->version == 1, out_path);
  layout->scale = chosen.scale;
  layout->offset = chosen.offset;
}

}  // namespace

Mat4 reference_to_source(const Mat4 &source_matrix, const Mat4 &reference_matrix, const ResliceOptions &options,
                         const std::string &source_name) {
  Mat4 source_inverse{};
  if (!invert(source_matrix, &source_inverse)) fail(source_name, "its voxel-to-world matrix is singular");
  Mat4 affine_inverse{};
  if (!invert(options.affine, &affine_inverse)) fail(options.affine_name, "the affine is singular");
  return multiply(source_inverse, multiply(affine_inverse, reference_matrix));
}

std::string output_datatype_problem(const std::string &datatype) {
  static const char *const kOutputTypes[] = {"int8",   "uint8",   "int16",   "uint16", "int32",
                                             "uint32", "float32", "float64", "source"};
  for (const char *known : kOutputTypes)
    if (datatype == known) return "";
  return quoted(datatype) + " is none of int8, uint8, int16, uint16, int32, uint32, float32, float64, source";
}

void reslice(const VolumeMapping &source, const NiftiHeader &source_header, const NiftiHeader &reference,
             const ResliceOptions &options, const std::string &out_path) {
  const Mat4 to_source =
      reference_to_source(source.voxel_to_world(), one_based_matrix(reference), options, source.name());
  NiftiLayout layout = output_layout(source_header, reference, options.datatype);
  choose_scaling(&layout, source_header, source, to_source, options, out_path);
  NiftiWriter writer(out_path, layout);
  each_plane(source, to_source, layout.dim, options, "reslicing",
             [&](const double *plane) { writer.write_plane(plane); });
  source.check_unchanged();
  writer.finish();
}

Mat4 read_affine_file(const std::string &path) {
  LineReader reader(path);
  std::array<double, 16> rows{};
  std::size_t count = 0;
  std::string line;
  while (reader.next(&line)) {
    if (is_blank_or_comment(line)) continue;
    const std::string where = path + ":" + std::to_string(reader.line_number());
    if (count == 16) fail(where, "more than four rows in a 4x4 affine");
    const std::vector<std::string> fields = split_fields(line);
    if (fields.size() != 4) fail(where, "expected four numbers, found " + std::to_string(fields.size()) + " fields");
    for (const std::string &f : fields) {
      const std::optional<double> v = to_double(f);
      if (!v || !std::isfinite(*v)) fail(where, quoted(f) + " is not a finite number");
      rows[count++] = *v;
    }
  }
  if (count != 16) fail(path, "expected four rows of four numbers, found " + std::to_string(count / 4));
  if (rows[12] != 0 || rows[13] != 0 || rows[14] != 0 || rows[15] != 1)
    fail(path, "the last row of the affine must be 0 0 0 1");
  return from_rows(rows);
}

}  // namespace vacli
