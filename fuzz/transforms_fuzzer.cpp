// Transform files as reslice reads them: the bytes become a file, which is
// recognised by its content and read whole; the .mat parser also takes the
// bytes directly. A bad file may only be refused with a message.
#include <cstdint>
#include <string>

#include "cli_error.h"
#include "transforms.h"
#include "unique_fd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  try {
    for (const vacli::MatVariable &v : vacli::parse_mat4(data, size, "fuzz.mat"))
      vacli::itk_transform_lps(v.name, v.values, {0, 0, 0}, "fuzz.mat");
  } catch (const vacli::CliError &) {
  }
  try {
    const vacli::UniqueFd fd = vacli::make_anonymous_file("fuzz");
    vacli::write_all(fd.get(), data, size, "fuzz");
    vacli::read_transform_file(vacli::descriptor_path(fd.get()));
  } catch (const vacli::CliError &) {
  }
  return 0;
}
