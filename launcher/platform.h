// The launcher's platform seam: the loaded-image list, the home directory, a
// whole-file read and two text encodings. The system was designed against
// the macOS dynamic loader and Foundation; platform_linux.cpp gives each
// operation its Linux form.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace launcher_platform {

// One loaded object: its path and the address at which its header is mapped.
struct LoadedImage {
  std::string name;
  const void *header;
};

// Every object loaded into the process, in the loader's order, the main
// program first. The main program's name is its executable's path; the
// header address is where the object's first file byte is mapped.
std::vector<LoadedImage> loaded_images();

// The user's home directory: HOME when it is set and not empty, otherwise the
// password database's entry for the real user. None when neither gives one.
std::optional<std::string> home_directory();

// The whole content of the regular file `path` (links followed). None when
// it cannot be opened or read, or is not a regular file.
std::optional<std::string> read_whole_file(const std::string &path);

// UTF-8 text converted to ISO Latin-1, and to Mac OS Roman. None when the
// text is not valid UTF-8 or holds a character the encoding lacks.
std::optional<std::string> to_iso_latin1(const std::string &utf8);
std::optional<std::string> to_mac_roman(const std::string &utf8);

}  // namespace launcher_platform
