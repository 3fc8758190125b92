#include "memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "errors.h"
#include "text_numbers.h"

namespace vaeng {

namespace {

uint64_t physical_memory() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long page = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page <= 0) return UINT64_MAX;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page);
}

uint64_t resource_limit(int resource) {
  struct rlimit limit {};
  if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
  return static_cast<uint64_t>(limit.rlim_cur);
}

// A limit file holds a number, or "max" when there is none.
uint64_t limit_in_file(const std::string &path) {
  std::ifstream in(path);
  std::string text;
  if (!(in >> text)) return UINT64_MAX;
  const std::optional<int64_t> v = to_integer(text);
  return v && *v > 0 ? static_cast<uint64_t>(*v) : UINT64_MAX;
}

// The memory limit of this process's control group (version 2, or the
// memory controller of version 1), where the file system shows it.
uint64_t control_group_limit() {
  std::ifstream in("/proc/self/cgroup");
  std::string line;
  uint64_t limit = UINT64_MAX;
  while (std::getline(in, line)) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string group = line.substr(second + 1);
    if (controllers.empty())
      limit = std::min(limit, limit_in_file("/sys/fs/cgroup" + group + "/memory.max"));
    else if (controllers == "memory")
      limit = std::min(limit, limit_in_file("/sys/fs/cgroup/memory" + group + "/memory.limit_in_bytes"));
  }
  return limit;
}

}  // namespace

uint64_t usable_memory() {
  return std::min({physical_memory(), resource_limit(RLIMIT_AS), resource_limit(RLIMIT_DATA), control_group_limit()});
}

void check_memory_share(uint64_t bytes, const std::string &what, const std::string &purpose) {
  const uint64_t usable = usable_memory();
  if (bytes > usable / 2)
    fail(what, purpose + " takes " + byte_count(bytes) + ", more than half of the " + byte_count(usable) +
                   " this program may use");
}

std::string byte_count(uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  const char *units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  double v = static_cast<double>(bytes) / 1024;
  std::size_t u = 0;
  while (v >= 1024 && u + 1 < sizeof units / sizeof units[0]) {
    v /= 1024;
    ++u;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", v, units[u]);
  return text;
}

}  // namespace vaeng
