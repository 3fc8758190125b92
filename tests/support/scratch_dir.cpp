#include "scratch_dir.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace test_support {

std::string temp_folder() {
  const char *tmp = std::getenv("TMPDIR");
  return tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
}

ScratchDir::ScratchDir(const std::string &prefix) {
  std::string pattern = temp_folder() + "/" + prefix + ".XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
  if (::chmod(pattern.c_str(), 0755) != 0) throw std::runtime_error("chmod: " + std::string(std::strerror(errno)));
  path_ = std::filesystem::canonical(pattern).string();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void make_dirs(const std::string &path) {
  std::filesystem::create_directories(path);
  std::filesystem::permissions(path, std::filesystem::perms(0755));
}

void write_file(const std::string &path, const std::string &bytes) {
  make_dirs(std::filesystem::path(path).parent_path().string());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

std::optional<std::string> read_file(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

std::vector<std::string> entries(const std::string &dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator(dir, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace test_support
