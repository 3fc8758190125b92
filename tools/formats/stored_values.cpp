#include "stored_values.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "cli_error.h"

namespace vacli {

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

}  // namespace

void append_stored(const double *values, std::size_t n, const NiftiDatatype &type, double scale, double offset,
                   std::vector<unsigned char> *bytes) {
  switch (type.code) {
    case 2: return append_as<uint8_t>(values, n, scale, offset, bytes);
    case 256: return append_as<int8_t>(values, n, scale, offset, bytes);
    case 4: return append_as<int16_t>(values, n, scale, offset, bytes);
    case 512: return append_as<uint16_t>(values, n, scale, offset, bytes);
    case 8: return append_as<int32_t>(values, n, scale, offset, bytes);
    case 768: return append_as<uint32_t>(values, n, scale, offset, bytes);
    case 1024: return append_as<int64_t>(values, n, scale, offset, bytes);
    case 1280: return append_as<uint64_t>(values, n, scale, offset, bytes);
    case 16: return append_as<float>(values, n, scale, offset, bytes);
    case 64: return append_as<double>(values, n, scale, offset, bytes);
    default: throw CliError("no stored form for datatype " + std::to_string(type.code));
  }
}

}  // namespace vacli
