#include "mat4.h"

#include <cstdint>
#include <cstring>

#include "errors.h"

namespace vaeng {

namespace {

uint32_t load_u32(const unsigned char *p, bool big_endian) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return big_endian ? __builtin_bswap32(v) : v;
}

// A level-4 type field is MOPT in decimal: M the byte order (0 little,
// 1 big endian), O always 0, P the number type, T 0 for a full matrix.
bool plausible_mat4_type(uint32_t type) {
  return type < 2000 && (type / 100) % 10 == 0 && type % 10 == 0 && (type / 10) % 10 <= 5;
}

// One number of type T from its bytes, already in the machine's order.
template <class T>
double load_as(const unsigned char *b) {
  T v;
  std::memcpy(&v, b, sizeof v);
  return static_cast<double>(v);
}

double element(const unsigned char *p, uint32_t number_type, bool swap) {
  unsigned char b[8];
  const std::size_t n = number_type == 0 ? 8 : number_type <= 2 ? 4 : number_type <= 4 ? 2 : 1;
  for (std::size_t i = 0; i < n; ++i) b[i] = swap ? p[n - 1 - i] : p[i];
  switch (number_type) {
    case 0: return load_as<double>(b);
    case 1: return load_as<float>(b);
    case 2: return load_as<int32_t>(b);
    case 3: return load_as<int16_t>(b);
    case 4: return load_as<uint16_t>(b);
    default: return b[0];
  }
}

std::size_t element_bytes(uint32_t number_type) {
  return number_type == 0 ? 8 : number_type <= 2 ? 4 : number_type <= 4 ? 2 : 1;
}

}  // namespace

bool looks_like_mat4(const unsigned char *bytes, std::size_t size) {
  if (size < 20) return false;
  const uint32_t little = load_u32(bytes, false);
  const uint32_t big = load_u32(bytes, true);
  return (plausible_mat4_type(little) && little < 1000) || (plausible_mat4_type(big) && big >= 1000);
}

std::vector<MatVariable> parse_mat4(const unsigned char *bytes, std::size_t size, const std::string &name) {
  std::vector<MatVariable> out;
  std::size_t at = 0;
  while (at < size) {
    const std::string where = name + " (variable " + std::to_string(out.size() + 1) + ")";
    if (size - at < 20) fail(where, "truncated MATLAB level-4 header");
    const bool big = load_u32(bytes + at, false) >= 1000 && load_u32(bytes + at, true) < 2000;
    const uint32_t type = load_u32(bytes + at, big);
    const uint32_t rows = load_u32(bytes + at + 4, big);
    const uint32_t cols = load_u32(bytes + at + 8, big);
    const uint32_t imaginary = load_u32(bytes + at + 12, big);
    const uint32_t name_length = load_u32(bytes + at + 16, big);
    if (!plausible_mat4_type(type))
      fail(where, "not a MATLAB level-4 numeric matrix (type " + std::to_string(type) + ")");
    if (imaginary != 0) fail(where, "holds complex numbers, which no transform has");
    if (name_length < 1 || name_length > 256) fail(where, "bad name length " + std::to_string(name_length));
    at += 20;
    if (size - at < name_length) fail(where, "truncated name");
    const char *text = reinterpret_cast<const char *>(bytes + at);
    MatVariable v;
    v.name.assign(text, strnlen(text, name_length));
    at += name_length;
    const uint32_t number_type = (type / 10) % 10;
    const bool swap = big != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
    const uint64_t count = static_cast<uint64_t>(rows) * cols;
    // Checked before the product, which could overflow for a bogus count.
    if (count > size - at || count * element_bytes(number_type) > size - at)
      fail(where, "truncated data of '" + v.name + "'");
    const uint64_t data_bytes = count * element_bytes(number_type);
    v.values.reserve(count);
    for (uint64_t i = 0; i < count; ++i)
      v.values.push_back(element(bytes + at + i * element_bytes(number_type), number_type, swap));
    at += data_bytes;
    out.push_back(std::move(v));
  }
  if (out.empty()) fail(name, "is empty");
  return out;
}

}  // namespace vaeng
