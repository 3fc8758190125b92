#include "hdf5_transforms.h"

#include <hdf5.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "errors.h"
#include "header_text.h"
#include "image_formats.h"
#include "memory_budget.h"
#include "nifti_writer.h"
#include "unique_fd.h"

namespace vaeng {

namespace {

constexpr unsigned char kSignature[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};

// An HDF5 identifier, closed by its own kind's function.
class Handle {
 public:
  Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
  ~Handle() {
    if (id_ >= 0) close_(id_);
  }
  Handle(Handle &&other) noexcept : id_(other.id_), close_(other.close_) { other.id_ = -1; }
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  Handle &operator=(Handle &&) = delete;
  hid_t get() const { return id_; }
  bool valid() const { return id_ >= 0; }

 private:
  hid_t id_;
  herr_t (*close_)(hid_t);
};

bool exists(hid_t file, const std::string &path) { return H5Lexists(file, path.c_str(), H5P_DEFAULT) > 0; }

Handle open_dataset(hid_t file, const std::string &path, const std::string &where) {
  Handle set(H5Dopen2(file, path.c_str(), H5P_DEFAULT), H5Dclose);
  if (!set.valid()) fail(where, "has no readable dataset " + path);
  return set;
}

std::string read_type_name(hid_t file, const std::string &path, const std::string &where) {
  const Handle set = open_dataset(file, path, where);
  const Handle stored(H5Dget_type(set.get()), H5Tclose);
  const Handle space(H5Dget_space(set.get()), H5Sclose);
  if (!stored.valid() || H5Tget_class(stored.get()) != H5T_STRING || H5Sget_simple_extent_npoints(space.get()) != 1)
    fail(where, path + " is not one string");
  if (H5Tis_variable_str(stored.get()) > 0) {
    const Handle memory(H5Tcopy(H5T_C_S1), H5Tclose);
    H5Tset_size(memory.get(), H5T_VARIABLE);
    char *text = nullptr;
    if (H5Dread(set.get(), memory.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, &text) < 0 || !text)
      fail(where, "cannot read " + path);
    std::string out = text;
    H5free_memory(text);
    return out;
  }
  const std::size_t size = H5Tget_size(stored.get());
  if (size == 0 || size > 4096) fail(where, path + " is not a transform type name");
  std::string out(size, '\0');
  if (H5Dread(set.get(), stored.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, out.data()) < 0)
    fail(where, "cannot read " + path);
  return out.substr(0, strnlen(out.c_str(), size));
}

// A dataset of numbers, as doubles; ITK once wrote the names misspelled.
std::vector<double> read_numbers(hid_t file, const std::string &group, const char *name, const char *misspelled,
                                 const std::string &where) {
  std::string path = group + "/" + name;
  if (!exists(file, path) && exists(file, group + "/" + misspelled)) path = group + "/" + misspelled;
  if (!exists(file, path)) return {};
  const Handle set = open_dataset(file, path, where);
  const Handle stored(H5Dget_type(set.get()), H5Tclose);
  const Handle space(H5Dget_space(set.get()), H5Sclose);
  const H5T_class_t kind = H5Tget_class(stored.get());
  const hssize_t n = H5Sget_simple_extent_npoints(space.get());
  if ((kind != H5T_FLOAT && kind != H5T_INTEGER) || n < 0) fail(where, path + " is not a list of numbers");
  check_memory_share(static_cast<uint64_t>(n) * sizeof(double), where, "reading " + path);
  std::vector<double> values(static_cast<std::size_t>(n));
  if (n > 0 && H5Dread(set.get(), H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) < 0)
    fail(where, "cannot read " + path);
  for (double v : values)
    if (!std::isfinite(v)) fail(where, path + " holds a number that is not finite");
  return values;
}

// ITK's fixed parameters of a field: size, origin, spacing, direction
// (row by row), all in LPS.
constexpr std::size_t kFieldFixed = 18;

// The field of a DisplacementFieldTransform as a NIfTI vector image (x, y,
// z, 1, 3) of float64 in an unnamed file.
FileTransform field_entry(const std::vector<double> &p, const std::vector<double> &fixed, const std::string &where) {
  if (fixed.size() != kFieldFixed)
    fail(where, "a displacement field needs 18 fixed parameters, not " + std::to_string(fixed.size()));
  NiftiLayout layout;
  layout.version = 2;
  uint64_t voxels = 1;
  for (std::size_t i = 0; i < 3; ++i) {
    if (!(fixed[i] >= 1 && fixed[i] <= 2147483647.0) || fixed[i] != std::floor(fixed[i]))
      fail(where, "the field's size is not a whole number of voxels");
    layout.dim[i] = static_cast<int64_t>(fixed[i]);
    voxels *= static_cast<uint64_t>(layout.dim[i]);
  }
  if (p.size() != 3 * voxels)
    fail(where, "the field holds " + std::to_string(p.size()) + " numbers, not 3 per voxel (" +
                    std::to_string(3 * voxels) + ")");
  // The field is read back under a name of no use to the user: what it
  // could refuse is refused here, naming the file.
  Mat4 lps = identity4();
  Mat4 inverse{};
  for (std::size_t c = 0; c < 3; ++c) {
    for (std::size_t r = 0; r < 3; ++r) lps[4 * c + r] = fixed[9 + 3 * r + c] * fixed[6 + c];
    lps[12 + c] = fixed[3 + c];
  }
  if (!invert(lps, &inverse))
    fail(where, "the field's grid is singular (a spacing of 0, or directions not independent)");
  layout.datatype = find_nifti_datatype(64);
  layout.geometry = geometry_from_matrix(flip_xy(lps));
  layout.series.rank = 5;
  layout.series.dim = {1, 3, 1, 1};
  layout.series.intent_code = kNiftiIntentVector;
  auto file = std::make_shared<UniqueFd>(make_anonymous_file(where));
  const std::vector<unsigned char> header = nifti_header_bytes(layout);
  write_all(file->get(), header.data(), header.size(), where);
  std::vector<double> component(voxels);
  for (std::size_t c = 0; c < 3; ++c) {
    for (std::size_t v = 0; v < voxels; ++v) component[v] = p[3 * v + c];
    write_all(file->get(), component.data(), component.size() * sizeof(double), where);
  }
  FileTransform t;
  t.kind = FileTransform::Kind::Field;
  t.field_path = descriptor_path(file->get());
  t.field_file = file;
  t.name = where;
  return t;
}

bool is_field(const std::string &type) { return type.rfind("DisplacementFieldTransform_", 0) == 0; }

}  // namespace

bool is_hdf5_start(const unsigned char *bytes, std::size_t size) {
  return size >= sizeof kSignature && std::memcmp(bytes, kSignature, sizeof kSignature) == 0;
}

std::vector<FileTransform> read_hdf5_transforms(const std::string &path) {
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  const Handle file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
  if (!file.valid()) fail(path, "cannot be read as an HDF5 file");
  if (!exists(file.get(), "/TransformGroup")) fail(path, "is an HDF5 file without ITK's /TransformGroup");
  std::vector<FileTransform> out;
  for (int i = 0;; ++i) {
    const std::string group = "/TransformGroup/" + std::to_string(i);
    if (!exists(file.get(), group)) break;
    const std::string where = path + " (transform " + std::to_string(i) + ")";
    const std::string type = read_type_name(file.get(), group + "/TransformType", where);
    if (type.rfind("CompositeTransform_", 0) == 0) continue;
    const std::vector<double> p = read_numbers(file.get(), group, "TransformParameters", "TranformParameters", where);
    const std::vector<double> fixed =
        read_numbers(file.get(), group, "TransformFixedParameters", "TranformFixedParameters", where);
    if (is_field(type)) {
      out.push_back(field_entry(p, fixed, where));
      continue;
    }
    FileTransform t;
    t.ras = lps_to_ras(itk_transform_lps(type, p, fixed, where));
    t.name = where;
    out.push_back(t);
  }
  if (out.empty()) fail(path, "holds no transform");
  return out;
}

}  // namespace vaeng
