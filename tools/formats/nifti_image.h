// A NIfTI image opened for sampling: its checked header and an open
// descriptor of the file that holds its voxels. Compressed files are
// decompressed once into an unnamed file, which vanishes with the
// descriptor whatever happens.
#ifndef VOLACCESS_TOOLS_NIFTI_IMAGE_H
#define VOLACCESS_TOOLS_NIFTI_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "nifti_header.h"
#include "unique_fd.h"

namespace vacli {

// The contents of one file, decompressed when it was gzip data.
struct FileContent {
  UniqueFd fd;
  uint64_t size = 0;
  bool compressed = false;
  bool sealed = false;  // an anonymous file that can never shrink
};

// Opens `path` (a regular file); gzip data, recognised by its first
// bytes, is decompressed into an unnamed file.
FileContent open_content(const std::string &path);
// The same for bytes in memory, named `name` in errors.
FileContent content_from_bytes(const void *bytes, std::size_t size, const std::string &name);

class NiftiImage {
 public:
  // A .nii or .nii.gz file, or either half of a .hdr/.img pair (also
  // gzip-compressed).
  static NiftiImage open(const std::string &path);
  // A single-file image held in memory (.nii or .nii.gz bytes).
  static NiftiImage from_bytes(const void *bytes, std::size_t size, const std::string &name);
  // Only the header of an image, for uses that need its geometry alone.
  static NiftiHeader read_header(const std::string &path);

  const NiftiHeader &header() const { return header_; }
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

}  // namespace vacli

#endif
