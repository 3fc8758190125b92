#include "call_arguments.h"

#include <climits>
#include <cstring>

namespace py = pybind11;

namespace vapy {

namespace {

// The name of the type of `value`, as Python's own messages give it.
std::string type_name(py::handle value) { return Py_TYPE(value.ptr())->tp_name; }

bool is_numpy_bool(py::handle value) { return std::strcmp(Py_TYPE(value.ptr())->tp_name, "numpy.bool_") == 0; }

bool is_whole(py::handle value) { return PyLong_Check(value.ptr()) && !PyBool_Check(value.ptr()); }

}  // namespace

void type_error(const char *function, const std::string &text) {
  throw py::type_error(std::string(function) + "(): " + text);
}

double number_argument(const char *function, const char *name, py::handle value) {
  const double number = PyFloat_AsDouble(value.ptr());
  if (number == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    type_error(function, std::string(name) + "= must be a number, got " + type_name(value));
  }
  return number;
}

bool flag_argument(const char *function, const char *name, py::handle value) {
  if (!PyBool_Check(value.ptr()) && !PyLong_Check(value.ptr()) && !is_numpy_bool(value))
    type_error(function, std::string(name) + "= must be True or False, got " + type_name(value));
  return PyObject_IsTrue(value.ptr()) == 1;
}

std::optional<int> threads_argument(const char *function, py::handle value) {
  if (value.is_none()) return std::nullopt;
  if (!is_whole(value)) type_error(function, "threads= must be a whole number or None, got " + type_name(value));
  int overflow = 0;
  const long long count = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow != 0 || count < INT_MIN || count > INT_MAX) return overflow < 0 || count < 0 ? INT_MIN : INT_MAX;
  return static_cast<int>(count);
}

std::string text_argument(const char *function, const char *name, py::handle value) {
  if (!PyUnicode_Check(value.ptr()))
    type_error(function, std::string(name) + "= must be a string, got " + type_name(value));
  return value.cast<std::string>();
}

std::pair<int64_t, int64_t> pair_argument(const char *function, const char *name, py::handle value) {
  const std::string wanted = std::string(name) + "= must be two whole numbers, got ";
  if (!PyTuple_Check(value.ptr()) && !PyList_Check(value.ptr())) type_error(function, wanted + type_name(value));
  const py::sequence items = py::reinterpret_borrow<py::sequence>(value);
  if (items.size() != 2 || !is_whole(items[0]) || !is_whole(items[1]))
    type_error(function, wanted + py::repr(value).cast<std::string>());
  int overflow = 0;
  int64_t sides[2];
  for (int i = 0; i < 2; ++i) {
    const long long side = PyLong_AsLongLongAndOverflow(items[static_cast<std::size_t>(i)].ptr(), &overflow);
    sides[i] = overflow > 0 ? INT64_MAX : overflow < 0 ? INT64_MIN : side;
  }
  return {sides[0], sides[1]};
}

}  // namespace vapy
