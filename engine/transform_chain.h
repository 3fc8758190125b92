// The chain of transforms that takes a point of the output grid to the
// source: affine steps and displacement fields, applied one after the
// other to world points (RAS millimetres).
#ifndef VOLACCESS_ENGINE_TRANSFORM_CHAIN_H
#define VOLACCESS_ENGINE_TRANSFORM_CHAIN_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "matrix.h"
#include "nifti_image.h"
#include "transforms.h"
#include "volume_description.h"

namespace vaeng {

// p -> m p for n points in place, each coordinate summed in the order x,
// y, z, then the translation, like the reslice grid.
void apply_affine(const Mat4 &m, double *x, double *y, double *z, std::size_t n);

// One transform file of a chain, and whether its inverse is meant.
struct TransformOption {
  std::string path;
  bool inverse = false;
};
// What follows a file's name where its inverse is meant: the program's
// "FILE,inverse", and the chain's names in an output's description.
inline constexpr char kInverseSuffix[] = ",inverse";

// A displacement field ready for sampling: its three components mapped,
// and the matrix from world points to its 1-based voxel coordinates.
class DisplacementField {
 public:
  explicit DisplacementField(const std::string &path);
  // Adds the displacement at each world point (RAS) to it. Points outside
  // the field (beyond half a voxel from its outer voxel centres) stay put;
  // within that half voxel the field holds its rim value.
  void displace(double *x, double *y, double *z, std::size_t n) const;
  // Fails when the field's file has changed on disk (VolumeMapping).
  void check_unchanged() const;

 private:
  NiftiImage image_;
  std::unique_ptr<VolumeMapping> components_[3];
  Mat4 world_to_voxel_{};
  std::array<int64_t, 3> dim_{};
};

class TransformChain {
 public:
  // An empty chain: output world points are source world points.
  TransformChain() = default;
  // The chain of transform files in the order given: the last one is
  // applied first to the output grid's points, as a registration's
  // transform list is read.
  static TransformChain from_options(const std::vector<TransformOption> &options);

  // Appends a step applied after those already there.
  void then_affine(const Mat4 &ras);
  void then_field(const std::string &path);

  // True when every step is affine, so that the whole chain is one matrix.
  bool linear() const;
  // That matrix: output world point to source world point.
  Mat4 composed() const;
  // Takes n world points of the output through every step, in place.
  void map_points(double *x, double *y, double *z, std::size_t n) const;
  // Fails when a field's file has changed on disk since it was mapped.
  void check_unchanged() const;
  // The files of the chain, as the user named them, for the output's description.
  const std::vector<std::string> &names() const { return names_; }
  void add_name(const std::string &name) { names_.push_back(name); }

 private:
  struct Step {
    Mat4 affine = identity4();
    std::shared_ptr<DisplacementField> field;  // set for a field step
  };
  std::vector<Step> steps_;
  std::vector<std::string> names_;
};

}  // namespace vaeng

#endif
