// ITK's HDF5 transform files (.h5, .hdf5), as antsRegistration writes its
// composite transforms: groups /TransformGroup/0, 1, ... each with a
// TransformType name, TransformParameters and TransformFixedParameters.
// Read through the HDF5 library.
#ifndef VOLACCESS_FORMATS_HDF5_TRANSFORMS_H
#define VOLACCESS_FORMATS_HDF5_TRANSFORMS_H

#include <cstddef>
#include <string>
#include <vector>

#include "transforms.h"

namespace vaeng {

// Whether a file's first bytes are HDF5's signature.
bool is_hdf5_start(const unsigned char *bytes, std::size_t size);

// The transforms of an ITK HDF5 file in file order (a composite's
// components; the last applies first), each an affine kind the text
// reader takes or a displacement field held in the file, which is written
// out into an unnamed NIfTI field image that the FileTransform keeps open.
std::vector<FileTransform> read_hdf5_transforms(const std::string &path);

}  // namespace vaeng

#endif
