// The parts of the native module, each in its own file, each adding its
// classes and functions to the module object.
#ifndef VOLACCESS_PYTHON_MODULE_PARTS_H
#define VOLACCESS_PYTHON_MODULE_PARTS_H

#include <pybind11/pybind11.h>

namespace vapy {

void bind_errors(pybind11::module_ &m);
void bind_volume(pybind11::module_ &m);
void bind_array_sampling(pybind11::module_ &m);
void bind_reslice(pybind11::module_ &m);
void bind_check(pybind11::module_ &m);
void bind_output_guard(pybind11::module_ &m);

}  // namespace vapy

#endif
