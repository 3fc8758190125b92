#include "fl/filesystem.h"

#include <filesystem>
#include <system_error>

#include "fl/i18n.h"

namespace fl::filesystem {

std::uintmax_t remove_all(const ustring &path) {
  const std::string native = i18n::to_string(path);
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(native, ec);
  if (ec || !std::filesystem::exists(status))
    throw filesystem_error("Cannot remove '" + native + "': no such file or directory");
  const std::uintmax_t removed = std::filesystem::remove_all(native, ec);
  if (ec) throw filesystem_error("Cannot remove '" + native + "': " + ec.message());
  return removed;
}

namespace detail {

ustring make_native_form(const ustring &path, bool strip_trailing_separator) {
  ustring out;
  out.reserve(path.size());
  for (char16_t c : path) {
    if (c == u'/' && !out.empty() && out.back() == u'/') continue;
    out += c;
  }
  if (strip_trailing_separator && out.size() > 1 && out.back() == u'/') out.pop_back();
  return out;
}

ustring concatenate_pathname(const ustring &base, const ustring &name) {
  if (base.empty()) return name;
  if (base.back() == u'/') return base + name;
  return base + u'/' + name;
}

}  // namespace detail

}  // namespace fl::filesystem
