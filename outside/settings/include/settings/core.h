// The settings write queue: changes are recorded at once and written
// later, in order; readers that need them on disk drain the queue first.
#ifndef SETTINGS_CORE_H
#define SETTINGS_CORE_H

#include <cstddef>
#include <functional>

namespace settings::core {

using PendingWrite = std::function<void()>;

// Adds a write to the end of the queue.
void queueWrite(PendingWrite write);

// Runs the pending writes in order and returns when none is left. A write
// that throws is dropped and its exception leaves this call; the writes
// after it stay queued.
void waitForWriteQueueToFinish();

// The number of writes not yet run.
std::size_t pendingWrites();

}  // namespace settings::core

#endif
