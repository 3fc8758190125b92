// Transform files as reslice reads them: the bytes become a file, which is
// recognised by its content and read whole; the .mat parser also takes the
// bytes directly, and the matrix reader takes the file too. A bad file may
// only be refused with a message.
#include <cstdint>
#include <string>

#include "errors.h"
#include "transforms.h"
#include "unique_fd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  try {
    for (const vaeng::MatVariable &v : vaeng::parse_mat4(data, size, "fuzz.mat"))
      vaeng::itk_transform_lps(v.name, v.values, {0, 0, 0}, "fuzz.mat");
  } catch (const vaeng::Error &) {
  }
  try {
    const vaeng::UniqueFd fd = vaeng::make_anonymous_file("fuzz");
    vaeng::write_all(fd.get(), data, size, "fuzz");
    const std::string path = vaeng::descriptor_path(fd.get());
    try {
      vaeng::read_transform_file(path);
    } catch (const vaeng::Error &) {
    }
    // The same bytes given to --affine: read as a matrix, or named as the
    // transform file they are.
    vaeng::read_matrix_file(path, "--affine");
  } catch (const vaeng::Error &) {
  }
  return 0;
}
