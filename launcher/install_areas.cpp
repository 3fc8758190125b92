// Property lists through libplist, which reads both the XML and the binary
// format.
#include "install_areas.h"

#include <plist/plist.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include "platform.h"

namespace {

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// Copies the string that `node` holds into `value`; false when it holds
// none, or one with a zero byte: no path can hold that, and libplist's
// copying accessor asserts on it.
bool string_value(plist_t node, std::string &value) {
  if (plist_get_node_type(node) != PLIST_STRING) return false;
  uint64_t length = 0;
  const char *text = plist_get_string_ptr(node, &length);
  if (text == nullptr || std::memchr(text, '\0', length) != nullptr) return false;
  value.assign(text, length);
  return true;
}

}  // namespace

std::string preference_file_name(const std::string &prefix) {
  return prefix + "/Library/Preferences/" + kPreferenceIdentifier + ".plist";
}

InstallAreaList parse_install_areas(const char *data, size_t size) {
  InstallAreaList result;
  if (size == 0 || size > std::numeric_limits<uint32_t>::max()) return result;
  plist_t raw = nullptr;
  plist_from_memory(data, static_cast<uint32_t>(size), &raw);
  PlistPtr root(raw);
  if (!root) return result;
  result.parsed = true;
  if (plist_get_node_type(root.get()) != PLIST_DICT) return result;
  plist_t list = plist_dict_get_item(root.get(), "InstallAreas");
  if (list == nullptr || plist_get_node_type(list) != PLIST_ARRAY) return result;
  uint32_t count = plist_array_get_size(list);
  for (uint32_t i = 0; i < count; ++i) {
    std::string text;
    if (!string_value(plist_array_get_item(list, i), text)) continue;
    if (std::optional<std::string> area = launcher_platform::to_mac_roman(text))
      result.areas.push_back(std::move(*area));
  }
  return result;
}
