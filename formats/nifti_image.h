// A NIfTI image opened for sampling: its checked header and an open
// descriptor of the file that holds its voxels. Compressed files are
// decompressed once into an unnamed file, which vanishes with the
// descriptor whatever happens.
#ifndef VOLACCESS_FORMATS_NIFTI_IMAGE_H
#define VOLACCESS_FORMATS_NIFTI_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "nifti_header.h"
#include "unique_fd.h"

struct gzFile_s;

namespace vaeng {

// The contents of one file, decompressed when it was gzip data. Only as
// much of a gzip stream is decompressed as the image needs; whatever
// follows is never read. `fd` is not valid when the voxels were left
// compressed because only the header was wanted.
struct FileContent {
  UniqueFd fd;
  uint64_t size = 0;
  bool compressed = false;
  bool sealed = false;  // an anonymous file that can never shrink
};

class NiftiImage {
 public:
  // A .nii or .nii.gz file, or either half of a .hdr/.img pair (also
  // gzip-compressed). Compressed voxels are decompressed up to the end of
  // volume `volume` (from 1; 0 for all volumes), after checking that the
  // memory this takes is a sane share of what the program may use.
  static NiftiImage open(const std::string &path, int64_t volume = 0);
  // The same, but compressed voxels are left compressed (data_fd() is
  // then not valid): for uses that need the header and the files alone.
  static NiftiImage open_header(const std::string &path);
  // A single-file image held in memory (.nii or .nii.gz bytes).
  static NiftiImage from_bytes(const void *bytes, std::size_t size, const std::string &name);
  // Only the header of an image, for uses that need its geometry alone;
  // a compressed file is decompressed no further than its header.
  static NiftiHeader read_header(const std::string &path);

  const NiftiHeader &header() const { return header_; }
  // Replaces the header's voxel-to-world matrix (from 0-based voxel
  // indices), for an image whose geometry is kept apart from its header.
  void set_voxel_to_world(const Mat4 &voxel_to_world) { header_.voxel_to_world = voxel_to_world; }
  // The name the user gave, and the file that holds the voxels.
  const std::string &name() const { return name_; }
  const std::string &data_name() const { return data_name_; }
  bool compressed() const { return data_.compressed; }
  // Whether the voxel file is a private copy that can never shrink, so
  // that its mapping needs no checking before use.
  bool size_sealed() const { return data_.sealed; }
  int data_fd() const { return data_.fd.get(); }
  uint64_t data_size() const { return data_.size; }

 private:
  NiftiImage(std::string name, std::string data_name, NiftiHeader header, FileContent data);
  // No volume: the voxels are left compressed.
  static NiftiImage open_image(const std::string &path, std::optional<int64_t> volume);

  std::string name_;
  std::string data_name_;
  NiftiHeader header_;
  FileContent data_;
};

// The header file and the voxel file of an image named `path`: one file
// for .nii, the two halves of a pair for .hdr or .img (with or without .gz).
struct ImageFileNames {
  std::string header;
  std::string data;
};
ImageFileNames image_file_names(const std::string &path);

// Why a gzip stream failed: the system's reason for a failed read or
// write, else zlib's message without its "<fd:N>: " prefix.
std::string gzip_reason(gzFile_s *gz);

}  // namespace vaeng

#endif
