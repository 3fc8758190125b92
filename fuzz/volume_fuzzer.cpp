// Volume descriptions built from fuzz input: host values of any class and
// shape, with a backing file whose size and bytes come from the input,
// through get_maps, every sampling entry and free_maps. Nothing may leak,
// crash or read outside the mapping or the array.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "calvex/host.h"
#include "volaccess.h"

namespace {

// Values that sit on the library's decision boundaries.
const double kInteresting[] = {0,
                               1,
                               -1,
                               2,
                               3,
                               4,
                               8,
                               16,
                               64,
                               128,
                               256,
                               512,
                               768,
                               1024,
                               1280,
                               0.5,
                               -0.5,
                               0.95,
                               1.05,
                               352,
                               1e-5,
                               1e20,
                               -1e20,
                               2147483647.0,
                               2147483648.0,
                               4294967296.0,
                               1.8446744073709552e19,
                               NAN,
                               INFINITY,
                               -INFINITY};

double fuzz_double(FuzzedDataProvider &in) {
  if (in.ConsumeBool())
    return in.PickValueInArray(kInteresting) + (in.ConsumeBool() ? in.ConsumeIntegralInRange(-3, 3) : 0);
  return in.ConsumeFloatingPoint<double>();
}

hxClassID fuzz_class(FuzzedDataProvider &in) {
  static const hxClassID classes[] = {hxDOUBLE_CLASS, hxSINGLE_CLASS, hxINT8_CLASS,  hxUINT8_CLASS,
                                      hxINT16_CLASS,  hxUINT16_CLASS, hxINT32_CLASS, hxUINT32_CLASS,
                                      hxINT64_CLASS,  hxUINT64_CLASS, hxCHAR_CLASS,  hxLOGICAL_CLASS};
  return in.PickValueInArray(classes);
}

std::vector<hxSize> fuzz_dims(FuzzedDataProvider &in, hxSize max_each) {
  std::vector<hxSize> dims(in.ConsumeIntegralInRange<std::size_t>(1, 4));
  for (hxSize &d : dims) d = in.ConsumeIntegralInRange<hxSize>(0, max_each);
  return dims;
}

// A value of a random class and shape; numeric elements from the input.
hxArray *fuzz_value(FuzzedDataProvider &in, hxSize max_each) {
  const uint8_t kind = in.ConsumeIntegralInRange<uint8_t>(0, 9);
  if (kind == 0)
    return hxCreateSparse(in.ConsumeIntegralInRange<hxSize>(0, 4), in.ConsumeIntegralInRange<hxSize>(0, 4));
  if (kind == 1) return hxCreateString(in.ConsumeRandomLengthString(16).c_str());
  if (kind == 2) return hxCreateStringScalar("x");
  const std::vector<hxSize> dims = fuzz_dims(in, max_each);
  const hxClassID cls = fuzz_class(in);
  hxArray *a;
  if (cls == hxCHAR_CLASS)
    a = hxCreateCharArray(dims.size(), dims.data());
  else if (cls == hxLOGICAL_CLASS)
    a = hxCreateLogicalArray(dims.size(), dims.data());
  else
    a = hxCreateNumericArray(dims.size(), dims.data(), cls, kind == 3 ? hxCOMPLEX : hxREAL);
  auto *bytes = static_cast<unsigned char *>(hxGetPr(a));
  const std::size_t n = hxGetNumberOfElements(a), size = hxGetElementSize(a);
  for (std::size_t e = 0; e < n && bytes && in.remaining_bytes() > 0; ++e) {
    if (cls == hxDOUBLE_CLASS) {
      const double v = fuzz_double(in);
      std::memcpy(bytes + e * size, &v, sizeof v);
    } else {
      const std::vector<uint8_t> raw = in.ConsumeBytes<uint8_t>(size);
      std::memcpy(bytes + e * size, raw.data(), raw.size());
    }
  }
  return a;
}

// A shape that usually fits the field it stands for.
hxArray *fuzz_field(FuzzedDataProvider &in, hxSize rows, hxSize cols) {
  if (in.ConsumeIntegralInRange(0, 7) == 0) return fuzz_value(in, 5);
  hxArray *a = hxCreateDoubleMatrix(rows, cols, hxREAL);
  auto *p = static_cast<double *>(hxGetPr(a));
  for (hxSize e = 0; e < rows * cols; ++e) p[e] = fuzz_double(in);
  return a;
}

struct Backing {
  int fd = -1;
  std::string path;
};

Backing make_backing(FuzzedDataProvider &in) {
  Backing b;
  b.fd = memfd_create("volume", MFD_CLOEXEC);
  const std::size_t size = in.ConsumeIntegralInRange<std::size_t>(0, 4096);
  if (ftruncate(b.fd, static_cast<off_t>(size)) != 0) return b;
  const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(size);
  if (!bytes.empty() && write(b.fd, bytes.data(), bytes.size()) < 0) return b;
  b.path = "/proc/self/fd/" + std::to_string(b.fd);
  return b;
}

hxArray *fuzz_struct(FuzzedDataProvider &in, const Backing &backing) {
  const hxSize dims[2] = {1, in.ConsumeIntegralInRange<hxSize>(0, 3)};
  hxArray *s = hxCreateStructArray(2, dims, 0, nullptr);
  for (hxSize e = 0; e < dims[1]; ++e) {
    if (in.ConsumeBool()) hxSetField(s, e, "dim", fuzz_field(in, 1, 3));
    if (in.ConsumeBool()) hxSetField(s, e, "dt", fuzz_field(in, 1, in.ConsumeIntegralInRange<hxSize>(1, 2)));
    if (in.ConsumeBool())
      hxSetField(s, e, "pinfo",
                 fuzz_field(in, in.ConsumeIntegralInRange<hxSize>(2, 3), in.ConsumeIntegralInRange<hxSize>(1, 4)));
    if (in.ConsumeBool()) hxSetField(s, e, "mat", fuzz_field(in, 4, 4));
    if (in.ConsumeBool())
      hxSetField(s, e, "fname", in.ConsumeBool() ? hxCreateString(backing.path.c_str()) : fuzz_value(in, 3));
    if (in.ConsumeIntegralInRange(0, 3) == 0) hxSetField(s, e, "dat", fuzz_value(in, 6));
  }
  return s;
}

int32_t fuzz_hold(FuzzedDataProvider &in) {
  if (in.ConsumeIntegralInRange(0, 15) == 0) return in.ConsumeIntegral<int32_t>();
  return in.ConsumeIntegralInRange<int32_t>(-12, 12);
}

void sample(FuzzedDataProvider &in, const VolumeMap &map) {
  const int32_t m = in.ConsumeIntegralInRange<int32_t>(0, 8);
  std::vector<double> x(m), y(m), z(m), out(m), gx(m), gy(m), gz(m);
  for (int32_t p = 0; p < m; ++p) {
    x[p] = fuzz_double(in);
    y[p] = fuzz_double(in);
    z[p] = fuzz_double(in);
  }
  resample(m, &map, out.data(), x.data(), y.data(), z.data(), fuzz_hold(in), fuzz_double(in));
  resample_d(m, &map, out.data(), gx.data(), gy.data(), gz.data(), x.data(), y.data(), z.data(), fuzz_hold(in),
             fuzz_double(in));
  double mat[16];
  for (double &v : mat) v = fuzz_double(in);
  const int32_t xdim = in.ConsumeIntegralInRange<int32_t>(-1, 12), ydim = in.ConsumeIntegralInRange<int32_t>(-1, 12);
  std::vector<double> image(static_cast<std::size_t>(std::max(xdim, 0) * std::max(ydim, 0)));
  slice(mat, image.data(), xdim, ydim, &map, fuzz_hold(in), fuzz_double(in));
  if (map.dim[0] > 0 && map.dim[1] > 0 && map.dim[2] > 0 && map.dim[0] * map.dim[1] <= 65536 && in.ConsumeBool()) {
    // The in-plane shortcut: the identity on one of the volume's own planes.
    for (int e = 0; e < 16; ++e) mat[e] = e % 5 == 0 ? 1.0 : 0.0;
    mat[14] = static_cast<double>(in.ConsumeIntegralInRange<uint64_t>(1, map.dim[2]));
    image.resize(map.dim[0] * map.dim[1]);
    slice(mat, image.data(), static_cast<int32_t>(map.dim[0]), static_cast<int32_t>(map.dim[1]), &map, fuzz_hold(in),
          0.0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::size_t allocations = calvex::live_allocations();
  const Backing backing = make_backing(in);
  hxArray *value = in.ConsumeBool() ? fuzz_struct(in, backing) : fuzz_value(in, 6);
  calvex::take_console();
  calvex::call_boundary([&] {
    int32_t n = 0;
    VolumeMap *maps = get_maps(value, &n);
    for (int32_t i = 0; i < n; ++i) sample(in, maps[i]);
    free_maps(maps, n);
  });
  calvex::call_boundary([&] { get_dtype(value); });
  hxDestroyArray(value);
  if (backing.fd >= 0) close(backing.fd);
  if (calvex::live_allocations() != allocations) __builtin_trap();
  return 0;
}
