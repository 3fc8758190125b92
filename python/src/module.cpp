// volaccess._native: the compiled half of the volaccess package.
#include "module_parts.h"
#include "volume_description.h"

PYBIND11_MODULE(_native, m) {
  m.doc() = "Native half of the volaccess package; use the functions of volaccess itself.";
  // A file that shrinks while the engine reads it fails the call; it must
  // not end the interpreter.
  vaeng::watch_every_mapping();
  vapy::bind_errors(m);
  vapy::bind_volume(m);
  vapy::bind_array_sampling(m);
  vapy::bind_reslice(m);
  vapy::bind_check(m);
  vapy::bind_output_guard(m);
}
