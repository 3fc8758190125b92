// The size of an output, weighed before any of it is computed: an output
// that cannot fit where it goes (the free space of its file system, or
// the memory the program may use) is refused with its size, its grid and
// the likely cause, instead of filling the disk or the memory first.
#ifndef VOLACCESS_ENGINE_OUTPUT_GUARD_H
#define VOLACCESS_ENGINE_OUTPUT_GUARD_H

#include <cstdint>
#include <string>
#include <vector>

#include "nifti_header.h"

namespace vaeng {

// An output's voxels: their counts (x first, a series' volumes last) and
// the stored type.
struct OutputSize {
  std::vector<int64_t> shape;
  std::string type;  // "float32", ...
  uint64_t value_bytes = 0;
};

// The bytes of the voxels, UINT64_MAX when they would not fit the count.
uint64_t voxel_bytes(const OutputSize &size);

// "300x300x200 voxels of float32"
std::string grid_text(const OutputSize &size);

// Where the output goes: `file` (a file or a store; empty for a result
// held in memory alone) must have room for `file_bytes` on its folder's
// file system, and `memory_bytes` are held in memory while it is made.
struct OutputPlace {
  std::string file;
  uint64_t file_bytes = 0;
  uint64_t memory_bytes = 0;
};

// Refuses (ArgumentError naming the output) a place whose file system has
// less space free than file_bytes, or memory_bytes beyond half the memory
// this program may use. `advice` ends the message: the likely cause and
// how to ask for the output all the same. A file that exists and is not
// a regular one (a FIFO, a device) takes no room.
void check_output_size(const OutputSize &size, const OutputPlace &place, const std::string &advice);

// The voxels of a reslice of `source` onto `grid` stored as `datatype`
// (a name, or "source"): every volume of a series unless `volume` (from 1)
// picks one.
OutputSize reslice_output_size(const NiftiHeader &source, const NiftiHeader &grid, const std::string &datatype,
                               int64_t volume);

// Where a NIfTI output of that size goes: the file at `path`; for .nii.gz
// the uncompressed image, staged in memory, stands for it.
OutputPlace nifti_output_place(const std::string &path, const OutputSize &size);

// The free bytes of the file system holding the folder of `path`, or
// UINT64_MAX when it cannot be told (the folder is missing: writing will
// say so).
uint64_t free_space_for(const std::string &path);

}  // namespace vaeng

#endif
