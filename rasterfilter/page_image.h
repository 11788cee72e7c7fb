// The image part of a page: the 1-bit page compressed with JBIG and framed
// for the printer's dialect.
#pragma once

#include <cstdint>
#include <vector>

#include "band_compress.h"
#include "early_bands.h"
#include "model_classes.h"
#include "stream_records.h"

namespace rf {

// The JBIG parameters the printer expects for a page of each dialect.
JbigBih pageJbigParams(const PageImageRecord& record, ModelClass cls);

// Compresses the page into `out` (which grows as needed, so compressed
// data larger than the raw page is never cut).  mode 2: bands of 256
// lines, each behind its 48-byte band header (PLATFORM_Z); any other mode:
// the page as one image.  Keeps g_job.imageChecksum.  Returns the bytes
// placed in `out`.  What `early` already coded (the bands in mode 2, the
// one image otherwise) is taken from it: the same bytes.
size_t compressPageBands(PageImageRecord& record, JbigBih& bih, std::vector<uint8_t>& out, int mode,
                         EarlyBands* early = nullptr);

// Compresses and sends the page image between page start and page end.
// The caller sets bandWideLines for the page's line width first.
// 1 when sent; 0 with a reason in front of errorText (nothing and no
// reason for a class the driver has no dialect for).
int Prnt_SendPage(PageImageRecord* record, ModelClass cls, EarlyBands* early = nullptr);

}  // namespace rf
