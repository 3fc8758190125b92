// Preference-file contents for tests, in the XML and the binary format.
#pragma once

#include <string>
#include <vector>

namespace launcher_test {

// An XML property list whose top level is `body`.
std::string xml_plist(const std::string &body);
// A dictionary whose "InstallAreas" array holds `areas` (UTF-8 text).
std::string xml_install_areas(const std::vector<std::string> &areas);
// The same property list in the binary format.
std::string to_binary_plist(const std::string &xml);

}  // namespace launcher_test
