// Text of host values as UTF-16.
#ifndef CALVEX_STRING_H
#define CALVEX_STRING_H

#include "calvex/hx.h"
#include "fl/ustring.h"

class String {
 public:
  // Fills `text` and returns true when `value` is a character row vector
  // (an empty character array counts as the empty text) or, when
  // `allowStringScalar`, a string scalar. Otherwise returns false and
  // leaves `text` alone.
  static bool getScalarText(const hxArray *value, fl::ustring &text, bool allowStringScalar);
};

#endif
