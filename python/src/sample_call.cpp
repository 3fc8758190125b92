// Volume.sample called through Python's vectorcall protocol: a call of a
// few points is mostly the cost of passing its arguments, and the general
// dispatch (keyword dictionaries, a conversion per argument, name lookups
// by string) took most of a microsecond of it.
#include <Python.h>

#include <optional>
#include <string>

#include "call_arguments.h"
#include "exceptions.h"
#include "module_parts.h"
#include "volume.h"

namespace py = pybind11;

namespace vapy {

namespace {

// The parameters in order: points alone may be given by position.
constexpr const char *kNames[] = {"points", "space", "hold", "background", "gradient", "threads"};
constexpr int kCount = sizeof kNames / sizeof kNames[0];

[[noreturn]] void refuse(const std::string &text) { type_error("sample", text); }

// The arguments of one call, each null when not given.
struct Arguments {
  PyObject *given[kCount] = {};

  Arguments(PyObject *const *args, Py_ssize_t positional, PyObject *keywords) {
    if (positional > 1) refuse("takes 1 positional argument (points), the rest by keyword");
    if (positional == 1) given[0] = args[0];
    const Py_ssize_t named = keywords ? PyTuple_GET_SIZE(keywords) : 0;
    for (Py_ssize_t k = 0; k < named; ++k) place(PyTuple_GET_ITEM(keywords, k), args[positional + k]);
    if (!given[0]) refuse("missing the argument points");
  }

  void place(PyObject *name, PyObject *value) {
    for (int i = 0; i < kCount; ++i) {
      if (PyUnicode_CompareWithASCIIString(name, kNames[i]) != 0) continue;
      if (given[i]) refuse("got multiple values for argument '" + std::string(kNames[i]) + "'");
      given[i] = value;
      return;
    }
    refuse("got an unexpected keyword argument '" + text_of(name) + "'");
  }
};

PyObject *sample_call(PyObject *self, PyObject *const *args, Py_ssize_t count, PyObject *keywords) {
  try {
    const Arguments a(args, PyVectorcall_NARGS(count), keywords);
    // The method's descriptor admits only instances of Volume, whose
    // value sits first; one made without load() holds none.
    const auto *volume_pointer =
        reinterpret_cast<py::detail::instance *>(self)->get_value_and_holder().value_ptr<Volume>();
    if (!volume_pointer) refuse("the Volume was not made by volaccess.load()");
    const Volume &volume = *volume_pointer;
    const py::object default_hold = py::int_(1);
    const py::handle hold = a.given[2] ? py::handle(a.given[2]) : py::handle(default_hold);
    const char *f = "sample";
    return volume
        .sample(a.given[0], a.given[1] ? text_argument(f, "space", a.given[1]) : "world", hold,
                a.given[3] ? number_argument(f, "background", a.given[3]) : 0.0,
                a.given[4] && flag_argument(f, "gradient", a.given[4]),
                a.given[5] ? threads_argument(f, a.given[5]) : std::nullopt)
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
