#include "reslicing.h"

#include <cmath>
#include <vector>

#include "cli_error.h"
#include "line_reader.h"
#include "nifti_writer.h"
#include "progress.h"
#include "slicing.h"
#include "text_numbers.h"

namespace vacli {

namespace {

NiftiLayout output_layout(const NiftiHeader &source, const NiftiHeader &reference, OutputType type) {
  NiftiLayout layout;
  layout.version = reference.version;
  layout.dim = reference.dim;
  layout.geometry = reference.geometry;
  layout.description = "volaccess reslice";
  switch (type) {
    case OutputType::Float32: layout.datatype = find_nifti_datatype(16); break;
    case OutputType::Float64: layout.datatype = find_nifti_datatype(64); break;
    case OutputType::Source:
      layout.datatype = source.datatype;
      layout.scale = source.scale;
      layout.offset = source.offset;
      break;
  }
  return layout;
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

void reslice(const MappedVolume &source, const NiftiHeader &source_header, const NiftiHeader &reference,
             const ResliceOptions &options, const std::string &out_path) {
  const Mat4 to_source =
      reference_to_source(source.voxel_to_world(), one_based_matrix(reference), options, source.name());
  const auto width = static_cast<int32_t>(reference.dim[0]);
  const auto height = static_cast<int32_t>(reference.dim[1]);
  NiftiWriter writer(out_path, output_layout(source_header, reference, options.type));
  ProgressBar bar("reslicing", reference.dim[2], options.progress);
  for (int64_t k = 1; k <= reference.dim[2]; ++k) {
    const Mat4 plane = multiply(to_source, translation4(0, 0, static_cast<double>(k)));
    const SliceImage image = cut_slice(source, plane, width, height, options.hold, options.background);
    writer.write_plane(image.pixels);
    bar.update(k);
  }
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
      if (!v || !std::isfinite(*v)) fail(where, "'" + f + "' is not a finite number");
      rows[count++] = *v;
    }
  }
  if (count != 16) fail(path, "expected four rows of four numbers, found " + std::to_string(count / 4));
  if (rows[12] != 0 || rows[13] != 0 || rows[14] != 0 || rows[15] != 1)
    fail(path, "the last row of the affine must be 0 0 0 1");
  return from_rows(rows);
}

}  // namespace vacli
