// The dialect walkers behind inspect().
#pragma once

#include "model.h"
#include "walk.h"

namespace prndecode {

void walk_chunk_stream(Walk& walk);                    // PLATFORM_M
void walk_record_stream(Walk& walk, Dialect dialect);  // PLATFORM_C, PLATFORM_Z

}  // namespace prndecode
