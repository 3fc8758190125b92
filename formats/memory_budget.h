// How much memory the program may take: what hostile files ask for is
// weighed against it before it is taken, so that the user gets a message
// naming the figure instead of an allocation failure or an OOM kill.
#ifndef VOLACCESS_FORMATS_MEMORY_BUDGET_H
#define VOLACCESS_FORMATS_MEMORY_BUDGET_H

#include <cstdint>
#include <string>

namespace vaeng {

// The least of the machine's physical memory, the address-space and data
// limits of the process and the memory limit of its control group.
uint64_t usable_memory();

// Fails with "<what>: <purpose> takes <n>, more than half of the <m> this
// program may use" when `bytes` exceeds half of usable_memory().
void check_memory_share(uint64_t bytes, const std::string &what, const std::string &purpose);

// A byte count for people: "512 bytes", "1.5 KiB", ..., "3.2 TiB".
std::string byte_count(uint64_t bytes);

}  // namespace vaeng

#endif
