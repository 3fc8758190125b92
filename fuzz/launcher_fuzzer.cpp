// The launcher's parsing of bytes it did not write: preference files (XML
// and binary property lists) and the path utilities on arbitrary strings.
// The first byte picks which; results are checked against what each
// function promises, not only for crashes.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "install_areas.h"
#include "launcher.h"

namespace {

const char *const kEntries[] = {"R2026a", "maca64", "libqvlaunchermain.dylib", "a b.txt"};

void check(bool promise) {
  if (!promise) __builtin_trap();
}

void preference_bytes(const uint8_t *data, size_t size) {
  const InstallAreaList list = parse_install_areas(reinterpret_cast<const char *>(data), size);
  check(list.parsed || list.areas.empty());
}

// A directory with a few entries, made once and removed at exit;
// listings only read it.
const std::string &listing_dir() {
  static const std::string *const dir = [] {
    std::string pattern = "/tmp/launcher-fuzz.XXXXXX";
    const auto *made = new std::string(::mkdtemp(&pattern[0]));
    for (const char *name : kEntries)
      if (std::FILE *f = std::fopen((*made + "/" + name).c_str(), "w")) std::fclose(f);
    std::atexit([] {
      for (const char *name : kEntries) ::unlink((listing_dir() + "/" + name).c_str());
      ::rmdir(listing_dir().c_str());
    });
    return made;
  }();
  return *dir;
}

void app_dir(const std::string &path) {
  std::string copy = path;
  const std::string dir = get_AppDir(copy);
  check(copy == path);
  const std::size_t slash = path.rfind('/');
  check(slash == std::string::npos ? dir == "." : dir == path.substr(0, slash));
}

bool plain_piece(const std::string &p) {
  if (p.empty()) return false;
  for (unsigned char c : p)
    if (c == '/' || c <= ' ' || c >= 0x7f) return false;
  return true;
}

void joined(FuzzedDataProvider &in) {
  std::vector<std::string> p(4);
  for (std::string &s : p) s = in.ConsumeRandomLengthString(24).c_str();
  const int count = in.ConsumeIntegralInRange(1, 4);
  const std::string r = join_paths(count, p[0].c_str(), p[1].c_str(), p[2].c_str(), p[3].c_str());
  bool plain = true;
  std::string expected = p[0];
  for (int i = 0; i < count; ++i) plain = plain && plain_piece(p[i]);
  for (int i = 1; i < count; ++i) expected += "/" + p[i];
  if (plain) check(r == expected);
}

void matched(FuzzedDataProvider &in) {
  const std::string part1 = in.ConsumeRandomLengthString(12).c_str(), part2 = in.ConsumeRandomLengthString(12).c_str();
  const std::string dir =
      in.ConsumeBool() ? listing_dir() : listing_dir() + "/" + in.ConsumeRandomLengthString(8).c_str();
  std::vector<std::string> names;
  const bool listed = get_filelist(dir, names);
  bool expected = false;
  for (const std::string &n : names)
    expected = expected || ((part1.empty() || n.find(part1) != std::string::npos) &&
                            (part2.empty() || n.find(part2) != std::string::npos));
  check(match_file_in_dir(dir.c_str(), part1.c_str(), part2.c_str()) == (listed && expected));
}

void path_utilities(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  app_dir(in.ConsumeRandomLengthString(64));
  joined(in);
  matched(in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  if (data[0] % 2 == 0)
    preference_bytes(data + 1, size - 1);
  else
    path_utilities(data + 1, size - 1);
  return 0;
}
