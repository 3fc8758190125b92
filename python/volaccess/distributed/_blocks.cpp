// Resampling one output box from a block of the source held in memory,
// for the chunk tasks of volaccess.distributed.
//
// The block is the part of the source a task read: voxels [b0, b0 + n) on
// each axis of a source of `dims` voxels. Every output voxel's source
// coordinate is formed exactly as the whole-volume reslice forms it, and
// the library sees the whole volume's counts along y and z: plane and row
// addresses are moved so that full-volume indices land in the block. Along
// x the row pitch is the block's, so the block is its own volume there,
// shifted by b0: a shift by a whole number is exact for these coordinates
// and leaves every fraction, floor and weight unchanged, and the planner
// keeps the block's x ends either at the volume's own ends or beyond the
// reach of every kernel. The checks below refuse any other block, so a
// task never reads outside what it holds and never differs from the
// whole-volume result by a bit. The label rule reads what the trilinear
// kernel reads, through the engine's SourceGrid.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "errors.h"
#include "kernels.h"
#include "matrix.h"
#include "reslicing.h"
#include "source_grid.h"
#include "transform_chain.h"
#include "transforms.h"
#include "volaccess.h"

namespace py = pybind11;

namespace {

constexpr int64_t kBatch = 4096;

// The library's type code of a numpy dtype, in either byte order.
int32_t type_code(const py::dtype &dt) {
  constexpr char kOtherOrder = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? '>' : '<';
  const std::string name = py::str(dt.attr("name"));
  const std::optional<int32_t> code = vaeng::library_type_code(name, dt.byteorder() == kOtherOrder);
  if (!code)
    throw py::value_error("blocks of dtype " + py::cast<std::string>(py::str(static_cast<const py::handle &>(dt))) +
                          " cannot be sampled");
  return *code;
}

struct Block {
  std::array<int64_t, 3> lo;     // first voxel of the block along x, y, z
  std::array<int64_t, 3> count;  // voxels of the block along x, y, z
  std::array<int64_t, 3> dims;   // voxels of the whole source along x, y, z
  int64_t reach;
};

// Voxel c (1-based) reads voxels floor(c - 1) - reach ... + reach, those
// inside the volume; a coordinate outside [0.5, dim + 0.5] is outside for
// every kernel and reads nothing along any axis.
bool may_read(const Block &b, const double c[3]) {
  for (int a = 0; a < 3; ++a) {
    if (!(c[a] >= 0.5 && c[a] <= static_cast<double>(b.dims[a]) + 0.5)) return false;
  }
  return true;
}

void check_point(const Block &b, const double c[3]) {
  const bool x_whole = b.lo[0] == 0 && b.count[0] == b.dims[0];
  if (!x_whole && std::isfinite(c[0])) {
    // The block's own x ends must lie beyond every kernel's reach unless
    // they are the volume's.
    if (std::fabs(c[0]) > 0x1p62) throw py::value_error("a point's x lies far outside the block");
    const auto f = static_cast<int64_t>(std::floor(c[0] - 1.0));
    const bool low_ok = b.lo[0] == 0 || f - b.reach >= b.lo[0];
    const bool high_ok = f + b.reach <= b.lo[0] + b.count[0] - 1;
    if (!low_ok || !high_ok) throw py::value_error("a point's x reach leaves the block's own x range");
  }
  if (!may_read(b, c)) return;
  for (int a = 1; a < 3; ++a) {
    const auto f = static_cast<int64_t>(std::floor(c[a] - 1.0));
    const int64_t first = std::max<int64_t>(f - b.reach, 0);
    const int64_t last = std::min<int64_t>(f + b.reach, b.dims[a] - 1);
    if (first < b.lo[a] || last > b.lo[a] + b.count[a] - 1) {
      throw py::value_error("a point's reach leaves the block along " + std::string(a == 1 ? "y" : "z"));
    }
  }
}

std::array<int64_t, 3> triple(const py::sequence &s, const char *what) {
  if (py::len(s) != 3) throw py::value_error(std::string(what) + " needs three numbers");
  return {s[0].cast<int64_t>(), s[1].cast<int64_t>(), s[2].cast<int64_t>()};
}

void check_block_shape(const Block &b) {
  for (int a = 0; a < 3; ++a) {
    if (b.dims[a] < 1 || b.dims[a] > std::numeric_limits<int32_t>::max())
      throw py::value_error("source counts must lie in 1 .. 2^31 - 1");
    if (b.count[a] < 1 || b.lo[a] < 0 || b.lo[a] + b.count[a] > b.dims[a])
      throw py::value_error("the block does not lie inside the source");
  }
  if (b.lo[0] > 0 && b.lo[0] + b.count[0] == b.dims[0])
    throw py::value_error("a block ending at the source's last x voxel must start at its first");
  if (b.count[0] * b.count[1] > std::numeric_limits<int32_t>::max())
    throw py::value_error("a plane of the block holds 2^31 voxels or more");
}

// Resamples the output voxels [box_lo, box_lo + box_count) (0-based, x, y,
// z) from the block: voxel (i, j, k), 1-based, takes the source coordinate
// x = ((M00*i + M01*j) + M02*k) + M03 (y and z alike), M row-major from
// reference voxels to source voxels, both 1-based. Returns doubles shaped
// (z, y, x).
py::array_t<double> resample_box(const py::array &block, const py::sequence &block_lo, const py::sequence &dims,
                                 const py::array_t<double, py::array::c_style | py::array::forcecast> &matrix,
                                 const py::sequence &box_lo, const py::sequence &box_count, int32_t hold,
                                 double background, double scale, double offset) {
  const bool labels = hold == vaeng::kLabelHold;
  const std::string problem = labels ? "" : vaeng::hold_range_problem(hold);
  if (!problem.empty()) throw py::value_error("hold " + std::to_string(hold) + " is out of range: " + problem);
  if (matrix.ndim() != 2 || matrix.shape(0) != 4 || matrix.shape(1) != 4)
    throw py::value_error("the matrix must be 4x4");
  if (block.ndim() != 3 || !(block.flags() & py::array::c_style))
    throw py::value_error("the block must be a C-ordered (z, y, x) array");
  const Block b{triple(block_lo, "block_lo"),
                {block.shape(2), block.shape(1), block.shape(0)},
                triple(dims, "dims"),
                vaeng::read_reach(hold)};
  check_block_shape(b);
  const auto lo = triple(box_lo, "box_lo");
  const auto n = triple(box_count, "box_count");
  for (int a = 0; a < 3; ++a) {
    if (n[a] < 0 || lo[a] < 0) throw py::value_error("the output box must have non-negative corners and counts");
  }

  const auto dim2 = static_cast<std::size_t>(b.dims[2]);
  std::vector<double> scales(dim2, scale);
  std::vector<double> offsets(dim2, offset);
  std::vector<void *> planes(dim2, nullptr);
  const auto itemsize = static_cast<std::ptrdiff_t>(block.itemsize());
  const std::ptrdiff_t pitch = b.count[0];
  auto *base = static_cast<unsigned char *>(const_cast<void *>(block.data()));
  for (int64_t k = 0; k < b.count[2]; ++k) {
    // Address arithmetic on integers: the plane's start moves back by the
    // block's first row, which lies before the block's memory.
    const auto plane = reinterpret_cast<uintptr_t>(base) + static_cast<uintptr_t>(k * pitch * b.count[1] * itemsize);
    planes[static_cast<std::size_t>(b.lo[2] + k)] =
        reinterpret_cast<void *>(plane - static_cast<uintptr_t>(b.lo[1] * pitch * itemsize));
  }
  VolumeMap vol{};
  vol.dim[0] = static_cast<uint64_t>(b.count[0]);
  vol.dim[1] = static_cast<uint64_t>(b.dims[1]);
  vol.dim[2] = static_cast<uint64_t>(b.dims[2]);
  vol.scale = scales.data();
  vol.offset = offsets.data();
  vol.dtype = type_code(block.dtype());
  vol.data = planes.data();
  std::optional<vaeng::SourceGrid> grid;
  if (labels) grid.emplace(&vol, "block");

  py::array_t<double> result({n[2], n[1], n[0]});
  double *out = result.mutable_data();
  const double *m = matrix.data();
  const int64_t total = n[0] * n[1] * n[2];
  const auto shift = static_cast<double>(b.lo[0]);
  std::vector<double> x(kBatch), y(kBatch), z(kBatch);
  // The library may be called from several threads at once: a worker
  // with threads samples chunks side by side.
  py::gil_scoped_release unlocked;
  for (int64_t start = 0; start < total; start += kBatch) {
    const int64_t count = std::min(kBatch, total - start);
    for (int64_t p = 0; p < count; ++p) {
      const int64_t e = start + p;
      const auto i = static_cast<double>(lo[0] + e % n[0] + 1);
      const auto j = static_cast<double>(lo[1] + (e / n[0]) % n[1] + 1);
      const auto k = static_cast<double>(lo[2] + e / (n[0] * n[1]) + 1);
      // Each product and sum rounded on its own, in this order.
      double c[3];
      for (int a = 0; a < 3; ++a) c[a] = ((m[4 * a] * i + m[4 * a + 1] * j) + m[4 * a + 2] * k) + m[4 * a + 3];
      check_point(b, c);
      x[static_cast<std::size_t>(p)] = c[0] - shift;
      y[static_cast<std::size_t>(p)] = c[1];
      z[static_cast<std::size_t>(p)] = c[2];
    }
    if (grid)
      grid->labels_at(static_cast<int32_t>(count), x.data(), y.data(), z.data(), background, out + start);
    else
      resample(static_cast<int32_t>(count), &vol, out + start, x.data(), y.data(), z.data(), hold, background);
  }
  return result;
}

vaeng::Mat4 from_array(const py::array_t<double, py::array::c_style | py::array::forcecast> &a, const char *what) {
  if (a.ndim() != 2 || a.shape(0) != 4 || a.shape(1) != 4) throw py::value_error(std::string(what) + " must be 4x4");
  std::array<double, 16> rows{};
  for (std::size_t e = 0; e < rows.size(); ++e) rows[e] = a.data()[e];
  return vaeng::from_rows(rows);
}

py::array_t<double> to_rows(const vaeng::Mat4 &m) {
  py::array_t<double> result({4, 4});
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) result.mutable_data()[4 * r + c] = vaeng::at(m, r, c);
  return result;
}

// The program's matrix from 1-based reference voxels to 1-based source
// voxels, from 0-based voxel-to-world affines (nibabel's convention) and
// a world-space affine applied to the source; row-major.
py::array_t<double> reference_to_source(const py::array_t<double, py::array::c_style | py::array::forcecast> &source,
                                        const py::array_t<double, py::array::c_style | py::array::forcecast> &like,
                                        const py::array_t<double, py::array::c_style | py::array::forcecast> &affine) {
  const vaeng::Mat4 shift = vaeng::translation4(-1, -1, -1);
  vaeng::Mat4 m{};
  try {
    // The affine moves the source onto the output, so points go back
    // through its inverse: the chain the program's reslice composes.
    vaeng::Mat4 inverse{};
    if (!vaeng::invert(from_array(affine, "the affine"), &inverse)) throw vaeng::Error("the affine is singular");
    vaeng::TransformChain chain;
    chain.then_affine(inverse);
    m = vaeng::reference_to_source(vaeng::multiply(from_array(source, "the source affine"), shift),
                                   vaeng::multiply(from_array(like, "the reference affine"), shift), chain.composed(),
                                   "source");
  } catch (const vaeng::Error &e) {
    throw py::value_error(e.what());
  }
  return to_rows(m);
}

// The program's reading of a 4x4 affine file; row-major.
py::array_t<double> read_affine_file(const std::string &path) {
  vaeng::Mat4 m{};
  try {
    m = vaeng::read_matrix_file(path);
  } catch (const vaeng::Error &e) {
    throw py::value_error(e.what());
  }
  return to_rows(m);
}

}  // namespace

PYBIND11_MODULE(_blocks, mod) {
  mod.doc() = "Resampling of output boxes from source blocks held in memory (volaccess.distributed).";
  mod.def("resample_box", &resample_box, py::arg("block"), py::arg("block_lo"), py::arg("dims"), py::arg("matrix"),
          py::arg("box_lo"), py::arg("box_count"), py::arg("hold"), py::arg("background"), py::arg("scale"),
          py::arg("offset"),
          "Resamples output voxels [box_lo, box_lo + box_count) (x, y, z, 0-based) from `block`, the\n"
          "source voxels [block_lo, block_lo + block.shape[::-1]) of a source of `dims` voxels, held as a\n"
          "C-ordered (z, y, x) array. `matrix` maps 1-based reference voxels to 1-based source voxels.\n"
          "Returns float64 values shaped (z, y, x). Raises ValueError for a block that does not hold\n"
          "every voxel the kernel reads.");
  mod.def("reference_to_source", &reference_to_source, py::arg("source"), py::arg("like"), py::arg("affine"),
          "The matrix (row-major) from 1-based reference voxels to 1-based source voxels, from the\n"
          "0-based voxel-to-world affines of source and reference and a world-space affine applied to\n"
          "the source, formed as the volaccess program forms it. ValueError when one is singular.");
  mod.attr("MIN_HOLD") = vaeng::kMinSincHold;
  mod.attr("MAX_HOLD") = vaeng::kMaxLagrangeHold;
  mod.attr("LABEL_HOLD") = vaeng::kLabelHold;
  mod.def("read_reach", &vaeng::read_reach, py::arg("hold"),
          "Voxels a kernel reads on each side of floor(c - 1) along an axis, c 1-based.");
  mod.def("read_affine_file", &read_affine_file, py::arg("path"),
          "A 4x4 world-space affine read as the volaccess program reads --affine files (four rows of\n"
          "four numbers, the last 0 0 0 1); ValueError naming the file and line otherwise.");
}
