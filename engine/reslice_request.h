// A reslice as its front doors ask for it, in values they have already
// parsed: the output grid (a reference's, or new voxel sizes), the chain
// of transforms (files, a FLIRT matrix or a world affine) and the values'
// options. The rules that tie the arguments together live here, once;
// messages name the arguments in the words of the front door that asked.
#ifndef VOLACCESS_ENGINE_RESLICE_REQUEST_H
#define VOLACCESS_ENGINE_RESLICE_REQUEST_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "matrix.h"
#include "nifti_header.h"
#include "nifti_image.h"
#include "reslicing.h"
#include "transform_chain.h"

namespace vaeng {

// The arguments of a reslice that messages name; front doors keep their
// names in tables of kResliceArguments entries in this order.
enum class ResliceArgument {
  kLike,
  kVoxelSize,
  kShape,
  kTransforms,
  kFsl,
  kAffine,
  kBackground,
  kDatatype,
  kLargeOutput
};
constexpr std::size_t kResliceArguments = 9;

// How a front door speaks of its arguments: the program of its options
// ("--voxel-size"), Python of its keywords ("voxel_size").
struct ArgumentWords {
  std::string caller;     // who asks: "'reslice'", "reslice()"
  std::string help_hint;  // added where an argument is missing
  // The argument as its users write it.
  std::string (*name)(ResliceArgument) = nullptr;
  // The argument given a value, as its users write it: "--datatype float32".
  std::string (*with_value)(ResliceArgument, const std::string &value) = nullptr;
  // The values as the user wrote them, for messages that show one.
  std::map<ResliceArgument, std::string> written;
};

// A 4x4 world matrix: read from a file (named in the output's
// description), or given in memory.
struct MatrixArgument {
  std::string path;
  std::optional<Mat4> matrix;
  bool given() const { return !path.empty() || matrix.has_value(); }
};

struct ResliceRequest {
  // The output grid: a reference image's (a path, or a header in memory),
  // or voxels of voxel_size mm on the source's axes, shape of them or as
  // many as cover its field of view.
  std::string like;
  std::optional<NiftiHeader> like_header;
  std::optional<Vec3> voxel_size;
  std::optional<std::array<int64_t, 3>> shape;
  // At most one kind of transform: files (the last applied first), a
  // FLIRT matrix from source to reference, or a world affine that moves
  // the source onto the output.
  std::vector<TransformOption> transforms;
  MatrixArgument fsl;
  MatrixArgument affine;
  ResliceOptions options;
  // An output larger than its place can hold (output_guard.h) is written
  // all the same.
  bool large_output = false;
};

// What a reslice made: the output grid, and what storing changed.
struct ResliceResult {
  NiftiHeader grid;
  StoringCounts stored;
};

// Checks what needs no file, before any is opened: the grid's and the
// transforms' arguments go together, sizes are positive, the datatype is
// known and a world affine given in memory is one.
void check_request(const ResliceRequest &request, const ArgumentWords &words);

// Opens the source at `path` as the request reads it: of a compressed
// series, only the chosen volume is decompressed.
NiftiImage open_reslice_source(const std::string &path, const ResliceRequest &request);

// Runs a checked request on `source` into `sink`, after weighing the
// output against its place unless the request says large_output.
ResliceResult run_reslice(const ResliceRequest &request, const NiftiImage &source, const ArgumentWords &words,
                          PlaneSink &sink);

}  // namespace vaeng

#endif
