#include "calvex_string.h"

#include "calvex/host.h"

namespace {

bool char_row_text(const hxArray *value, fl::ustring &text) {
  const hxSize count = hxGetNumberOfElements(value);
  if (count == 0) {
    text.clear();
    return true;
  }
  if (hxGetNumberOfDimensions(value) != 2 || hxGetM(value) != 1) return false;
  const auto *units = static_cast<const char16_t *>(hxGetPr(value));
  text.assign(units, count);
  return true;
}

}  // namespace

bool String::getScalarText(const hxArray *value, fl::ustring &text, bool allowStringScalar) {
  if (!value) return false;
  if (hxIsChar(value)) return char_row_text(value, text);
  if (!allowStringScalar || hxGetNumberOfElements(value) != 1) return false;
  hxSize n = 0;
  const hxChar *units = hxGetStringScalar(value, &n);
  if (!units) return false;
  text.assign(reinterpret_cast<const char16_t *>(units), n);
  return true;
}
