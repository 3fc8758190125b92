#include "exceptions.h"

#include <cerrno>

#include "errors.h"
#include "module_parts.h"

namespace py = pybind11;

namespace vapy {

namespace {

PyObject *os_error_type(int err) {
  if (err == ENOENT) return PyExc_FileNotFoundError;
  if (err == EACCES || err == EPERM) return PyExc_PermissionError;
  return PyExc_OSError;
}

// The exception's text is the program's message alone; errno is kept as
// an attribute for code that branches on it.
void raise_file_error(const vaeng::FileError &e) {
  PyObject *type = os_error_type(e.error_number());
  py::object error = py::reinterpret_borrow<py::object>(type)(e.what());
  error.attr("errno") = e.error_number();
  PyErr_SetObject(type, error.ptr());
}

}  // namespace

void value_error(const std::string &what, const std::string &reason) {
  throw py::value_error(what.empty() ? reason : what + ": " + reason);
}

void os_error(const std::string &what, const std::string &reason) {
  PyErr_SetString(PyExc_OSError, (what + ": " + reason).c_str());
  throw py::error_already_set();
}

std::string text_of(py::handle object) { return py::str(object).cast<std::string>(); }

void bind_errors(py::module_ &) {
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const vaeng::FileError &e) {
      raise_file_error(e);
    } catch (const vaeng::Error &e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    }
  });
}

}  // namespace vapy
