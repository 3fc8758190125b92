// Writing images plane by plane: single-file NIfTI (.nii, or .nii.gz by
// name), in this machine's byte order, or one of the other formats the
// name asks for (image_formats.h). A NIfTI header is completed at the end,
// when cal_min and cal_max, the range of the written values, are known.
#ifndef VOLACCESS_FORMATS_NIFTI_WRITER_H
#define VOLACCESS_FORMATS_NIFTI_WRITER_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image_formats.h"
#include "nifti_header.h"
#include "output_file.h"
#include "stored_values.h"
#include "unique_fd.h"

namespace vaeng {

struct NiftiLayout {
  int version = 1;  // raised to 2 when a dimension does not fit NIfTI-1
  std::array<int64_t, 3> dim{1, 1, 1};
  const NiftiDatatype *datatype = nullptr;
  double scale = 1;  // real value = scale * stored + offset
  double offset = 0;
  NiftiGeometry geometry;
  // Dimensions beyond the third (a series of volumes), their steps and the
  // intent; the default is one 3-D volume.
  NiftiSeries series;
  std::string description;  // cut to the 79 bytes the header holds
  double cal_min = 0;       // display range; 0 and 0 mean none
  double cal_max = 0;
};

// The header bytes (with the four-byte extension flag) of an image.
std::vector<unsigned char> nifti_header_bytes(const NiftiLayout &layout);

// The number of 3-D volumes the layout's series holds.
int64_t series_volumes(const NiftiLayout &layout);

// The size of the single-file image of a layout: its header and voxels.
uint64_t nifti_file_bytes(const NiftiLayout &layout);

class NiftiWriter {
 public:
  // The format and compression by name (output_format()).
  NiftiWriter(const std::string &path, const NiftiLayout &layout);
  // The same image built in `memory`, which holds nifti_file_bytes(layout)
  // bytes and outlives the writer; `name` names it in errors.
  NiftiWriter(unsigned char *memory, const NiftiLayout &layout, std::string name);
  ~NiftiWriter();
  NiftiWriter(const NiftiWriter &) = delete;
  NiftiWriter &operator=(const NiftiWriter &) = delete;

  // The next plane: dim[0] * dim[1] real values, x fastest; the planes of
  // the first volume, then of the second, and so on.
  void write_plane(const double *values);
  void write_plane(const std::vector<double> &values) { write_plane(values.data()); }
  // Checks that every plane came, sets cal_min and cal_max to the range of
  // the values as stored, and gives the file its name.
  void finish();

 private:
  void put(const std::vector<unsigned char> &bytes, uint64_t at);
  void compress_into_output();
  std::vector<unsigned char> header_bytes() const;

  NiftiLayout layout_;
  std::string path_;  // as the caller named it
  OutputFormat format_;
  std::string name_;  // the file the voxels go to, or the image in memory
  // The voxels, after the header unless the format keeps that apart; none
  // for an image in memory.
  std::unique_ptr<OutputFile> file_;
  std::unique_ptr<OutputFile> header_file_;
  unsigned char *memory_ = nullptr;
  // The uncompressed image: the output file itself, or for .gz an unnamed
  // file compressed into the output at the end.
  UniqueFd staging_;
  int raw_fd_ = -1;
  bool compress_ = false;
  uint64_t position_ = 0;
  int64_t planes_written_ = 0;
  StoredRange range_;
  std::vector<unsigned char> buffer_;
};

}  // namespace vaeng

#endif
