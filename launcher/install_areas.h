// The launcher's preference file: where it lives and the install areas it
// lists. Parsing takes bytes, so it can be exercised without a launch.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The launcher's preference identifier; the file is this name with ".plist".
inline constexpr char kPreferenceIdentifier[] = "org.volaccess.app_launcher";

// The preference file under one prefix (the home directory, or "" for the
// file system root): prefix + "/Library/Preferences/" + identifier + ".plist",
// appended as they are.
std::string preference_file_name(const std::string &prefix);

struct InstallAreaList {
  // The bytes parsed as a property list (XML or binary).
  bool parsed = false;
  // The strings of the top-level dictionary's "InstallAreas" array, in order,
  // each converted to Mac OS Roman.
  std::vector<std::string> areas;
};

// Parses a whole preference file. When it is not a property list, `parsed`
// is false. A top level that is not a dictionary, a missing "InstallAreas"
// key, or a value under it that is not an array all give no areas; array
// elements that are not strings, hold a zero byte, or have no Mac OS Roman
// form, are left out.
InstallAreaList parse_install_areas(const char *data, size_t size);
