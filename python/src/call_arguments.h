// Arguments given from Python, checked by the names the caller wrote
// them with: a wrong type raises TypeError("<function>(): <name>= must
// be ..., got <type>") instead of the binding's list of signatures.
#ifndef VOLACCESS_PYTHON_CALL_ARGUMENTS_H
#define VOLACCESS_PYTHON_CALL_ARGUMENTS_H

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace vapy {

[[noreturn]] void type_error(const char *function, const std::string &text);

// A real number: a float, an int or anything numpy converts with __float__.
double number_argument(const char *function, const char *name, pybind11::handle value);
// True or False (an int or a numpy bool too).
bool flag_argument(const char *function, const char *name, pybind11::handle value);
// None, or a whole number; one past the int range is kept out of range,
// for checked_threads to refuse by its limits.
std::optional<int> threads_argument(const char *function, pybind11::handle value);
std::string text_argument(const char *function, const char *name, pybind11::handle value);
// Two whole numbers, as a tuple or list.
std::pair<int64_t, int64_t> pair_argument(const char *function, const char *name, pybind11::handle value);

}  // namespace vapy

#endif
