// The host's value model: numeric, logical and char arrays, string
// scalars and struct arrays, N-d and column-major, with the hx* queries.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "calvex/host.h"

struct hxArray_tag {
  hxClassID cls = hxUNKNOWN_CLASS;
  std::vector<hxSize> dims;  // at least two entries, no trailing ones past the second
  bool complex = false;
  bool sparse = false;
  std::vector<unsigned char> real;  // element storage (UTF-16 units for char)
  std::vector<unsigned char> imag;
  std::u16string text;  // string scalar
  std::vector<std::string> field_names;
  std::vector<hxArray *> fields;  // element-major: element * nfields + field
};

namespace {

hxSize element_size(hxClassID cls) {
  switch (cls) {
    case hxLOGICAL_CLASS:
    case hxINT8_CLASS:
    case hxUINT8_CLASS: return 1;
    case hxCHAR_CLASS:
    case hxINT16_CLASS:
    case hxUINT16_CLASS: return 2;
    case hxSINGLE_CLASS:
    case hxINT32_CLASS:
    case hxUINT32_CLASS: return 4;
    case hxDOUBLE_CLASS:
    case hxINT64_CLASS:
    case hxUINT64_CLASS: return 8;
    default: return 0;
  }
}

bool is_numeric_class(hxClassID cls) { return cls >= hxDOUBLE_CLASS && cls <= hxUINT64_CLASS; }

std::vector<hxSize> normalised_dims(hxSize ndim, const hxSize *dims) {
  std::vector<hxSize> d(dims, dims + ndim);
  while (d.size() < 2) d.push_back(d.empty() ? 0 : 1);
  while (d.size() > 2 && d.back() == 1) d.pop_back();
  return d;
}

hxSize count_of(const std::vector<hxSize> &dims) {
  hxSize n = 1;
  for (hxSize d : dims) n *= d;
  return n;
}

hxArray *make(hxClassID cls, hxSize ndim, const hxSize *dims) {
  auto *a = new hxArray;
  a->cls = cls;
  a->dims = normalised_dims(ndim, dims);
  a->real.assign(count_of(a->dims) * element_size(cls), 0);
  return a;
}

int field_number(const hxArray *s, const char *name) {
  for (std::size_t f = 0; f < s->field_names.size(); ++f)
    if (s->field_names[f] == name) return static_cast<int>(f);
  return -1;
}

}  // namespace

extern "C" {

bool hxIsNumeric(const hxArray *a) { return a && is_numeric_class(a->cls); }
bool hxIsComplex(const hxArray *a) { return a && a->complex; }
bool hxIsSparse(const hxArray *a) { return a && a->sparse; }
// One test a class: hxIs<Name> holds for an array of class
// hx<ID>_CLASS.
#define CALVEX_CLASS_TEST(name, id) \
  bool hxIs##name(const hxArray *a) { return a && a->cls == hx##id##_CLASS; }
CALVEX_CLASS_TEST(Struct, STRUCT)
CALVEX_CLASS_TEST(Char, CHAR)
CALVEX_CLASS_TEST(Logical, LOGICAL)
CALVEX_CLASS_TEST(Double, DOUBLE)
CALVEX_CLASS_TEST(Single, SINGLE)
CALVEX_CLASS_TEST(Int8, INT8)
CALVEX_CLASS_TEST(Uint8, UINT8)
CALVEX_CLASS_TEST(Int16, INT16)
CALVEX_CLASS_TEST(Uint16, UINT16)
CALVEX_CLASS_TEST(Int32, INT32)
CALVEX_CLASS_TEST(Uint32, UINT32)
CALVEX_CLASS_TEST(Int64, INT64)
CALVEX_CLASS_TEST(Uint64, UINT64)
#undef CALVEX_CLASS_TEST
hxClassID hxGetClassID(const hxArray *a) { return a ? a->cls : hxUNKNOWN_CLASS; }

hxSize hxGetNumberOfDimensions(const hxArray *a) { return a->dims.size(); }
const hxSize *hxGetDimensions(const hxArray *a) { return a->dims.data(); }
hxSize hxGetM(const hxArray *a) { return a->dims[0]; }
hxSize hxGetN(const hxArray *a) {
  hxSize n = 1;
  for (std::size_t i = 1; i < a->dims.size(); ++i) n *= a->dims[i];
  return n;
}
hxSize hxGetNumberOfElements(const hxArray *a) { return count_of(a->dims); }
hxSize hxGetElementSize(const hxArray *a) { return element_size(a->cls); }

void *hxGetPr(const hxArray *a) {
  if (!a || a->real.empty()) return nullptr;
  return const_cast<unsigned char *>(a->real.data());
}

void *hxGetPi(const hxArray *a) {
  if (!a || !a->complex || a->imag.empty()) return nullptr;
  return const_cast<unsigned char *>(a->imag.data());
}

hxArray *hxGetField(const hxArray *a, hxSize index, const char *name) {
  if (!hxIsStruct(a) || index >= hxGetNumberOfElements(a)) return nullptr;
  int f = field_number(a, name);
  if (f < 0) return nullptr;
  hxArray *v = a->fields[index * a->field_names.size() + static_cast<std::size_t>(f)];
  if (!v) return nullptr;
  if (v->cls != hxSTRING_CLASS && hxGetNumberOfElements(v) == 0) return nullptr;
  return v;
}

int hxGetNumberOfFields(const hxArray *a) { return hxIsStruct(a) ? static_cast<int>(a->field_names.size()) : 0; }

const char *hxGetFieldNameByNumber(const hxArray *a, int n) {
  if (!hxIsStruct(a) || n < 0 || n >= hxGetNumberOfFields(a)) return nullptr;
  return a->field_names[static_cast<std::size_t>(n)].c_str();
}

char *hxArrayToString(const hxArray *a) {
  if (!hxIsChar(a)) return nullptr;
  std::u16string units(hxGetNumberOfElements(a), u'\0');
  if (!units.empty()) std::memcpy(&units[0], a->real.data(), units.size() * 2);
  std::string text = calvex::utf16_to_utf8(units);
  char *s = static_cast<char *>(hxCalloc(text.size() + 1, 1));
  if (s) std::memcpy(s, text.data(), text.size());
  return s;
}

hxArray *hxCreateNumericArray(hxSize ndim, const hxSize *dims, hxClassID cls, hxComplexity c) {
  if (!is_numeric_class(cls)) return nullptr;
  hxArray *a = make(cls, ndim, dims);
  if (c == hxCOMPLEX) {
    a->complex = true;
    a->imag.assign(a->real.size(), 0);
  }
  return a;
}

hxArray *hxCreateDoubleMatrix(hxSize m, hxSize n, hxComplexity c) {
  const hxSize dims[2] = {m, n};
  return hxCreateNumericArray(2, dims, hxDOUBLE_CLASS, c);
}

hxArray *hxCreateDoubleScalar(double value) {
  hxArray *a = hxCreateDoubleMatrix(1, 1, hxREAL);
  std::memcpy(a->real.data(), &value, sizeof value);
  return a;
}

hxArray *hxCreateLogicalArray(hxSize ndim, const hxSize *dims) { return make(hxLOGICAL_CLASS, ndim, dims); }

hxArray *hxCreateSparse(hxSize m, hxSize n) {
  const hxSize dims[2] = {m, n};
  hxArray *a = make(hxDOUBLE_CLASS, 2, dims);
  a->sparse = true;
  a->real.clear();
  return a;
}

hxArray *hxCreateCharArray(hxSize ndim, const hxSize *dims) { return make(hxCHAR_CLASS, ndim, dims); }

hxArray *hxCreateString(const char *utf8) {
  std::u16string units = calvex::utf8_to_utf16(utf8 ? utf8 : "");
  const hxSize dims[2] = {1, units.size()};
  hxArray *a = hxCreateCharArray(2, dims);
  if (!units.empty()) std::memcpy(a->real.data(), units.data(), units.size() * 2);
  return a;
}

hxArray *hxCreateStringScalar(const char *utf8) {
  const hxSize dims[2] = {1, 1};
  hxArray *a = make(hxSTRING_CLASS, 2, dims);
  a->text = calvex::utf8_to_utf16(utf8 ? utf8 : "");
  return a;
}

const hxChar *hxGetStringScalar(const hxArray *a, hxSize *n) {
  if (!a || a->cls != hxSTRING_CLASS) return nullptr;
  if (n) *n = a->text.size();
  return reinterpret_cast<const hxChar *>(a->text.c_str());
}

hxArray *hxCreateStructArray(hxSize ndim, const hxSize *dims, int nfields, const char **names) {
  hxArray *a = make(hxSTRUCT_CLASS, ndim, dims);
  for (int f = 0; f < nfields; ++f) hxAddField(a, names[f]);
  return a;
}

int hxAddField(hxArray *s, const char *name) {
  if (!hxIsStruct(s)) return -1;
  int f = field_number(s, name);
  if (f >= 0) return f;
  const std::size_t old_n = s->field_names.size();
  const std::size_t count = hxGetNumberOfElements(s);
  std::vector<hxArray *> fields(count * (old_n + 1), nullptr);
  for (std::size_t e = 0; e < count; ++e)
    for (std::size_t k = 0; k < old_n; ++k) fields[e * (old_n + 1) + k] = s->fields[e * old_n + k];
  s->fields.swap(fields);
  s->field_names.emplace_back(name);
  return static_cast<int>(old_n);
}

void hxSetField(hxArray *s, hxSize index, const char *name, hxArray *value) {
  if (!hxIsStruct(s) || index >= hxGetNumberOfElements(s)) {
    hxDestroyArray(value);
    return;
  }
  const int f = hxAddField(s, name);
  hxArray *&slot = s->fields[index * s->field_names.size() + static_cast<std::size_t>(f)];
  if (slot != value) hxDestroyArray(slot);
  slot = value;
}

void hxDestroyArray(hxArray *a) {
  if (!a) return;
  for (hxArray *v : a->fields) hxDestroyArray(v);
  delete a;
}

}  // extern "C"
