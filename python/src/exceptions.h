// How the program's errors reach Python: a refused file operation as
// FileNotFoundError, PermissionError or OSError with its errno, every other
// problem as ValueError, each with the program's message.
#ifndef VOLACCESS_PYTHON_EXCEPTIONS_H
#define VOLACCESS_PYTHON_EXCEPTIONS_H

#include <pybind11/pybind11.h>

#include <string>

namespace vapy {

// Raises ValueError("<what>: <reason>") (or just the reason when what is empty).
[[noreturn]] void value_error(const std::string &what, const std::string &reason);
// Raises OSError("<what>: <reason>") with no errno: a file that changed.
[[noreturn]] void os_error(const std::string &what, const std::string &reason);

// str() of a Python object.
std::string text_of(pybind11::handle object);

// The byte-order character numpy gives this machine's multi-byte dtypes.
constexpr char kNativeOrder = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? '<' : '>';

}  // namespace vapy

#endif
