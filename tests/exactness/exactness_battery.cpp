// Writes the raw bytes of every result of a fixed battery of requests:
// all eighteen encodings, every kernel, hold codes from -10 to 10 and far
// beyond, rims, near-centres, non-finite and huge coordinates, voxels that
// are NaN, infinite, denormal or extreme integers, every slice path, the
// four weight builders on their own, and the label choice. Two builds must
// write the same bytes. Within one build, the battery runs once per
// instruction-set path of the library's plan stage that this machine has,
// and every path must give the bytes of the baseline path; the file holds
// the baseline's.
//
// NaN voxels all carry one pattern, the one the machine itself produces
// for invalid operations, or stand alone in their volume: where two NaNs
// with different payloads meet in one product or sum, which one survives
// depends on the order of the operands, which a compiler may swap, so the
// battery does not let them meet.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "cell_plan.h"
#include "vector_paths.h"
#include "volaccess.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

class Output {
 public:
  void put(double v) { put_bytes(&v, sizeof v); }
  void put(int32_t v) { put_bytes(&v, sizeof v); }
  void put(const std::vector<double> &values) {
    for (double v : values) put(v);
  }
  bool write(const char *path) const {
    FILE *file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(bytes_.data(), 1, bytes_.size(), file) == bytes_.size();
    return std::fclose(file) == 0 && ok;
  }
  std::size_t size() const { return bytes_.size(); }
  static constexpr std::size_t kSame = static_cast<std::size_t>(-1);
  // The offset of the first byte that differs from other's (a length
  // counts as a difference at the shorter end), or kSame.
  std::size_t first_difference(const Output &other) const {
    const std::size_t n = std::min(bytes_.size(), other.bytes_.size());
    if (std::memcmp(bytes_.data(), other.bytes_.data(), n) != 0) {
      for (std::size_t b = 0; b < n; ++b) {
        if (bytes_[b] != other.bytes_[b]) return b;
      }
    }
    return bytes_.size() == other.bytes_.size() ? kSame : n;
  }

 private:
  void put_bytes(const void *p, std::size_t n) {
    const auto *b = static_cast<const unsigned char *>(p);
    bytes_.insert(bytes_.end(), b, b + n);
  }
  std::vector<unsigned char> bytes_;
};

// A fixed pseudo-random sequence (64-bit linear congruential).
class Sequence {
 public:
  explicit Sequence(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    state_ = state_ * 6364136223846793005u + 1442695040888963407u;
    return state_ ^ (state_ >> 29);
  }
  // A multiple of 1/1024 in [lo, hi).
  double grid(double lo, double hi) {
    const auto steps = static_cast<uint64_t>((hi - lo) * 1024.0);
    if (steps == 0) return lo;
    return lo + static_cast<double>(next() % steps) / 1024.0;
  }

 private:
  uint64_t state_;
};

double from_bits(uint64_t b) {
  double v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

struct Encoding {
  const char *suffix;
  int32_t code;
  int32_t size;
  bool swapped;
  bool floating;
};

const Encoding kEncodings[] = {
#define VOLACCESS_TYPE(t, code, element, reader)                            \
  {#t, (code), static_cast<int32_t>(sizeof(element)), ((code)&0x8000) != 0, \
   static_cast<element>(0.5) != static_cast<element>(0)},
#include "voxel_types.def"
#undef VOLACCESS_TYPE
};

// How the voxels of one battery volume are chosen.
enum class Fill { kRandomBits, kSpecialValues, kLonePayloadNaN };

// One volume in one encoding, planes held apart and misaligned by one byte.
struct Volume {
  std::vector<std::vector<unsigned char>> planes;
  std::vector<void *> data;
  std::vector<double> scale;
  std::vector<double> offset;
  VolumeMap map{};
};

// A floating-point voxel value for kSpecialValues: finite of many sizes,
// signed zeros, denormals, infinities, and the machine's own NaN pattern.
double special_value(uint64_t r, bool single) {
  const double denormal = single ? 1.4e-45 : 4.9406564584124654e-324;
  const double values[] = {0.0,
                           -0.0,
                           1.0,
                           -2.5,
                           1e-3,
                           65504.0,
                           3.0e38,
                           -3.0e38,
                           kInf,
                           -kInf,
                           denormal,
                           -denormal,
                           123.456,
                           1e10,
                           -7.75,
                           0.1,
                           from_bits(0xFFF8000000000000u)};
  return values[r % (sizeof values / sizeof values[0])];
}

void store(const Encoding &enc, unsigned char *at, uint64_t random_bits, double value, bool use_value) {
  unsigned char bytes[8];
  if (!use_value) {
    std::memcpy(bytes, &random_bits, 8);
  } else if (enc.size == 4) {
    const auto f = static_cast<float>(value);
    std::memcpy(bytes, &f, 4);
  } else {
    std::memcpy(bytes, &value, 8);
  }
  if (enc.swapped) {
    for (int32_t b = 0; b < enc.size / 2; ++b) std::swap(bytes[b], bytes[enc.size - 1 - b]);
  }
  std::memcpy(at, bytes, static_cast<std::size_t>(enc.size));
}

Volume make_volume(const Encoding &enc, int32_t d0, int32_t d1, int32_t d2, Fill fill, uint64_t seed) {
  Sequence seq(seed);
  Volume vol;
  const std::size_t count = static_cast<std::size_t>(d0) * static_cast<std::size_t>(d1);
  const double scales[] = {1.0, 0.5, -3.25, 2.0e-3, 1.0, 7.0};
  const double offsets[] = {0.0, 1.5, -100.0, 0.25, 1e6, -0.0};
  for (int32_t k = 0; k < d2; ++k) {
    vol.planes.emplace_back(count * static_cast<std::size_t>(enc.size) + 1);
    for (std::size_t e = 0; e < count; ++e) {
      unsigned char *at = vol.planes.back().data() + 1 + e * static_cast<std::size_t>(enc.size);
      const uint64_t r = seq.next();
      if (fill == Fill::kRandomBits && !enc.floating) {
        store(enc, at, r, 0.0, false);
      } else if (fill == Fill::kLonePayloadNaN) {
        const bool lone = k == d2 / 2 && e == count / 2;
        const double finite = static_cast<double>(r % 2001) / 8.0 - 125.0;
        const double nan = from_bits(enc.size == 4 ? 0x7FF8000020000000u : 0x7FF800000000ABCDu);
        store(enc, at, 0, lone ? nan : finite, enc.floating);
        if (!enc.floating) store(enc, at, r % 251, 0.0, false);
      } else {
        store(enc, at, 0, special_value(r, enc.size == 4), true);
      }
    }
    // Volumes of odd seed share one scale and offset over all planes,
    // which the kernels treat apart.
    const std::size_t scaling = static_cast<std::size_t>(seed % 2 == 1 ? seed : static_cast<uint64_t>(k)) % 6;
    vol.scale.push_back(scales[scaling]);
    vol.offset.push_back(offsets[scaling]);
  }
  for (auto &plane : vol.planes) vol.data.push_back(plane.data() + 1);
  vol.map.dim[0] = static_cast<uint64_t>(d0);
  vol.map.dim[1] = static_cast<uint64_t>(d1);
  vol.map.dim[2] = static_cast<uint64_t>(d2);
  vol.map.scale = vol.scale.data();
  vol.map.offset = vol.offset.data();
  vol.map.dtype = enc.code;
  vol.map.data = vol.data.data();
  return vol;
}

// Lagrange stencils of 172 nodes and more overflow their denominators and
// weigh with NaN; the volumes with a payload NaN skip them (see above).
bool makes_nan_weights(int32_t hold) { return hold > 170; }

std::vector<int32_t> hold_codes() {
  std::vector<int32_t> holds;
  for (int32_t h = -10; h <= 10; ++h) holds.push_back(h);
  for (int32_t h : {15, -15, 254, -254, 255, -255, 300, -300, 100000, std::numeric_limits<int32_t>::max(),
                    std::numeric_limits<int32_t>::min()}) {
    holds.push_back(h);
  }
  return holds;
}

// Coordinates along an axis of d voxels: rims of every kernel, near-centres
// on both sides of the shortcut, non-finite and huge values, and a spread
// of random ones inside.
std::vector<double> axis_coordinates(int32_t d, Sequence &seq) {
  const double n = static_cast<double>(d);
  std::vector<double> c = {0.5,
                           0.49,
                           0.94,
                           0.95,
                           0.951,
                           0.96,
                           1.0,
                           1.000004,
                           0.999996,
                           1.00002,
                           1.5,
                           n,
                           n + 0.04,
                           n + 0.0499,
                           n + 0.05,
                           n + 0.06,
                           n + 0.49,
                           n + 0.5,
                           n - 0.5,
                           2.000009,
                           1.99999,
                           2.0000101,
                           std::numeric_limits<double>::quiet_NaN(),
                           kInf,
                           -kInf,
                           3e9,
                           -3e9,
                           1e300,
                           -1e300,
                           2147483647.5,
                           -2147483648.5,
                           2147483648.0,
                           -0.0,
                           1e-300};
  for (int i = 0; i < 12; ++i) c.push_back(seq.grid(0.9, n + 0.1) + 1.0 / 3.0 * static_cast<double>(i % 2));
  return c;
}

// Points that pair every axis coordinate with varied partners.
void make_points(const Volume &vol, Sequence &seq, std::vector<double> &x, std::vector<double> &y,
                 std::vector<double> &z) {
  const std::vector<double> cx = axis_coordinates(static_cast<int32_t>(vol.map.dim[0]), seq);
  const std::vector<double> cy = axis_coordinates(static_cast<int32_t>(vol.map.dim[1]), seq);
  const std::vector<double> cz = axis_coordinates(static_cast<int32_t>(vol.map.dim[2]), seq);
  for (std::size_t i = 0; i < cx.size(); ++i) {
    x.push_back(cx[i]);
    y.push_back(cy[(i * 7 + 3) % cy.size()] < 0.9 ? 1.5 : cy[(i * 7 + 3) % cy.size()]);
    z.push_back(cz[(i * 11 + 5) % cz.size()] < 0.9 ? 1.0 : cz[(i * 11 + 5) % cz.size()]);
  }
  for (std::size_t i = 0; i < cx.size(); ++i) {
    x.push_back(seq.grid(1.0, static_cast<double>(vol.map.dim[0])));
    y.push_back(cy[i]);
    z.push_back(cz[(i * 5 + 1) % cz.size()]);
  }
}

void points(Output &out, const Volume &vol, Sequence &seq, bool payload_nan) {
  std::vector<double> x, y, z;
  make_points(vol, seq, x, y, z);
  const auto m = static_cast<int32_t>(x.size());
  for (int32_t hold : hold_codes()) {
    if (payload_nan && makes_nan_weights(hold)) continue;
    std::vector<double> value(x.size()), gx(x.size()), gy(x.size()), gz(x.size());
    out.put(resample(m, &vol.map, value.data(), x.data(), y.data(), z.data(), hold, -1234.5));
    out.put(value);
    out.put(resample_d(m, &vol.map, value.data(), gx.data(), gy.data(), gz.data(), x.data(), y.data(), z.data(), hold,
                       0.125));
    out.put(value);
    out.put(gx);
    out.put(gy);
    out.put(gz);
  }
}

// Transforms that exercise every slice path: the shortcut and its edges,
// tilts, perspective, W reaching zero mid-image, non-finite entries.
std::vector<std::vector<double>> transforms(int32_t d2) {
  const double plane = d2 > 1 ? 2.0 : 1.0;
  std::vector<std::vector<double>> mats = {
      {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, plane, 1},
      {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, plane + 5e-11, 1},
      {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, plane + 2e-10, 1},
      {1 + 5e-11, 4e-11, 0, -9e-11, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, plane, 1},
      {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, static_cast<double>(d2) + 1, 1},
      {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1 - 5e-11, 1},
      {0.93, 0.21, 0.37, 0, -0.18, 0.88, 0.11, 0, 0, 0, 1, 0, 0.4, -0.3, 0.7, 1},
      {0.5, 0, 0.05, 0.001, 0, 0.5, 0.07, -0.002, 0, 0, 1, 0, 0.6, 0.6, 0.9, 1.01},
      {1, 0, 0, -1, 0, 1, 0, 1.5, 0, 0, 1, 0, 0, 0, plane, 0},
      {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, plane, 0},
      {1, 0, 0, 0, 0, 1, 0, 0, kInf, 0, 1, 0, 0, 0, plane, 1},
      {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, std::numeric_limits<double>::quiet_NaN(), 0, 0, 0, plane, 1},
      {1, 0, 0, std::numeric_limits<double>::quiet_NaN(), 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, plane, 1},
      {-1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1, 0, 9, 8, plane + 0.25, 1},
      {0.1, 0, 0, 0, 0, 0.1, 0, 0, 0, 0, 1, 0, 0.9, 0.9, 0.951, 1},
      {1e9, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, plane + 0.3, 1},
  };
  return mats;
}

void slices(Output &out, const Volume &vol, bool payload_nan) {
  const auto d0 = static_cast<int32_t>(vol.map.dim[0]);
  const auto d1 = static_cast<int32_t>(vol.map.dim[1]);
  const auto d2 = static_cast<int32_t>(vol.map.dim[2]);
  const int32_t sizes[][2] = {{d0, d1}, {d0 + 1, d1}, {d0, d1 - 1}, {3, 2}, {-2, 3}};
  const int32_t holds[] = {0, 1, 2, 3, 6, -1, -2, -5, 254, -300};
  for (const std::vector<double> &mat : transforms(d2)) {
    for (const auto &size : sizes) {
      for (int32_t hold : holds) {
        if (payload_nan && makes_nan_weights(hold)) continue;
        const std::size_t pixels =
            size[0] > 0 && size[1] > 0 ? static_cast<std::size_t>(size[0]) * static_cast<std::size_t>(size[1]) : 0;
        std::vector<double> image(pixels + 1, -0.5);
        out.put(slice(mat.data(), image.data(), size[0], size[1], &vol.map, hold, 99.0));
        out.put(image);
      }
    }
  }
}

void plane_copies(Output &out, const Volume &vol) {
  const auto d0 = static_cast<int32_t>(vol.map.dim[0]);
  const auto d1 = static_cast<int32_t>(vol.map.dim[1]);
  std::vector<double> image(static_cast<std::size_t>(d0) * static_cast<std::size_t>(d1));
  for (int32_t k = 1; k <= static_cast<int32_t>(vol.map.dim[2]); ++k) {
    // plane_<t> is reached through a slice's shortcut, which is the same copy.
    const double mat[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, static_cast<double>(k), 1};
    out.put(slice(mat, image.data(), d0, d1, &vol.map, 0, 0.0));
    out.put(image);
  }
}

// The builders on their own, for node counts and coordinates beyond what
// the kernels pass.
void builders(Output &out) {
  static double table[300];
  static double dtable[300];
  const int32_t counts[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 17, 64, 171, 172, 255, 256, 300, 0, -1};
  const double coords[] = {1.0,  1.3,   2.5,   0.999995, 1.000004, 1.00002, 4.7,
                           9.99, -10.0, -10.5, 20.5,     0.95,     10.05,   std::numeric_limits<double>::quiet_NaN(),
                           kInf, 3e9,   5.0001};
  for (int32_t q : counts) {
    for (double c : coords) {
      for (int32_t d : {1, 2, 10, 400}) {
        int32_t first = -5;
        double *last = nullptr;
        for (int builder = 0; builder < 4; ++builder) {
          std::memset(table, 0, sizeof table);
          std::memset(dtable, 0, sizeof dtable);
          if (builder == 0) make_lookup_poly(q, d, &first, table, &last, c);
          if (builder == 1) make_lookup_sinc(q, d, &first, table, &last, c);
          if (builder == 2) make_lookup_poly_grad(q, d, &first, table, dtable, &last, c);
          if (builder == 3) make_lookup_sinc_grad(q, d, &first, table, dtable, &last, c);
          const auto n = static_cast<int32_t>((static_cast<intptr_t>(reinterpret_cast<uintptr_t>(last)) -
                                               static_cast<intptr_t>(reinterpret_cast<uintptr_t>(table))) /
                                                  8 +
                                              1);
          out.put(first);
          out.put(n);
          for (int32_t e = 0; e < n; ++e) {
            out.put(table[e]);
            out.put(dtable[e]);
          }
        }
      }
    }
  }
}

// Requests of many samples, so that blocks follow blocks: random points
// with rims and non-finite values among them, a grid whose coordinates
// repeat along its rows, and slices of many rows, one of which meets a W
// of zero after several blocks.
void long_requests(Output &out, const Volume &vol, Sequence &seq) {
  std::vector<double> x, y, z;
  make_points(vol, seq, x, y, z);
  for (int i = 0; i < 1000; ++i) {
    x.push_back(seq.grid(0.9, static_cast<double>(vol.map.dim[0]) + 0.1));
    y.push_back(seq.grid(0.9, static_cast<double>(vol.map.dim[1]) + 0.1));
    z.push_back(seq.grid(0.9, static_cast<double>(vol.map.dim[2]) + 0.1));
  }
  for (int k = 0; k < 7; ++k) {
    for (int j = 0; j < 9; ++j) {
      for (int i = 0; i < 37; ++i) {
        x.push_back(0.9 + 0.75 * i);
        y.push_back(1.0 + 2.5 * j);
        z.push_back(0.95 + 1.5 * k);
      }
    }
  }
  const auto m = static_cast<int32_t>(x.size());
  for (int32_t hold : {0, 1, 2, 3, 6, -1, -3, -6}) {
    std::vector<double> value(x.size()), gx(x.size()), gy(x.size()), gz(x.size());
    out.put(resample(m, &vol.map, value.data(), x.data(), y.data(), z.data(), hold, -7.0));
    out.put(value);
    out.put(resample_d(m, &vol.map, value.data(), gx.data(), gy.data(), gz.data(), x.data(), y.data(), z.data(), hold,
                       0.5));
    out.put(value);
    out.put(gx);
    out.put(gy);
    out.put(gz);
  }
  const double mats[][16] = {
      {0.43, 0.21, 0.37, 0, -0.18, 0.38, 0.11, 0, 0, 0, 1, 0, 0.4, -0.3, 0.7, 1},
      {0.4, 0, 0.05, 0, 0, 0.5, 0.07, 0, 0, 0, 1, 0, 0.6, 0.6, 0.9, 1},
      // W = 5 - 2.5 j + 0.125 i reaches zero at pixel (20, 3), the 70th.
      {0.3, 0.3, 0.1, 0.125, 0.2, 0.35, 0.1, -2.5, 0, 0, 1, 0, 0.1, 0.2, 0.3, 5.0},
  };
  for (const double *mat : mats) {
    for (int32_t hold : {0, 1, 3, -3}) {
      std::vector<double> image(25 * 41 + 1, -0.5);
      out.put(slice(mat, image.data(), 25, 41, &vol.map, hold, 99.0));
      out.put(image);
    }
  }
}

// The plan stage's label choice over blocks of cells: one, two and many
// labels, ties at whole, half and third fractions, signed zeros,
// infinities and the machine's NaN among double labels, and integer
// labels under scales and offsets that map two stored values to one label.
void label_choices(Output &out, Sequence &seq) {
  const volaccess::PlanKernels &plans = volaccess::plan_kernels();
  const double fractions[] = {0.0, 0.5, 0.25, 1.0 / 3.0, 0.75, 1.0};
  const double labels[] = {1.0, 2.0, -0.0, 0.0, kInf, -kInf, 3.5, 1e300, from_bits(0xFFF8000000000000u)};
  const double scales[][2] = {{1.0, 0.0}, {0.5, -3.0}, {1e-300, 1e17}, {-2.0, 7.0}};
  for (int round = 0; round < 64; ++round) {
    volaccess::TrilinearPlan plan{};
    volaccess::CellCorners<double> reals{};
    volaccess::CellCorners<int32_t> stored{};
    // A round's cells draw from few labels, so that most hold two or one.
    const uint64_t kinds = 2 + static_cast<uint64_t>(round % 4);
    const auto &scale = scales[round % 4];
    for (int32_t s = 0; s < volaccess::kBlock; ++s) {
      plan.inside[s] = seq.next() % 8 != 0;
      double *t[3] = {&plan.tx[s], &plan.ty[s], &plan.tz[s]};
      for (double *f : t) *f = seq.next() % 2 ? fractions[seq.next() % 6] : seq.grid(0.0, 1.0);
      for (int corner = 0; corner < 8; ++corner) {
        const uint64_t pick = seq.next() % kinds + static_cast<uint64_t>(round / 4) % 6;
        reals.v[corner][s] = labels[pick % 9];
        stored.v[corner][s] = static_cast<int32_t>(pick * 1000003 % 2001) - 1000;
      }
      reals.scale0[s] = reals.scale1[s] = 1.0;
      stored.scale0[s] = stored.scale1[s] = scale[0];
      stored.offset0[s] = stored.offset1[s] = scale[1];
      // Planes of their own scaling now and then.
      if (seq.next() % 4 == 0) stored.scale1[s] = 2.0 * scale[0];
    }
    for (const int32_t n : {volaccess::kBlock, 7}) {
      std::vector<double> got(static_cast<std::size_t>(n));
      plans.label_cells(&plan, &reals, n, -7.0, got.data());
      out.put(got);
      plans.label_cells_int(&plan, &stored, n, -7.0, got.data());
      out.put(got);
    }
  }
}

// The whole battery on the path in use.
Output run_battery() {
  Output out;
  builders(out);
  uint64_t seed = 1;
  for (const Encoding &enc : kEncodings) {
    const Fill fills[] = {Fill::kRandomBits, Fill::kSpecialValues, Fill::kLonePayloadNaN};
    const int32_t shapes[][3] = {{7, 6, 5}, {5, 4, 1}, {1, 1, 1}, {2, 9, 3}};
    for (Fill fill : fills) {
      if (!enc.floating && fill == Fill::kSpecialValues) continue;
      for (const auto &shape : shapes) {
        const Volume vol = make_volume(enc, shape[0], shape[1], shape[2], fill, seed++);
        Sequence seq(seed * 977);
        points(out, vol, seq, fill == Fill::kLonePayloadNaN);
        slices(out, vol, fill == Fill::kLonePayloadNaN);
        plane_copies(out, vol);
      }
    }
    const Volume large = make_volume(enc, 31, 23, 11, Fill::kLonePayloadNaN, seed++);
    Sequence seq(seed * 977);
    long_requests(out, large, seq);
  }
  Sequence seq(seed * 977);
  label_choices(out, seq);
  return out;
}

// Runs the battery on every other path this machine has and compares its
// bytes with the baseline's. Returns false after naming the first path and
// byte that differ.
bool other_paths_agree(const Output &baseline) {
  const volaccess::VectorPath others[] = {volaccess::VectorPath::kAvx2, volaccess::VectorPath::kAvx512};
  bool agree = true;
  for (volaccess::VectorPath path : others) {
    if (!volaccess::force_vector_path(path)) continue;
    const Output out = run_battery();
    const std::size_t differs = out.first_difference(baseline);
    if (differs != Output::kSame) {
      std::fprintf(stderr, "exactness battery: the %s path differs from the baseline at byte %zu\n",
                   volaccess::plan_kernels().name, differs);
      agree = false;
    } else {
      std::printf("exactness battery: the %s path matches the baseline\n", volaccess::plan_kernels().name);
    }
  }
  volaccess::choose_best_vector_path();
  return agree;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTFILE\n", argv[0]);
    return 2;
  }
  volaccess::force_vector_path(volaccess::VectorPath::kBaseline);
  const Output out = run_battery();
  if (!other_paths_agree(out)) return 1;
  if (!out.write(argv[1])) {
    std::perror(argv[1]);
    return 1;
  }
  std::printf("exactness battery: %zu bytes\n", out.size());
  return 0;
}
