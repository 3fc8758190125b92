// Image files as the command-line program reads them: header checks on the
// raw bytes, then the whole opening path (gzip included) on the same bytes
// and, for an image that opens, its mapping and samples at the corners and
// the centre of the volume. A bad file may only be refused with a message.
// Built once per format: VOLACCESS_FUZZ_FORMAT chooses the header parser
// and the name the bytes go by (NIfTI when it is not defined).
#include <cstdint>
#include <cstdio>
#include <string>

#include "calvex/host.h"
#include "errors.h"
#include "image_formats.h"
#include "nifti_header.h"
#include "nifti_image.h"
#include "volume_description.h"

namespace {

#if !defined(VOLACCESS_FUZZ_FORMAT)
constexpr const char *kName = "fuzz.nii";
vaeng::NiftiHeader parse_header(const uint8_t *data, size_t size) {
  return vaeng::parse_nifti_header(data, size, kName);
}
#else
constexpr const char *kName = "fuzz." VOLACCESS_FUZZ_FORMAT;
vaeng::NiftiHeader parse_header(const uint8_t *data, size_t size) {
  const std::string name = kName;
  if (name == "fuzz.mgh") return vaeng::parse_mgh_header(data, size, name).header;
  if (name == "fuzz.nrrd") return vaeng::parse_nrrd_header(data, size, name).header;
  return vaeng::parse_metaimage_header(data, size, name).header;
}
#endif

// Every header field the program later relies on must already be sound.
void use_header(const vaeng::NiftiHeader &h) {
  const vaeng::Mat4 m = vaeng::one_based_matrix(h);
  volatile double sink = m[0];
  (void)sink;
}

// The mapping must agree with the header checks: a header that passed
// them never makes the library read past the file.
void sample_image(const vaeng::NiftiImage &image) {
  const vaeng::MappedVolume volume(image, image.header().volumes);
  const VolumeMap &map = volume.map();
  const double lo = 1, hx = static_cast<double>(map.dim[0]), hy = static_cast<double>(map.dim[1]),
               hz = static_cast<double>(map.dim[2]);
  const double x[] = {lo, hx, (lo + hx) / 2}, y[] = {lo, hy, (lo + hy) / 2}, z[] = {lo, hz, (lo + hz) / 2};
  double out[3], gx[3], gy[3], gz[3];
  resample(3, &map, out, x, y, z, 1, 0);
  resample_d(3, &map, out, gx, gy, gz, x, y, z, 1, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::size_t allocations = calvex::live_allocations();
  try {
    use_header(parse_header(data, size));
  } catch (const vaeng::Error &) {
  }
  try {
    const vaeng::NiftiImage image = vaeng::NiftiImage::from_bytes(data, size, kName);
    use_header(image.header());
    sample_image(image);
  } catch (const vaeng::Error &) {
  }
  calvex::take_console();
  if (calvex::live_allocations() != allocations) __builtin_trap();
  return 0;
}
