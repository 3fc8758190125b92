// volaccess info: what an image holds and how the volume library sees it.
#include <algorithm>
#include <cstdio>
#include <string>

#include "arguments.h"
#include "commands.h"
#include "notes.h"
#include "text_numbers.h"
#include "volume_description.h"

namespace vacli {

namespace {

const char *byte_order(bool swapped) {
  const bool little = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
  return little != swapped ? "little-endian" : "big-endian";
}

// Only the header is read: a compressed image stays compressed. The
// voxels of an uncompressed one are mapped, which checks that the file
// holds the volume without reading it.
void run_info(const Arguments &args) {
  const std::string path = args.only_positional("an IMAGE");
  const int64_t volume = volume_option(args);
  const NiftiImage image = NiftiImage::open_header(path);
  check_volume_index(image, volume);
  if (!image.compressed()) {
    const MappedVolume mapped(image, volume);
  }
  const NiftiHeader &h = image.header();
  VolumeMap map{};
  for (std::size_t i = 0; i < 3; ++i) map.dim[i] = static_cast<uint64_t>(h.dim[i]);
  const Mat4 matrix = one_based_matrix(h);
  std::copy(matrix.begin(), matrix.end(), map.mat);
  double vox[3];
  voxdim(&map, vox);

  std::printf("file:        %s (%s%s)\n", image.name().c_str(), format_label(h).c_str(),
              image.compressed() ? ", gzip-compressed" : "");
  std::printf("dimensions:  %llu x %llu x %llu, %lld volume%s\n", static_cast<unsigned long long>(map.dim[0]),
              static_cast<unsigned long long>(map.dim[1]), static_cast<unsigned long long>(map.dim[2]),
              static_cast<long long>(h.volumes), h.volumes == 1 ? "" : "s");
  std::printf("datatype:    %s (code %d), %s%s\n", h.datatype->name, h.datatype->code, byte_order(h.swapped),
              h.swapped ? " (swapped on this machine)" : "");
  std::printf("voxel sizes: %s %s %s\n", shortest_text(vox[0]).c_str(), shortest_text(vox[1]).c_str(),
              shortest_text(vox[2]).c_str());
  std::printf("scale:       %s\noffset:      %s\n", shortest_text(h.scale).c_str(), shortest_text(h.offset).c_str());
  std::printf("matrix:      from %s, 1-based voxel coordinates to world\n", h.matrix_source);
  for (int r = 0; r < 4; ++r) {
    std::printf("            ");
    for (int c = 0; c < 4; ++c) std::printf(" %s", shortest_text(map.mat[4 * c + r]).c_str());
    std::printf("\n");
  }
  std::printf("voxels:      %s, volume %lld at byte %llu\n", image.data_name().c_str(), static_cast<long long>(volume),
              static_cast<unsigned long long>(volume_position(h, volume)));
  print_placement_notes(h, image.name());
}

}  // namespace

const CommandDef &info_command() {
  static const CommandDef command{
      "info",
      "IMAGE",
      "dimensions, datatype, voxel sizes, scaling, matrix, file",
      "IMAGE [--volume T]",
      "Prints the dimensions, the datatype and byte order, the voxel sizes, the scale and\n"
      "offset of the voxel values, the 4x4 voxel-to-world matrix (for 1-based voxel\n"
      "coordinates) and where the voxels lie: the file and the byte position of volume T.\n",
      {kVolumeOption},
      run_info};
  return command;
}

}  // namespace vacli
