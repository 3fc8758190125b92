// Writing single-file NIfTI images (.nii, or .nii.gz by name), plane by
// plane, in this machine's byte order.
#ifndef VOLACCESS_TOOLS_NIFTI_WRITER_H
#define VOLACCESS_TOOLS_NIFTI_WRITER_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nifti_header.h"
#include "output_file.h"

namespace vacli {

struct NiftiLayout {
  int version = 1;  // raised to 2 when a dimension does not fit NIfTI-1
  std::array<int64_t, 3> dim{1, 1, 1};
  const NiftiDatatype *datatype = nullptr;
  double scale = 1;   // real value = scale * stored + offset
  double offset = 0;
  NiftiGeometry geometry;
  std::string description;
};

// The header bytes (with the four-byte extension flag) of an image.
std::vector<unsigned char> nifti_header_bytes(const NiftiLayout &layout);

class NiftiWriter {
 public:
  // Compresses when the path ends in ".gz".
  NiftiWriter(const std::string &path, const NiftiLayout &layout);
  ~NiftiWriter();
  NiftiWriter(const NiftiWriter &) = delete;
  NiftiWriter &operator=(const NiftiWriter &) = delete;

  // The next plane: dim[0] * dim[1] real values, x fastest.
  void write_plane(const double *values);
  void write_plane(const std::vector<double> &values) { write_plane(values.data()); }
  // Checks that every plane came and gives the file its name.
  void finish();

 private:
  void put(const void *bytes, std::size_t n);

  NiftiLayout layout_;
  OutputFile file_;
  struct Gzip;
  std::unique_ptr<Gzip> gzip_;
  int64_t planes_written_ = 0;
  std::vector<unsigned char> buffer_;
};

}  // namespace vacli

#endif
