/* Byte-order readers for voxels stored in the opposite byte order. */
#include "calvex/byteorder.h"

#include <string.h>

int16_t getshort(int16_t v) { return (int16_t)__builtin_bswap16((uint16_t)v); }
uint16_t getushort(uint16_t v) { return __builtin_bswap16(v); }
int32_t getint(int32_t v) { return (int32_t)__builtin_bswap32((uint32_t)v); }
uint32_t getuint(uint32_t v) { return __builtin_bswap32(v); }
int64_t getint64(int64_t v) { return (int64_t)__builtin_bswap64((uint64_t)v); }
uint64_t getuint64(uint64_t v) { return __builtin_bswap64(v); }

/* The pattern is moved through an integer so that no floating-point
 * operation can quiet a signalling NaN on the way. */
float getfloat(float v) {
  uint32_t bits;
  memcpy(&bits, &v, sizeof bits);
  bits = __builtin_bswap32(bits);
  memcpy(&v, &bits, sizeof bits);
  return v;
}

double getdouble(double v) {
  uint64_t bits;
  memcpy(&bits, &v, sizeof bits);
  bits = __builtin_bswap64(bits);
  memcpy(&v, &bits, sizeof bits);
  return v;
}
