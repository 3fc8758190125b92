// Conversions between UTF-16 text and its 8-bit forms. The native 8-bit
// encoding of this platform is UTF-8. Malformed input becomes U+FFFD; no
// conversion fails.
#ifndef FL_I18N_H
#define FL_I18N_H

#include <string>

#include "fl/ustring.h"

namespace fl::i18n {

// UTF-16 text to the native 8-bit encoding.
std::string to_string(const ustring &text);
// Native 8-bit text to UTF-16.
ustring to_ustring(const std::string &native);
// UTF-8 text to UTF-16, whatever the native encoding.
ustring utf8_to_ustring(const std::string &utf8);

}  // namespace fl::i18n

#endif
