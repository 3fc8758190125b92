// Resampling a source image onto the grid of a reference image, through
// a chain of transforms, volume by volume for a series, in tiles shared
// among threads (tiled_reslice.h).
#ifndef VOLACCESS_ENGINE_RESLICING_H
#define VOLACCESS_ENGINE_RESLICING_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "integer_scaling.h"
#include "matrix.h"
#include "nifti_header.h"
#include "nifti_image.h"
#include "nifti_writer.h"
#include "output_guard.h"
#include "transform_chain.h"

namespace vaeng {

struct ResliceOptions {
  int32_t hold = 1;  // a hold code of the volume library, or kLabelHold
  double background = 0;
  // The output's datatype by name, or "source" for the source's own;
  // empty for the default (resliced_datatype). Integer outputs get a
  // scale and offset that store the background exactly (the source's own
  // when they do).
  std::string datatype;
  int64_t volume = 0;     // one volume (from 1), or 0 for every volume of a series
  bool clip = false;      // clamp each value to the voxels its kernel touched
  std::string mask_path;  // an image on the reference grid, or empty
  // Told of each plane done, in each pass over the output ("measuring",
  // "writing"): its label, planes done and planes in all; none for silence.
  std::function<void(const char *pass, int64_t done, int64_t total)> progress;
  int threads = 1;
};

// Why `datatype` names no output datatype ("'x' is none of int8, ...,
// source"), or an empty text when it names one.
std::string output_datatype_problem(const std::string &datatype);

// The datatype an output gets: the one asked for, else the source's for
// labels (which keep their type) and float32 for everything else.
std::string resliced_datatype(const ResliceOptions &options);

// Where the planes of an output go, once its layout is known: a NIfTI
// file, or an image built in memory.
class PlaneSink {
 public:
  virtual ~PlaneSink() = default;
  // The output in messages: a path, or the front door's word for it.
  const ScalingWords &words() const { return words_; }
  // Called once, before the first plane.
  virtual void start(const NiftiLayout &layout) = 0;
  // dim[0] * dim[1] values, x fastest, in file order.
  virtual void write_plane(const double *values) = 0;
  // After the last plane: completes the output.
  virtual void finish() = 0;
  // Where an output of `size` goes, for the output guard.
  virtual OutputPlace place(const OutputSize &size) const = 0;

 protected:
  explicit PlaneSink(ScalingWords words) : words_(std::move(words)) {}

 private:
  ScalingWords words_;
};

// A single-file NIfTI image, written once its layout is known.
class NiftiSink : public PlaneSink {
 public:
  void write_plane(const double *values) override { writer_->write_plane(values); }
  void finish() override { writer_->finish(); }

 protected:
  using PlaneSink::PlaneSink;
  std::unique_ptr<NiftiWriter> writer_;
};

// A .nii or .nii.gz file, named only when complete. `words.output` is
// the path, checked here for its ending.
class NiftiFileSink : public NiftiSink {
 public:
  explicit NiftiFileSink(ScalingWords words);
  void start(const NiftiLayout &layout) override;
  OutputPlace place(const OutputSize &size) const override { return nifti_output_place(words().output, size); }
};

// The image in the memory that `allocate` gives: it is called once with
// the image's size in bytes and returns memory that outlives the sink.
class NiftiMemorySink : public NiftiSink {
 public:
  NiftiMemorySink(ScalingWords words, std::function<unsigned char *(uint64_t)> allocate);
  void start(const NiftiLayout &layout) override;
  OutputPlace place(const OutputSize &size) const override { return OutputPlace{"", 0, voxel_bytes(size)}; }

 private:
  std::function<unsigned char *(uint64_t)> allocate_;
};

// The transform from reference voxel (i, j, k) to source voxel, both
// 1-based, for a chain of affine steps: inverse(source matrix) * chain *
// reference matrix.
Mat4 reference_to_source(const Mat4 &source_matrix, const Mat4 &reference_matrix, const Mat4 &chain,
                         const std::string &source_name);

// Resamples `source` onto the grid of `reference` through `chain` and
// gives the result, with the reference's geometry, to `sink`. A source
// series becomes an output series unless options.volume picks one
// volume. It installs no signal handler: the program holds a FaultGuard
// around it, for files that shrink meanwhile. Returns what storing
// changed (NaN stored as the background, values beyond the type), for the
// caller to tell.
StoringCounts reslice(const NiftiImage &source, const NiftiHeader &reference, const TransformChain &chain,
                      const ResliceOptions &options, PlaneSink &sink);

// The output's description: what was done, cut to the 79 characters a
// NIfTI header holds.
std::string reslice_description(const TransformChain &chain, const ResliceOptions &options);

}  // namespace vaeng

#endif
