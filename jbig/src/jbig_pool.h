// The process's pool of coder threads (jbig_pool.cpp) for the other
// parts of the library, and its thread count rule (jbig.h), apart so that
// it can be checked without a process per environment.  Internal to the
// jbig library.
#pragma once

#include <cstddef>

namespace tesvel_jbig {

// Starts pool threads until there are `n` (fewer when the system refuses
// one); returns how many there are.
size_t pool_ensure(size_t n);
// Queues run(arg) for a pool thread; false when it could not be queued.
bool pool_post(void (*run)(void*), void* arg);
// Takes back the queued task for `arg` if no thread has started it: true
// when it did, and then the task never runs.
bool pool_cancel(void* arg);

// `env` (TESVEL_JBIG_THREADS, null when unset) when it is 1..4, else
// `cores` (0: unknown, taken as 1), at most 4.
int threads_from(const char* env, unsigned cores);

}  // namespace tesvel_jbig
