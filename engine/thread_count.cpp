#include "thread_count.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "errors.h"
#include "text_numbers.h"

namespace vaeng {

namespace {

constexpr char kVariable[] = "VOLACCESS_NUM_THREADS";

}  // namespace

int affinity_cpu_count() {
  // The mask grows until the kernel's fits: machines may have more CPUs
  // than a cpu_set_t holds.
  for (std::size_t cpus = CPU_SETSIZE; cpus <= (1u << 20); cpus *= 2) {
    const std::unique_ptr<cpu_set_t, void (*)(cpu_set_t *)> mask(CPU_ALLOC(cpus), [](cpu_set_t *m) { CPU_FREE(m); });
    if (!mask) break;
    const std::size_t size = CPU_ALLOC_SIZE(cpus);
    if (sched_getaffinity(0, size, mask.get()) == 0) return std::clamp(CPU_COUNT_S(size, mask.get()), 1, kMaxThreads);
    if (errno != EINVAL) break;
  }
  return 1;
}

int parse_thread_count(const std::string &source, const std::string &text) {
  const std::optional<int64_t> n = to_integer(text);
  if (!n || *n < 1 || *n > kMaxThreads)
    throw ArgumentError(source + ": '" + text + "' is not a thread count from 1 to " + std::to_string(kMaxThreads));
  return static_cast<int>(*n);
}

int choose_thread_count(const std::optional<std::string> &option, const char *variable_value) {
  if (option) return parse_thread_count("--threads", *option);
  if (variable_value != nullptr && *variable_value != '\0') return parse_thread_count(kVariable, variable_value);
  return affinity_cpu_count();
}

int thread_count(const std::optional<std::string> &threads_option) {
  return choose_thread_count(threads_option, std::getenv(kVariable));
}

}  // namespace vaeng
