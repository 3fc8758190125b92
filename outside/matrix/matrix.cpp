#include "matrix.h"

#include <stdexcept>
#include <string>

#include "calvex/host.h"

namespace matrix {

namespace detail {

hxArray *do_create_uninitnumeric(hxSize ndim, const hxSize *dims, hxClassID cls, hxComplexity complexity) {
  if (cls == hxCHAR_CLASS) return hxCreateCharArray(ndim, dims);
  if (cls == hxLOGICAL_CLASS) return hxCreateLogicalArray(ndim, dims);
  hxArray *array = hxCreateNumericArray(ndim, dims, cls, complexity);
  if (!array) throw std::invalid_argument("Cannot create an array of class " + std::to_string(cls));
  return array;
}

}  // namespace detail

void destroyArray(hxArray *array) { hxDestroyArray(array); }

}  // namespace matrix
