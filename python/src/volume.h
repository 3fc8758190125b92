// volaccess.Volume: one volume of a NIfTI image, or all of them as a
// series, opened through the program's reading and checking code and
// mapped read-only by the library.
#ifndef VOLACCESS_PYTHON_VOLUME_H
#define VOLACCESS_PYTHON_VOLUME_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "matrix.h"
#include "nifti_image.h"
#include "point_sampling.h"
#include "volume_description.h"

namespace vapy {

// The image and its mappings, shared by the calls running on it: close()
// while another thread samples leaves the mappings to that call's end.
struct OpenVolume {
  // `index` from 1, or 0 for every volume of the image.
  OpenVolume(vaeng::NiftiImage opened, int64_t index);
  vaeng::NiftiImage image;
  int64_t volume;                                               // from 1; 0 when the whole series is open
  std::vector<std::unique_ptr<vaeng::VolumeMapping>> mappings;  // one per volume open, in order
  std::vector<const VolumeMap *> maps;                          // their records
  // Declared after the mappings: it stops watching them before they are unmapped.
  vaeng::ChangeCheck changes;

  // Raises OSError naming the voxel file when it changed on disk since it
  // was mapped: it is checked before and after each use of the voxels.
  void check_file() const;
  VolumeList volume_list() const { return {maps.data(), maps.size(), volume == 0}; }
};

class Volume {
 public:
  // `volume` counts from 0; none opens an image of several volumes whole,
  // as a series.
  Volume(vaeng::NiftiImage image, std::optional<int64_t> volume, std::string path);

  static Volume open(const std::string &path, std::optional<int64_t> volume);
  // `affine`, a 4x4 from 0-based voxel indices to world or None, replaces
  // the geometry of the header in `bytes`.
  static Volume from_bytes(const pybind11::bytes &bytes, const std::string &name, std::optional<int64_t> volume,
                           pybind11::handle affine);

  pybind11::object sample(pybind11::handle points, const std::string &space, pybind11::handle hold, double background,
                          bool gradient, std::optional<int> threads) const;
  pybind11::array slice(pybind11::handle matrix, std::pair<int64_t, int64_t> shape, pybind11::handle hold,
                        double background, std::optional<int> threads) const;

  void close() { open_.reset(); }
  bool closed() const { return !open_; }
  // The open volume, or ValueError when it was closed.
  std::shared_ptr<OpenVolume> checked_open() const;

  const pybind11::tuple &shape() const { return shape_; }
  const pybind11::dtype &dtype() const { return dtype_; }
  pybind11::array affine() const;
  double scale() const { return checked_open()->image.header().scale; }
  double offset() const { return checked_open()->image.header().offset; }
  pybind11::object path() const;
  int nifti_version() const { return checked_open()->image.header().version; }
  std::string repr() const;

 private:
  const vaeng::Mat4 &world_to_voxel() const;

  std::shared_ptr<OpenVolume> open_;
  std::string path_;
  pybind11::tuple shape_;
  pybind11::dtype dtype_;
  pybind11::array affine_;
  vaeng::Mat4 world_to_voxel_{};
  bool has_world_ = false;
};

// Makes Volume.sample of `volume_class` a method called through Python's
// vectorcall protocol, documented by `doc`.
void bind_sample_call(pybind11::handle volume_class, const char *doc);

// A 4x4 array-like written row by row, as a matrix in the library's
// layout; `what` names it in errors.
vaeng::Mat4 matrix_from_rows(pybind11::handle matrix, const std::string &what);

}  // namespace vapy

#endif
