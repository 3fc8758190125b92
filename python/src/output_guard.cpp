// The output size guard of the engine, for outputs that Python code
// creates itself (the distributed reslice's stores, results in memory).
#include <optional>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "module_parts.h"
#include "output_guard.h"

namespace py = pybind11;

namespace vapy {

namespace {

// Shape as numpy gives it (z, y, x for a store); only the product matters.
void check_output_size(const std::vector<int64_t> &shape, const std::string &dtype, int64_t itemsize,
                       const std::optional<std::string> &path, bool in_memory, bool large_output) {
  if (large_output) return;
  const vaeng::OutputSize size{shape, dtype, static_cast<uint64_t>(itemsize > 0 ? itemsize : 0)};
  vaeng::OutputPlace place;
  place.file = path.value_or("");
  place.file_bytes = path ? vaeng::voxel_bytes(size) : 0;
  place.memory_bytes = in_memory ? vaeng::voxel_bytes(size) : 0;
  vaeng::check_output_size(size, place, "large_output=True makes it all the same");
}

}  // namespace

void bind_output_guard(py::module_ &m) {
  m.def("_check_output_size", &check_output_size, py::arg("shape"), py::arg("dtype"), py::arg("itemsize"),
        py::arg("path") = py::none(), py::arg("in_memory") = false, py::arg("large_output") = false,
        "Raises ValueError when an output of this shape and dtype would not fit the free space of the file system "
        "of `path`, or (in_memory) half the memory this process may use.");
}

}  // namespace vapy
