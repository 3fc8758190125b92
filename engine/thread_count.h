// How many threads the sampling commands run: the CPUs this process may
// run on, unless VOLACCESS_NUM_THREADS or --threads says otherwise.
#ifndef VOLACCESS_ENGINE_THREAD_COUNT_H
#define VOLACCESS_ENGINE_THREAD_COUNT_H

#include <optional>
#include <string>

namespace vaeng {

// The most threads a command accepts; more only wastes memory.
constexpr int kMaxThreads = 1024;

// The CPUs in this process's affinity mask (so taskset and container
// limits count), at least 1 and at most kMaxThreads.
int affinity_cpu_count();

// A thread count from text: a whole number from 1 to kMaxThreads, else a
// ArgumentError that names `source` (an option or a variable).
int parse_thread_count(const std::string &source, const std::string &text);

// The option's value when given, else the variable's when set and not
// empty, else affinity_cpu_count().
int choose_thread_count(const std::optional<std::string> &option, const char *variable_value);

// choose_thread_count with --threads and VOLACCESS_NUM_THREADS.
int thread_count(const std::optional<std::string> &threads_option);

}  // namespace vaeng

#endif
