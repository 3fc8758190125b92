// The eighteen type units as the tests see them: suffix, type code, element
// size, how a test stores a value in the unit's encoding, and the twelve
// exported functions, all expanded from the one list of encodings.
#ifndef TESTS_KERNELS_UNIT_TABLE_H
#define TESTS_KERNELS_UNIT_TABLE_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "volaccess.h"

namespace kernels_test {

// Stores value, converted to the element type, in the machine's byte order.
template <typename Element>
void encode_native(double value, unsigned char *out) {
  const auto element = static_cast<Element>(value);
  std::memcpy(out, &element, sizeof element);
}

// Stores value, converted to the element type, with its bytes reversed.
template <typename Element>
void encode_swapped(double value, unsigned char *out) {
  encode_native<Element>(value, out);
  std::reverse(out, out + sizeof(Element));
}

// Reads element 0 of raw stored bytes as the unit would: native order, or
// reversed for a swapped encoding, then converted to double.
template <typename Element>
double decode_native(const unsigned char *in) {
  Element element;
  std::memcpy(&element, in, sizeof element);
  return static_cast<double>(element);
}

template <typename Element>
double decode_swapped(const unsigned char *in) {
  unsigned char reversed[sizeof(Element)];
  std::reverse_copy(in, in + sizeof(Element), reversed);
  return decode_native<Element>(reversed);
}

struct Unit {
  const char *suffix;
  int32_t code;
  std::size_t size;
  bool swapped;
  void (*encode)(double, unsigned char *);
  double (*decode)(const unsigned char *);
#define UNIT_TABLE_MEMBER(result, name, member, parameters, arguments) result(*member) parameters;
  VOLACCESS_UNIT_FUNCTIONS(UNIT_TABLE_MEMBER, uchar)
#undef UNIT_TABLE_MEMBER
};

#define UNIT_TABLE_FUNCTION(result, name, member, parameters, arguments) name,
#define VOLACCESS_TYPE(t, code, element, reader)                                \
  Unit{#t,                                                                      \
       (code),                                                                  \
       sizeof(element),                                                         \
       ((code)&0x8000) != 0,                                                    \
       ((code)&0x8000) != 0 ? encode_swapped<element> : encode_native<element>, \
       ((code)&0x8000) != 0 ? decode_swapped<element> : decode_native<element>, \
       VOLACCESS_UNIT_FUNCTIONS(UNIT_TABLE_FUNCTION, t)},
inline const std::vector<Unit> &all_units() {
  static const std::vector<Unit> units = {
#include "voxel_types.def"
  };
  return units;
}
#undef VOLACCESS_TYPE
#undef UNIT_TABLE_FUNCTION

inline const Unit &unit_named(const char *suffix) {
  for (const Unit &unit : all_units()) {
    if (std::strcmp(unit.suffix, suffix) == 0) return unit;
  }
  return all_units().front();
}

// Raw bits of a double, for exact comparison (NaN by pattern, -0 apart
// from +0).
inline uint64_t bits(double value) {
  uint64_t b;
  std::memcpy(&b, &value, sizeof b);
  return b;
}

inline double from_bits(uint64_t b) {
  double value;
  std::memcpy(&value, &b, sizeof value);
  return value;
}

// True when a equals b or is one of its two neighbouring doubles: for
// examples whose exactness the order of operations cannot promise.
inline bool within_one_ulp(double a, double b) {
  return a == b || a == std::nextafter(b, 1e308) || a == std::nextafter(b, -1e308);
}

// A volume of one encoding held by the test. Every plane sits one byte
// past an aligned address, so the kernels must read at any alignment.
class TestVolume {
 public:
  template <class ValueAt>
  TestVolume(const Unit &unit, int32_t dim0, int32_t dim1, int32_t dim2, ValueAt value_at)
      : unit_(unit), dims_{dim0, dim1, dim2}, scale_(static_cast<std::size_t>(dim2), 1.0),
        offset_(static_cast<std::size_t>(dim2), 0.0) {
    const std::size_t plane_bytes = static_cast<std::size_t>(dim0) * dim1 * unit.size;
    for (int32_t k = 0; k < dim2; ++k) {
      planes_.emplace_back(plane_bytes + 1);
      for (int32_t j = 0; j < dim1; ++j) {
        for (int32_t i = 0; i < dim0; ++i) {
          const std::size_t e = static_cast<std::size_t>(i) + static_cast<std::size_t>(dim0) * j;
          unit.encode(value_at(i, j, k), planes_.back().data() + 1 + e * unit.size);
        }
      }
    }
    for (auto &plane : planes_) pointers_.push_back(plane.data() + 1);
  }

  // Stores raw bytes (already in the unit's stored form) at element e of
  // plane k.
  void put_raw(int32_t k, std::size_t e, const void *bytes) {
    std::memcpy(planes_[static_cast<std::size_t>(k)].data() + 1 + e * unit_.size, bytes,
                unit_.size);
  }

  void set_plane_scaling(int32_t k, double scale, double offset) {
    scale_[static_cast<std::size_t>(k)] = scale;
    offset_[static_cast<std::size_t>(k)] = offset;
  }

  void **data() { return pointers_.data(); }
  const double *scale() const { return scale_.data(); }
  const double *offset() const { return offset_.data(); }
  int32_t dim(int axis) const { return dims_[axis]; }

  VolumeMap map() {
    VolumeMap record{};
    for (int axis = 0; axis < 3; ++axis) record.dim[axis] = static_cast<uint64_t>(dims_[axis]);
    record.scale = scale_.data();
    record.offset = offset_.data();
    record.dtype = unit_.code;
    record.data = pointers_.data();
    return record;
  }

  // Point sampling through one unit's entry, one point at a time.
  double sample(double x, double y, double z, int32_t hold, double background = -7.0) {
    double out = 0.0;
    unit_.resample(1, data(), &out, &x, &y, &z, dims_[0], dims_[1], dims_[2], hold, background,
                   scale(), offset());
    return out;
  }

 private:
  const Unit &unit_;
  int32_t dims_[3];
  std::vector<std::vector<unsigned char>> planes_;
  std::vector<void *> pointers_;
  std::vector<double> scale_;
  std::vector<double> offset_;
};

}  // namespace kernels_test

#endif
