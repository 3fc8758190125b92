#include "kernels.h"

namespace vaeng {

namespace {

// The kernels people know by name, and the codes they stand for.
struct HoldName {
  const char *name;
  int32_t code;
};
constexpr HoldName kHoldNames[] = {{"nearest", 0}, {"linear", 1}, {"cubic", 3}, {"sinc", -3}};

}  // namespace

std::string hold_range_problem(int64_t hold) {
  if (hold > kMaxLagrangeHold)
    return "Lagrange interpolation takes 2 to 170 (higher orders overflow the factorial denominators)";
  if (hold < kMinSincHold) return "windowed-sinc interpolation takes -1 to -254";
  return "";
}

int64_t read_reach(int32_t hold) {
  if (hold == kLabelHold) return 2;
  const volaccess::HoldRule rule = volaccess::decode_hold(hold);
  if (rule.kernel == volaccess::HoldKernel::kNearest || rule.kernel == volaccess::HoldKernel::kTrilinear) return 2;
  return rule.nodes / 2 + 1;
}

std::optional<int32_t> library_type_code(const std::string &element, bool swapped) {
#define VOLACCESS_ENCODING(t, code, stored, reader, bits, host_class, nifti_code, twin, name) \
  if (element == (name) && ((twin) == 1) == (swapped && (bits) > 8)) return (code);
#include "voxel_types.def"
#undef VOLACCESS_ENCODING
  return std::nullopt;
}

std::optional<int32_t> hold_by_name(const std::string &name) {
  for (const HoldName &n : kHoldNames)
    if (name == n.name) return n.code;
  return std::nullopt;
}

}  // namespace vaeng
