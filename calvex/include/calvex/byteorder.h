/* Byte-order readers: each returns its argument with the order of its
 * bytes reversed; the floating-point ones reverse the bit pattern and
 * return it untouched, NaN and denormal patterns included. They are
 * resolved in the extension module that links the volume library. */
#ifndef CALVEX_BYTEORDER_H
#define CALVEX_BYTEORDER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

int16_t getshort(int16_t v);
uint16_t getushort(uint16_t v);
int32_t getint(int32_t v);
uint32_t getuint(uint32_t v);
int64_t getint64(int64_t v);
uint64_t getuint64(uint64_t v);
float getfloat(float v);
double getdouble(double v);

#ifdef __cplusplus
}
#endif

#endif
