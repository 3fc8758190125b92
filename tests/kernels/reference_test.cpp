// The lookup kernels against a reference written from their contract:
// for every sample, the runs the builders give along x, y and z, summed
// row by row, plane by plane, then along z, in that order. The kernels
// build runs a block ahead, reuse them, prefetch and run parts of the
// work in vector registers; none of that may change a bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "unit_table.h"
#include "volaccess.h"

namespace {

using kernels_test::bits;
using kernels_test::TestVolume;
using kernels_test::unit_named;

constexpr int32_t kDims[3] = {9, 7, 6};
constexpr double kBackground = -3.5;

// Whole values every signed encoding of 16 bits or more stores exactly.
double field(int i, int j, int k) { return (i * 37 + j * 101 + k * k * 13) % 611 - 300.0; }

// The kernels keep the voxels of "short" as integers and those of
// "double_s" as doubles (read through the byte-order reader), and treat
// volumes whose planes share one scale and offset apart.
struct Kind {
  const char *suffix;
  bool uniform;
};
constexpr Kind kKinds[] = {
    {"short", false}, {"double_s", false}, {"short", true}, {"double_s", true}};

std::string describe(const Kind &kind) {
  return std::string(kind.suffix) + (kind.uniform ? " uniform" : "");
}

// Planes are scaled each their own way, or all alike when uniform.
TestVolume reference_volume(const char *suffix, bool uniform) {
  TestVolume vol(unit_named(suffix), kDims[0], kDims[1], kDims[2], field);
  for (int32_t k = 0; k < kDims[2]; ++k) {
    const int32_t f = uniform ? 3 : k;
    vol.set_plane_scaling(k, 0.75 + 0.125 * f, -2.0 * f + 0.3);
  }
  return vol;
}

struct Run {
  int32_t first = 0;
  int32_t n = 0;
  double w[255] = {};
  double dw[255] = {};
};

// A builder's run; its length comes from the address of its last weight,
// which is one before the table for an empty run.
int32_t run_length(const double *table, const double *last) {
  return static_cast<int32_t>(
             (reinterpret_cast<intptr_t>(last) - reinterpret_cast<intptr_t>(table)) /
             static_cast<intptr_t>(sizeof(double))) +
         1;
}

Run value_run(bool sinc, int32_t q, int32_t d, double c) {
  Run run;
  double *last = nullptr;
  (sinc ? make_lookup_sinc : make_lookup_poly)(q, d, &run.first, run.w, &last, c);
  run.n = run_length(run.w, last);
  return run;
}

Run gradient_run(bool sinc, int32_t q, int32_t d, double c) {
  Run run;
  double *last = nullptr;
  (sinc ? make_lookup_sinc_grad : make_lookup_poly_grad)(q, d, &run.first, run.w, run.dw, &last, c);
  run.n = run_length(run.w, last);
  return run;
}

bool inside(double x, double y, double z) {
  const double c[3] = {x, y, z};
  for (int axis = 0; axis < 3; ++axis) {
    if (!(c[axis] >= 0.95 && c[axis] <= kDims[axis] + 0.05)) return false;
  }
  return true;
}

double reference_value(TestVolume &vol, bool sinc, int32_t q, double x, double y, double z) {
  if (!inside(x, y, z)) return kBackground;
  const Run rx = value_run(sinc, q, kDims[0], x);
  const Run ry = value_run(sinc, q, kDims[1], y);
  const Run rz = value_run(sinc, q, kDims[2], z);
  double out = 0.0;
  for (int32_t c = 0; c < rz.n; ++c) {
    const int32_t k = rz.first + c;
    double s = 0.0;
    for (int32_t b = 0; b < ry.n; ++b) {
      double r = 0.0;
      for (int32_t a = 0; a < rx.n; ++a) r += field(rx.first + a, ry.first + b, k) * rx.w[a];
      s += r * ry.w[b];
    }
    out += (s * vol.scale()[k] + vol.offset()[k]) * rz.w[c];
  }
  return out;
}

// The trilinear value: the inside test on 0-based coordinates, z first,
// the upper end open; per axis the floor, the base clamped into the
// volume, the step to the upper voxel (0 at the rims) and the fraction
// from the unclamped floor; rows along x, then y with the plane's scale
// and offset, then the two planes along z.
double reference_trilinear(TestVolume &vol, double x, double y, double z) {
  const double c[3] = {x - 1.0, y - 1.0, z - 1.0};
  for (int axis = 2; axis >= 0; --axis) {
    if (!(c[axis] >= -0.05 && c[axis] < (kDims[axis] + 0.05) - 1.0)) return kBackground;
  }
  int32_t base[3], step[3];
  double t[3];
  for (int axis = 0; axis < 3; ++axis) {
    const auto f = static_cast<int32_t>(std::floor(c[axis]));
    base[axis] = f < 0 ? 0 : (f > kDims[axis] - 1 ? kDims[axis] - 1 : f);
    step[axis] = f >= 0 && f < kDims[axis] - 1 ? 1 : 0;
    t[axis] = c[axis] - f;
  }
  double planes[2];
  for (int p = 0; p < 2; ++p) {
    const int32_t k = base[2] + p * step[2];
    const auto v = [&](int32_t di, int32_t dj) {
      return field(base[0] + di * step[0], base[1] + dj * step[1], k);
    };
    const double r0 = v(0, 0) * (1.0 - t[0]) + v(1, 0) * t[0];
    const double r1 = v(0, 1) * (1.0 - t[0]) + v(1, 1) * t[0];
    planes[p] = vol.offset()[k] + vol.scale()[k] * ((1.0 - t[1]) * r0 + t[1] * r1);
  }
  return (1.0 - t[2]) * planes[0] + t[2] * planes[1];
}

struct Gradient {
  double value, dx, dy, dz;
};

// Rows summed with the x weights and x derivative weights together; the
// offset enters only the value and the derivative along z.
Gradient reference_gradient(TestVolume &vol, bool sinc, int32_t q, double x, double y, double z) {
  if (!inside(x, y, z)) return Gradient{kBackground, 0.0, 0.0, 0.0};
  const Run rx = gradient_run(sinc, q, kDims[0], x);
  const Run ry = gradient_run(sinc, q, kDims[1], y);
  const Run rz = gradient_run(sinc, q, kDims[2], z);
  Gradient g{0.0, 0.0, 0.0, 0.0};
  for (int32_t c = 0; c < rz.n; ++c) {
    const int32_t k = rz.first + c;
    double s = 0.0, gx = 0.0, gy = 0.0;
    for (int32_t b = 0; b < ry.n; ++b) {
      double rw = 0.0, rd = 0.0;
      for (int32_t a = 0; a < rx.n; ++a) {
        const double v = field(rx.first + a, ry.first + b, k);
        rw += v * rx.w[a];
        rd += v * rx.dw[a];
      }
      s += ry.w[b] * rw;
      gx += ry.w[b] * rd;
      gy += ry.dw[b] * rw;
    }
    const double p = s * vol.scale()[k] + vol.offset()[k];
    g.value += rz.w[c] * p;
    g.dx += gx * vol.scale()[k] * rz.w[c];
    g.dy += gy * vol.scale()[k] * rz.w[c];
    g.dz += p * rz.dw[c];
  }
  return g;
}

// Scattered points over the volume and a little beyond, with runs of
// repeated coordinates (as along a grid), voxel centres and the rims.
struct Points {
  std::vector<double> x, y, z;
};

Points reference_points() {
  Points p;
  uint64_t state = 20261208;
  const auto next = [&state](int32_t d) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return 0.7 + static_cast<double>(state >> 11) / 9007199254740992.0 * (d + 0.6);
  };
  for (int32_t n = 0; n < 200; ++n) {
    p.x.push_back(next(kDims[0]));
    p.y.push_back(n % 5 == 0 ? 3.0 : next(kDims[1]));
    p.z.push_back(n % 7 < 3 ? 2.25 : next(kDims[2]));
  }
  // Rims, voxel centres, and either side of the whole-number shortcut's
  // reach (1e-5) around a centre.
  for (double c : {0.95, 1.0, 4.0, 6.05, 7.05, 3.000009, 2.9999901, 3.0000101, 4.99998}) {
    p.x.push_back(c);
    p.y.push_back(c);
    p.z.push_back(c);
  }
  return p;
}

TEST(Reference, LookupValuesAreTheBuildersRunsSummedInOrder) {
  for (const Kind &kind : kKinds) {
    TestVolume vol = reference_volume(kind.suffix, kind.uniform);
    VolumeMap map = vol.map();
    const Points p = reference_points();
    const auto m = static_cast<int32_t>(p.x.size());
    for (int32_t hold : {2, 3, 4, 7, -1, -3, -6}) {
      std::vector<double> out(p.x.size());
      resample(m, &map, out.data(), p.x.data(), p.y.data(), p.z.data(), hold, kBackground);
      const bool sinc = hold < 0;
      const int32_t q = sinc ? 1 - hold : hold + 1;
      for (int32_t n = 0; n < m; ++n) {
        const double expected = reference_value(vol, sinc, q, p.x[n], p.y[n], p.z[n]);
        ASSERT_EQ(bits(out[n]), bits(expected))
            << describe(kind) << " hold " << hold << " point " << n;
      }
    }
  }
}

TEST(Reference, TrilinearValuesFollowTheFormulaWithEitherScaling) {
  for (const Kind &kind : kKinds) {
    TestVolume vol = reference_volume(kind.suffix, kind.uniform);
    VolumeMap map = vol.map();
    const Points p = reference_points();
    const auto m = static_cast<int32_t>(p.x.size());
    std::vector<double> out(p.x.size());
    resample(m, &map, out.data(), p.x.data(), p.y.data(), p.z.data(), 1, kBackground);
    for (int32_t n = 0; n < m; ++n) {
      ASSERT_EQ(bits(out[n]), bits(reference_trilinear(vol, p.x[n], p.y[n], p.z[n])))
          << describe(kind) << " point " << n;
    }
  }
}

TEST(Reference, LookupGradientsAreTheBuildersRunsSummedInOrder) {
  for (const Kind &kind : kKinds) {
    TestVolume vol = reference_volume(kind.suffix, kind.uniform);
    VolumeMap map = vol.map();
    const Points p = reference_points();
    const auto m = static_cast<int32_t>(p.x.size());
    for (int32_t hold : {2, 3, 5, -1, -3}) {
      std::vector<double> value(p.x.size()), dx(p.x.size()), dy(p.x.size()), dz(p.x.size());
      resample_d(m, &map, value.data(), dx.data(), dy.data(), dz.data(), p.x.data(), p.y.data(),
                 p.z.data(), hold, kBackground);
      const bool sinc = hold < 0;
      const int32_t q = sinc ? 1 - hold : hold + 1;
      for (int32_t n = 0; n < m; ++n) {
        const Gradient g = reference_gradient(vol, sinc, q, p.x[n], p.y[n], p.z[n]);
        const std::string where =
            describe(kind) + " hold " + std::to_string(hold) + " point " + std::to_string(n);
        ASSERT_EQ(bits(value[n]), bits(g.value)) << where;
        ASSERT_EQ(bits(dx[n]), bits(g.dx)) << where;
        ASSERT_EQ(bits(dy[n]), bits(g.dy)) << where;
        ASSERT_EQ(bits(dz[n]), bits(g.dz)) << where;
      }
    }
  }
}

}  // namespace
