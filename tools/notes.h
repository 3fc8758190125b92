// One-line notes on standard error about things a user may not expect:
// the run goes on, the note says what happened and how to ask otherwise.
#ifndef VOLACCESS_TOOLS_NOTES_H
#define VOLACCESS_TOOLS_NOTES_H

#include <string>

#include "nifti_header.h"

namespace vacli {

using namespace vaeng;  // the engine's and the formats' names

// Prints "volaccess: note: <text>" unless text is empty.
void print_note(const std::string &text);

// For an image whose qform and sform codes are both 0, a note that its
// world coordinates come from the voxel sizes alone; else empty.
std::string unoriented_note(const NiftiHeader &header, const std::string &image);

// For an unscaled integer source resampled with a kernel that blends
// voxels, a note that such images are mostly label maps; else empty.
std::string integer_source_note(const NiftiHeader &header, int32_t hold, const std::string &image);

}  // namespace vacli

#endif
