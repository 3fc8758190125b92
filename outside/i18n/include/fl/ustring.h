// The text type that crosses the host's libraries: UTF-16 code units.
#ifndef FL_USTRING_H
#define FL_USTRING_H

#include <string>

namespace fl {
using ustring = std::u16string;
}

#endif
