// How one stored voxel is fetched and turned into a double: the only
// respect in which the type units differ.
#ifndef VOLACCESS_VOXEL_READER_H
#define VOLACCESS_VOXEL_READER_H

#include <cstddef>
#include <cstring>

namespace volaccess {

// The reader of voxels stored in the machine's byte order.
template <typename Element>
inline Element direct(Element value) {
  return value;
}

// Element e of a plane, read at any alignment, passed through the
// byte-order reader (direct, or one of getshort ... getdouble, called once
// per voxel), and converted to double with rounding to nearest.
template <typename Element, Element (*Read)(Element)>
struct VoxelReader {
  using element_type = Element;

  // The value of element e as the reader gives it.
  static Element read(const void *plane, std::ptrdiff_t e) {
    Element stored;
    std::memcpy(&stored,
                static_cast<const unsigned char *>(plane) +
                    e * static_cast<std::ptrdiff_t>(sizeof(Element)),
                sizeof(Element));
    return Read(stored);
  }

  static double at(const void *plane, std::ptrdiff_t e) {
    return static_cast<double>(read(plane, e));
  }
};

}  // namespace volaccess

#endif
