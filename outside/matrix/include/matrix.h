// Host values created from C++ code, by class.
#ifndef MATRIX_H
#define MATRIX_H

#include "calvex/hx.h"

namespace matrix {

namespace detail {

// A new array of the given size and class whose elements the caller is
// about to fill. Character, logical and the numeric classes are accepted;
// any other class throws std::invalid_argument. Release with destroyArray.
hxArray *do_create_uninitnumeric(hxSize ndim, const hxSize *dims, hxClassID cls, hxComplexity complexity);

}  // namespace detail

// Releases an array made by do_create_uninitnumeric; null is ignored.
void destroyArray(hxArray *array);

}  // namespace matrix

#endif
