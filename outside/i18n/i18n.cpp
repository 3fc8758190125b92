// The native encoding here is UTF-8, so both 8-bit forms share the host's
// converters.
#include "fl/i18n.h"

#include "calvex/host.h"

namespace fl::i18n {

std::string to_string(const ustring &text) { return calvex::utf16_to_utf8(text); }

ustring to_ustring(const std::string &native) { return calvex::utf8_to_utf16(native); }

ustring utf8_to_ustring(const std::string &utf8) { return calvex::utf8_to_utf16(utf8); }

}  // namespace fl::i18n
