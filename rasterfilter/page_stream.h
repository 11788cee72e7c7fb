// The frame of every page: page start before the image, page end after it,
// and the two duplex commands.
#pragma once

#include <cstdint>

#include "model_classes.h"
#include "stream_records.h"

namespace rf {

// 1 when all was sent; 0 at the first failed write (reason in errorText) or
// for a class other than 1-3 (nothing written, no message).
int Prnt_StartPage(const PageStartRecord* record, ModelClass cls);

// Same results; sets record->coverageValue for PLATFORM_C.
int Prnt_EndPage(PageEndRecord* record, ModelClass cls);

// Between the two passes of manual duplex; not stored for replay.
int SendManualDuplexCmd(ModelClass cls);

// PLATFORM_C automatic duplex: machineDuplexCmd after an odd page when
// selector is nonzero (after an even one when it is 0); 1 when nothing is due.
int SendMachineDuplexCmd(int pageNumber, int selector);

// The PLATFORM_C coverage figure: black dots weighted by resolution,
// density and paper size, in thousands, truncated.
uint64_t weightedCoverage(uint64_t dotCount, int resolution, int densityLevel, int paperSizeMm);

// Video depth of a PLATFORM_M page: 2 for 1200-dpi ModelListA jobs and for
// double-depth pages of other models, else 1.
uint32_t videoDepth(const PageStartRecord& record);

}  // namespace rf
