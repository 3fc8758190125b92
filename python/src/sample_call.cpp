// Volume.sample called through Python's vectorcall protocol: a call of a
// few points is mostly the cost of passing its arguments, and the general
// dispatch (keyword dictionaries, a conversion per argument, name lookups
// by string) took most of a microsecond of it.
#include <Python.h>

#include <climits>
#include <cstring>
#include <optional>
#include <string>

#include "exceptions.h"
#include "module_parts.h"
#include "volume.h"

namespace py = pybind11;

namespace vapy {

namespace {

// The parameters in order: points alone may be given by position.
constexpr const char *kNames[] = {"points", "space", "hold", "background", "gradient", "threads"};
constexpr int kCount = sizeof kNames / sizeof kNames[0];

[[noreturn]] void type_error(const std::string &text) { throw py::type_error("sample(): " + text); }

// The name of the type of `value`, as Python's own messages give it.
std::string type_name(PyObject *value) { return Py_TYPE(value)->tp_name; }

// The arguments of one call, each null when not given.
struct Arguments {
  PyObject *given[kCount] = {};

  Arguments(PyObject *const *args, Py_ssize_t positional, PyObject *keywords) {
    if (positional > 1) type_error("takes 1 positional argument (points), the rest by keyword");
    if (positional == 1) given[0] = args[0];
    const Py_ssize_t named = keywords ? PyTuple_GET_SIZE(keywords) : 0;
    for (Py_ssize_t k = 0; k < named; ++k) place(PyTuple_GET_ITEM(keywords, k), args[positional + k]);
    if (!given[0]) type_error("missing the argument points");
  }

  void place(PyObject *name, PyObject *value) {
    for (int i = 0; i < kCount; ++i) {
      if (PyUnicode_CompareWithASCIIString(name, kNames[i]) != 0) continue;
      if (given[i]) type_error("got multiple values for argument '" + std::string(kNames[i]) + "'");
      given[i] = value;
      return;
    }
    type_error("got an unexpected keyword argument '" + text_of(name) + "'");
  }
};

std::string space_of(PyObject *space) {
  if (!space) return "world";
  if (!PyUnicode_Check(space)) type_error("space= must be a string, got " + type_name(space));
  return py::handle(space).cast<std::string>();
}

double background_of(PyObject *background) {
  if (!background) return 0.0;
  const double value = PyFloat_AsDouble(background);
  if (value == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    type_error("background= must be a number, got " + type_name(background));
  }
  return value;
}

bool is_numpy_bool(PyObject *value) { return std::strcmp(Py_TYPE(value)->tp_name, "numpy.bool_") == 0; }

bool gradient_of(PyObject *gradient) {
  if (!gradient) return false;
  if (!PyBool_Check(gradient) && !PyLong_Check(gradient) && !is_numpy_bool(gradient))
    type_error("gradient= must be True or False, got " + type_name(gradient));
  return PyObject_IsTrue(gradient) == 1;
}

std::optional<int> threads_of(PyObject *threads) {
  if (!threads || threads == Py_None) return std::nullopt;
  if (!PyLong_Check(threads) || PyBool_Check(threads))
    type_error("threads= must be a whole number or None, got " + type_name(threads));
  int overflow = 0;
  const long long count = PyLong_AsLongLongAndOverflow(threads, &overflow);
  // Out of range either way; the check names the limits.
  if (overflow != 0 || count < INT_MIN || count > INT_MAX) return overflow < 0 || count < 0 ? INT_MIN : INT_MAX;
  return static_cast<int>(count);
}

PyObject *sample_call(PyObject *self, PyObject *const *args, Py_ssize_t count, PyObject *keywords) {
  try {
    const Arguments a(args, PyVectorcall_NARGS(count), keywords);
    // The method's descriptor admits only instances of Volume, whose
    // value sits first; one made without load() holds none.
    const auto *volume_pointer =
        reinterpret_cast<py::detail::instance *>(self)->get_value_and_holder().value_ptr<Volume>();
    if (!volume_pointer) type_error("the Volume was not made by volaccess.load()");
    const Volume &volume = *volume_pointer;
    const py::object default_hold = py::int_(1);
    const py::handle hold = a.given[2] ? py::handle(a.given[2]) : py::handle(default_hold);
    return volume
        .sample(a.given[0], space_of(a.given[1]), hold, background_of(a.given[3]), gradient_of(a.given[4]),
                threads_of(a.given[5]))
        .release()
        .ptr();
  } catch (py::error_already_set &e) {
    e.restore();
  } catch (...) {
    if (!py::detail::apply_exception_translators(py::detail::get_local_internals().registered_exception_translators) &&
        !py::detail::apply_exception_translators(py::detail::get_internals().registered_exception_translators))
      PyErr_SetString(PyExc_SystemError, "volaccess: an exception escaped its translators");
  }
  return nullptr;
}

}  // namespace

void bind_sample_call(py::handle volume_class, const char *doc) {
  static PyMethodDef method = {"sample", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(sample_call)),
                               METH_FASTCALL | METH_KEYWORDS, doc};
  const py::object descriptor = py::reinterpret_steal<py::object>(
      PyDescr_NewMethod(reinterpret_cast<PyTypeObject *>(volume_class.ptr()), &method));
  if (!descriptor) throw py::error_already_set();
  py::setattr(volume_class, "sample", descriptor);
}

}  // namespace vapy
