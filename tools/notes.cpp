#include "notes.h"

#include <nifti2_io.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "arguments.h"
#include "text_numbers.h"

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

std::string forms_note(const NiftiHeader &header, const std::string &image) {
  const NiftiGeometry &g = header.geometry;
  if (g.qform_code <= 0 || g.sform_code <= 0) return "";
  const nifti_dmat44 q = nifti_quatern_to_dmat44(g.quatern[0], g.quatern[1], g.quatern[2], g.qoffset[0], g.qoffset[1],
                                                 g.qoffset[2], g.pixdim[0], g.pixdim[1], g.pixdim[2], g.qfac);
  double farthest = 0;
  for (int corner = 0; corner < 8; ++corner) {
    double v[3];
    for (int a = 0; a < 3; ++a)
      v[a] = (corner >> a) & 1 ? static_cast<double>(header.dim[static_cast<std::size_t>(a)] - 1) : 0.0;
    double squared = 0;
    for (int r = 0; r < 3; ++r) {
      const auto row = static_cast<std::size_t>(4 * r);
      const double by_qform = q.m[r][0] * v[0] + q.m[r][1] * v[1] + q.m[r][2] * v[2] + q.m[r][3];
      const double by_sform = g.srow[row] * v[0] + g.srow[row + 1] * v[1] + g.srow[row + 2] * v[2] + g.srow[row + 3];
      squared += (by_qform - by_sform) * (by_qform - by_sform);
    }
    farthest = std::max(farthest, std::sqrt(squared));
  }
  if (!(farthest > 0.01)) return "";
  char mm[32];
  std::snprintf(mm, sizeof mm, "%.3g", farthest);
  return image + " has a qform and an sform that place its corners up to " + mm +
         " mm apart: the sform is used, as nibabel does (ITK uses the qform, so its results differ)";
}

void print_placement_notes(const NiftiHeader &header, const std::string &image) {
  print_note(unoriented_note(header, image));
  print_note(forms_note(header, image));
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

std::string storing_note(const StoringCounts &counts, const std::string &type, double background,
                         const std::string &output) {
  std::string text;
  if (counts.not_a_number > 0)
    text = std::to_string(counts.not_a_number) + " voxels of " + output + " were not a number, which " + type +
           " cannot hold: they store the background, " + shortest_text(background) + " (--datatype float32 keeps them)";
  if (counts.beyond_float32 > 0)
    text += (text.empty() ? "" : "; ") + std::to_string(counts.beyond_float32) + " values of " + output +
            " lie beyond the range of float32 and are stored as infinities (--datatype float64 keeps them)";
  return text;
}

}  // namespace vacli
