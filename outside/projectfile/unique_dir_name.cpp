#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "fl/i18n.h"
#include "project_file.h"

fl::ustring com_ext_generate_unique_dir_name() {
  static std::atomic<unsigned long> counter{0};
  const char *tmp = std::getenv("TMPDIR");
  const std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/zcc_" + std::to_string(::getpid()) + "_";
  for (;;) {
    const std::string candidate = base + std::to_string(counter++);
    struct stat st {};
    if (::lstat(candidate.c_str(), &st) != 0) return fl::i18n::to_ustring(candidate);
  }
}
