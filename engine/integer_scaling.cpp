#include "integer_scaling.h"

#include <cmath>
#include <limits>

#include "errors.h"
#include "text_numbers.h"

namespace vaeng {

namespace {

struct IntegerBounds {
  double low;
  double high;
};

IntegerBounds bounds_of(const NiftiDatatype &type) {
  switch (type.code) {
    case 2: return {0, 255};
    case 256: return {-128, 127};
    case 4: return {-32768, 32767};
    case 512: return {0, 65535};
    case 8: return {-2147483648.0, 2147483647.0};
    case 768: return {0, 4294967295.0};
    // Rounded to doubles, as every value compared with them is.
    case 1024: return {-9223372036854775808.0, 9223372036854775807.0};
    case 1280: return {0, 18446744073709551615.0};
    default: break;
  }
  throw Error(std::string("no integer range for datatype ") + type.name);
}

// The value a header field holds. The float goes through memory: g++ 12
// at -O2 was seen to keep the unrounded double in a struct member here.
double as_field(double v, bool float_fields) {
  if (!float_fields) return v;
  const volatile float field = static_cast<float>(v);
  return field;
}

bool stores_within(double v, const StoredScaling &s, const IntegerBounds &b) {
  const double stored = std::round((v - s.offset) / s.scale);
  return stored >= b.low && stored <= b.high;
}

// v rounded to `bits` significant bits, toward zero or upward.
double keep_bits(double v, int bits, bool upward) {
  int exponent = 0;
  const double m = std::ldexp(std::frexp(v, &exponent), bits);
  return std::ldexp(upward ? std::ceil(m) : std::trunc(m), exponent - bits);
}

// The background at stored value `at`, the scale just large enough for the
// range on either side of it. Scale and `at` keep few significant bits, so
// that their product is exact even in a float and offset = background -
// scale * at reads the background back exactly; the fewer bits `at` keeps,
// the more backgrounds this holds for.
std::optional<StoredScaling> anchored(double at, const NiftiDatatype &type, const ValueRange &range, double background,
                                      bool float_fields) {
  const IntegerBounds b = bounds_of(type);
  for (int at_bits : {12, 6, 1}) {
    const double node = keep_bits(at, at_bits, false);
    double scale = 0;
    if (range.high > background) scale = std::max(scale, (range.high - background) / (b.high - node));
    if (range.low < background) scale = std::max(scale, (background - range.low) / (node - b.low));
    if (!(scale > 0) || !std::isfinite(scale)) scale = 1;
    StoredScaling s;
    s.scale = as_field(keep_bits(scale, 12, true), float_fields);
    s.offset = as_field(background - s.scale * node, float_fields);
    if (represents(s, type, range, background)) return s;
  }
  return std::nullopt;
}

}  // namespace

bool is_integer_type(const NiftiDatatype &type) { return type.code != 16 && type.code != 64; }

bool represents(const StoredScaling &scaling, const NiftiDatatype &type, const ValueRange &range, double background) {
  const IntegerBounds b = bounds_of(type);
  if (!(scaling.scale > 0) || !std::isfinite(scaling.offset)) return false;
  if (!stores_within(range.low, scaling, b) || !stores_within(range.high, scaling, b)) return false;
  return stores_exactly(scaling, type, background);
}

void check_background_storable(const NiftiDatatype &type, double background, const ScalingWords &words) {
  if (!std::isfinite(background))
    fail(words.output, std::string("the background ") + shortest_text(background) + " cannot be stored in " +
                           type.name + ": give " + words.background + " a number, or " + words.float_output);
}

StoredScaling choose_integer_scaling(const NiftiDatatype &type, const ValueRange &range, double background,
                                     const std::optional<StoredScaling> &preferred, bool float_fields,
                                     const ScalingWords &words) {
  check_background_storable(type, background, words);
  if (preferred && represents(*preferred, type, range, background)) return *preferred;
  // The background at the integer that stands where it stands in the
  // range, so that the type's integers span the values; else at stored 0,
  // where it reads back exactly whatever the scale.
  const IntegerBounds b = bounds_of(type);
  const double spread = range.high > range.low ? (background - range.low) / (range.high - range.low) : 0.5;
  const double anchors[] = {std::round(b.low + spread * (b.high - b.low)), 0.0};
  for (double at : anchors)
    if (at >= b.low && at <= b.high)
      if (const std::optional<StoredScaling> s = anchored(at, type, range, background, float_fields)) return *s;
  fail(words.output, std::string("no scale and offset of ") + type.name + " store the background " +
                         shortest_text(background) + " exactly with the values from " + shortest_text(range.low) +
                         " to " + shortest_text(range.high) + (float_fields ? " (NIfTI-1 keeps them as floats)" : "") +
                         ": choose " + words.float_output + " or another background");
}

bool stores_exactly(const StoredScaling &scaling, const NiftiDatatype &type, double v) {
  const IntegerBounds b = bounds_of(type);
  const double stored = std::round((v - scaling.offset) / scaling.scale);
  return stored >= b.low && stored <= b.high && scaling.scale * stored + scaling.offset == v;
}

void check_labels_storable(const NiftiDatatype &type, const StoredScaling &scaling, const ValueRange &range,
                           const std::optional<double> &inexact, const std::string &source) {
  const std::string scaled =
      scaling.scale == 1 && scaling.offset == 0
          ? ""
          : " at scale " + shortest_text(scaling.scale) + " and offset " + shortest_text(scaling.offset);
  if (!stores_exactly(scaling, type, range.low) || !stores_exactly(scaling, type, range.high))
    fail(source, "--hold label: the labels run from " + shortest_text(range.low) + " to " + shortest_text(range.high) +
                     ", which " + type.name + scaled +
                     " cannot hold exactly; another scaling would invent labels: choose --datatype source or a "
                     "wider type");
  if (inexact)
    fail(source, "--hold label: the label " + shortest_text(*inexact) + " cannot be stored exactly in " + type.name +
                     scaled + "; another scaling would invent labels: choose --datatype source or float32");
}

void prepare_for_storing(double *values, std::size_t n, const NiftiDatatype &type, double background,
                         StoringCounts *counts) {
  if (is_integer_type(type)) {
    for (std::size_t i = 0; i < n; ++i)
      if (std::isnan(values[i])) {
        values[i] = background;
        ++counts->not_a_number;
      }
  } else if (type.code == 16) {
    const double largest = std::numeric_limits<float>::max();
    for (std::size_t i = 0; i < n; ++i)
      if (std::isfinite(values[i]) && std::fabs(values[i]) > largest) ++counts->beyond_float32;
  }
}

}  // namespace vaeng
