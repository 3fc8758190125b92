#include "stored_values.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "errors.h"

namespace vaeng {

template <class T>
T round_and_clamp(double v) {
  if (std::isnan(v)) return 0;
  const double r = std::round(v);
  // The bounds as doubles: -2^(n-1) and 2^n or 2^(n-1) are exact, so the
  // comparisons decide before any conversion can overflow.
  const double low = static_cast<double>(std::numeric_limits<T>::min());
  const double high_exclusive = std::ldexp(1.0, std::numeric_limits<T>::digits);
  if (r <= low) return std::numeric_limits<T>::min();
  if (r >= high_exclusive) return std::numeric_limits<T>::max();
  return static_cast<T>(r);
}

template uint8_t round_and_clamp<uint8_t>(double);
template int8_t round_and_clamp<int8_t>(double);
template int16_t round_and_clamp<int16_t>(double);
template uint16_t round_and_clamp<uint16_t>(double);
template int32_t round_and_clamp<int32_t>(double);
template uint32_t round_and_clamp<uint32_t>(double);
template int64_t round_and_clamp<int64_t>(double);
template uint64_t round_and_clamp<uint64_t>(double);

namespace {

template <class T>
void append_as(const double *values, std::size_t n, double scale, double offset, std::vector<unsigned char> *bytes) {
  const std::size_t start = bytes->size();
  bytes->resize(start + n * sizeof(T));
  unsigned char *dst = bytes->data() + start;
  for (std::size_t i = 0; i < n; ++i) {
    const double raw = (values[i] - offset) / scale;
    T stored;
    if constexpr (std::is_floating_point_v<T>)
      stored = static_cast<T>(raw);
    else
      stored = round_and_clamp<T>(raw);
    std::memcpy(dst + i * sizeof(T), &stored, sizeof(T));
  }
}

// Calls f with a value of the C++ type that stores `type`: the element of
// each native row of the volume library's list of encodings.
template <class F>
void with_stored_type(const NiftiDatatype &type, F &&f) {
#define VOLACCESS_ENCODING(t, type_code, element, reader, bits, host_class, nifti_code, twin, name) \
  if (!(twin) && type.code == (nifti_code)) return f(element{});
#include "voxel_types.def"
#undef VOLACCESS_ENCODING
  throw Error("no stored form for datatype " + std::to_string(type.code));
}

template <class T>
void add_range_as(const unsigned char *bytes, std::size_t n, double scale, double offset, StoredRange *range) {
  for (std::size_t i = 0; i < n; ++i) {
    T stored;
    std::memcpy(&stored, bytes + i * sizeof(T), sizeof(T));
    const double v = scale * static_cast<double>(stored) + offset;
    if (std::isnan(v)) continue;
    if (range->empty || v < range->low) range->low = v;
    if (range->empty || v > range->high) range->high = v;
    range->empty = false;
  }
}

}  // namespace

void add_stored_range(const unsigned char *bytes, std::size_t n, const NiftiDatatype &type, double scale, double offset,
                      StoredRange *range) {
  with_stored_type(type, [&](auto t) { add_range_as<decltype(t)>(bytes, n, scale, offset, range); });
}

void append_stored(const double *values, std::size_t n, const NiftiDatatype &type, double scale, double offset,
                   std::vector<unsigned char> *bytes) {
  with_stored_type(type, [&](auto t) { append_as<decltype(t)>(values, n, scale, offset, bytes); });
}

}  // namespace vaeng
