// The reslice of Zarr stores and of work shared over a Dask cluster lives
// in the Python package (volaccess.distributed); the program hands such a
// command line over to it.
#ifndef VOLACCESS_TOOLS_ZARR_HANDOVER_H
#define VOLACCESS_TOOLS_ZARR_HANDOVER_H

#include <string>
#include <vector>

#include "arguments.h"

namespace vacli {

using namespace vaeng;  // the engine's and the formats' names

// Whether a reslice goes to volaccess.distributed: a .zarr source or
// output, or --scheduler, --chunks, --level or --levels given.
bool wants_distributed_reslice(const Arguments &args, const std::string &source, const std::string &out);

// The command line of `python -m volaccess.distributed reslice` for the
// program's reslice options; ArgumentError for options it cannot honour.
std::vector<std::string> distributed_reslice_command(const Arguments &args, const std::string &python);

// Replaces this process with that command, run by $VOLACCESS_PYTHON (else
// python3 on PATH); returns only by throwing Error when it cannot start.
[[noreturn]] void hand_over_reslice(const Arguments &args);

}  // namespace vacli

#endif
