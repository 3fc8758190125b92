/* The array half of the host's extension interface.
 *
 * hxArray is an opaque handle to one host value. Values handed to an
 * extension module are never owned by it. Usable from C and C++. */
#ifndef CALVEX_HX_H
#define CALVEX_HX_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hxArray_tag hxArray;
typedef size_t hxSize;
typedef uint16_t hxChar; /* one UTF-16 code unit */

typedef enum {
  hxUNKNOWN_CLASS = 0,
  hxSTRUCT_CLASS,
  hxLOGICAL_CLASS,
  hxCHAR_CLASS,
  hxSTRING_CLASS, /* string scalar: one UTF-16 text */
  hxDOUBLE_CLASS,
  hxSINGLE_CLASS,
  hxINT8_CLASS,
  hxUINT8_CLASS,
  hxINT16_CLASS,
  hxUINT16_CLASS,
  hxINT32_CLASS,
  hxUINT32_CLASS,
  hxINT64_CLASS,
  hxUINT64_CLASS
} hxClassID;

typedef enum { hxREAL = 0, hxCOMPLEX = 1 } hxComplexity;

/* Class and kind tests: true or false, never an error. */
bool hxIsStruct(const hxArray *a);
bool hxIsNumeric(const hxArray *a); /* the ten numeric classes, not logical or char */
bool hxIsComplex(const hxArray *a);
bool hxIsSparse(const hxArray *a);
bool hxIsChar(const hxArray *a);
bool hxIsLogical(const hxArray *a);
bool hxIsDouble(const hxArray *a);
bool hxIsSingle(const hxArray *a);
bool hxIsInt8(const hxArray *a);
bool hxIsUint8(const hxArray *a);
bool hxIsInt16(const hxArray *a);
bool hxIsUint16(const hxArray *a);
bool hxIsInt32(const hxArray *a);
bool hxIsUint32(const hxArray *a);
bool hxIsInt64(const hxArray *a);
bool hxIsUint64(const hxArray *a);
hxClassID hxGetClassID(const hxArray *a);

/* Sizes. The dimension count is at least 2; trailing ones beyond the
 * second are not stored. hxGetN is the product of every size after the
 * first, so hxGetM * hxGetN is the element count. */
hxSize hxGetNumberOfDimensions(const hxArray *a);
const hxSize *hxGetDimensions(const hxArray *a);
hxSize hxGetM(const hxArray *a);
hxSize hxGetN(const hxArray *a);
hxSize hxGetNumberOfElements(const hxArray *a);
hxSize hxGetElementSize(const hxArray *a);

/* Start of the elements, contiguous, column-major, in the value's own
 * class (UTF-16 units for char arrays); null for struct arrays and for
 * values without elements. */
void *hxGetPr(const hxArray *a);
/* Imaginary parts of a complex numeric value, else null. */
void *hxGetPi(const hxArray *a);

/* The value of field `name` of element `index` (0-based) of a struct
 * array; null when the value is not a struct array, the index is out of
 * range, the field does not exist, or the field holds no value or an
 * empty one. The result belongs to the struct array. */
hxArray *hxGetField(const hxArray *a, hxSize index, const char *name);
int hxGetNumberOfFields(const hxArray *a);
const char *hxGetFieldNameByNumber(const hxArray *a, int n);

/* A new zero-terminated UTF-8 copy of a char array (free with hxFree),
 * or null when the value is not a char array. */
char *hxArrayToString(const hxArray *a);

/* Zero-filled memory from the host allocator; the host counts what is
 * live so that a caller can prove a call released all it took. */
void *hxCalloc(size_t n, size_t size);
void hxFree(void *p);

#ifdef __cplusplus
}
#endif

#endif
