// One-line notes on standard error about things a user may not expect:
// the run goes on, the note says what happened and how to ask otherwise.
#ifndef VOLACCESS_TOOLS_NOTES_H
#define VOLACCESS_TOOLS_NOTES_H

#include <string>

#include "integer_scaling.h"
#include "nifti_header.h"

namespace vacli {

using namespace vaeng;  // the engine's and the formats' names

// Prints "volaccess: note: <text>" unless text is empty.
void print_note(const std::string &text);

// For an image whose qform and sform codes are both 0, a note that its
// world coordinates come from the voxel sizes alone; else empty.
std::string unoriented_note(const NiftiHeader &header, const std::string &image);

// For an image whose qform and sform (both with codes above 0) place its
// corners more than 0.01 mm apart, a note of how far, and that the sform
// is used; else empty.
std::string forms_note(const NiftiHeader &header, const std::string &image);

// Prints the notes on how `image` is placed in the world: unoriented_note
// and forms_note.
void print_placement_notes(const NiftiHeader &header, const std::string &image);

// For an unscaled integer source resampled with a kernel that blends
// voxels, a note that such images are mostly label maps; else empty.
std::string integer_source_note(const NiftiHeader &header, int32_t hold, const std::string &image);

// What storing the output changed, when it changed anything: voxels that
// were not a number stored as the background of an integer output, and
// values beyond float32's range stored as infinities; else empty.
std::string storing_note(const StoringCounts &counts, const std::string &type, double background,
                         const std::string &output);

}  // namespace vacli

#endif
