#include "notes.h"

#include <cstdio>

#include "arguments.h"

namespace vacli {

void print_note(const std::string &text) {
  if (!text.empty()) std::fprintf(stderr, "volaccess: note: %s\n", text.c_str());
}

std::string unoriented_note(const NiftiHeader &header, const std::string &image) {
  if (header.geometry.qform_code != 0 || header.geometry.sform_code != 0) return "";
  return image +
         " has qform and sform codes 0: its world coordinates come from the voxel sizes alone, with voxel 0 at "
         "the origin (other programs may place it elsewhere)";
}

std::string integer_source_note(const NiftiHeader &header, int32_t hold, const std::string &image) {
  const std::string type = header.datatype->name;
  const bool integer = type != "float32" && type != "float64";
  // A scaled integer image holds measurements, not labels.
  if (!integer || header.scale != 1 || header.offset != 0 || hold == 0 || hold == kLabelHold) return "";
  return image + " holds " + type + " integers, mostly label maps: --hold " + std::to_string(hold) +
         " blends neighbouring labels; --hold label keeps them whole, --hold 0 takes the nearest voxel (--quiet "
         "silences this note)";
}

}  // namespace vacli
