// The ITK peer's rows, on one thread, when ITK is installed.
#ifndef BENCH_ITK_PEER_H
#define BENCH_ITK_PEER_H

#include "bench_data.h"

namespace bench {

void run_itk(const BenchData &data);

}  // namespace bench

#endif
