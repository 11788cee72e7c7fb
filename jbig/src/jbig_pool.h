// The thread count rule of the pool (jbig.h), apart so that it can be
// checked without starting a process per environment.  Internal to the
// jbig library.
#pragma once

namespace tesvel_jbig {

// `env` (TESVEL_JBIG_THREADS, null when unset) when it is 1..4, else
// `cores` (0: unknown, taken as 1), at most 4.
int threads_from(const char* env, unsigned cores);

}  // namespace tesvel_jbig
