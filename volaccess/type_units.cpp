// One type unit per voxel encoding, instantiated from the one list of
// encodings, with the twelve functions of each exported under their plain
// C names.
#include <cstdint>

#include "calvex/byteorder.h"
#include "type_unit.h"
#include "volaccess.h"
#include "voxel_reader.h"

namespace volaccess {

// One exported function of an encoding: its C name, forwarding to the
// member of the encoding's type unit, Unit.
#define VOLACCESS_WRAP_FUNCTION(result, name, member, parameters, arguments) \
  extern "C" result name parameters { return Unit::member arguments; }

#define VOLACCESS_TYPE(t, code, element, reader)         \
  namespace unit_##t {                                   \
    using Unit = TypeUnit<VoxelReader<element, reader>>; \
    VOLACCESS_UNIT_FUNCTIONS(VOLACCESS_WRAP_FUNCTION, t) \
  }
#include "voxel_types.def"
#undef VOLACCESS_TYPE
#undef VOLACCESS_WRAP_FUNCTION

}  // namespace volaccess
