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

std::optional<int32_t> hold_by_name(const std::string &name) {
  for (const HoldName &n : kHoldNames)
    if (name == n.name) return n.code;
  return std::nullopt;
}

}  // namespace vaeng
