// tesvel_lines_*: one image coded on a pool thread as its lines are made,
// its stripes delivered on the caller's thread.  The rules are in jbig.h.
#include <condition_variable>
#include <mutex>
#include <new>
#include <vector>

#include "jbig.h"
#include "jbig_image.h"
#include "jbig_pool.h"

using namespace tesvel_jbig;

struct JbigLineCoder {
  ImageCoder coder;  // the pool task's while it runs, else the caller's
  void* ctx;
  JbigOutputCallback cb;
  bool queued;       // a pool task codes the lines
  std::mutex m;
  std::condition_variable cv;
  int64_t ready = 0;                // lines the caller has made; guarded by m
  bool closed = false;              // the caller will make no more; guarded by m
  bool done = false;                // the task has ended; guarded by m
  bool ok = true;                   // no stripe lost; guarded by m once queued
  // The stripes the task finished, room reserved for all so that the vector
  // never moves: the caller delivers [delivered, size) outside the lock.
  std::vector<SpanChain> finished;  // size guarded by m
  size_t delivered = 0;             // the caller's
};

namespace {

void keep_finished(SpanChain& chain, void* sink_ctx) {
  JbigLineCoder& lc = *static_cast<JbigLineCoder*>(sink_ctx);
  std::lock_guard<std::mutex> lock(lc.m);
  lc.finished.push_back(chain);
}

void deliver_now(SpanChain& chain, void* sink_ctx) {
  const JbigLineCoder& lc = *static_cast<const JbigLineCoder*>(sink_ctx);
  chain_deliver(chain, lc.cb, lc.ctx);
  chain_free(chain);
}

// The pool task: codes lines as they are made, until the image is whole,
// a stripe is lost, or the caller closes with nothing more to code.
void code_lines(void* arg) {
  JbigLineCoder& lc = *static_cast<JbigLineCoder*>(arg);
  bool ok = true;
  for (;;) {
    int64_t ready = 0;
    {
      std::unique_lock<std::mutex> lock(lc.m);
      lc.cv.wait(lock, [&] { return lc.ready > lc.coder.y || lc.closed; });
      if (lc.ready <= lc.coder.y) break;  // closed, all coded
      ready = lc.ready;
    }
    ok = coder_advance(lc.coder, ready, keep_finished, &lc);
    if (!ok || lc.coder.y == lc.coder.height) break;
  }
  std::lock_guard<std::mutex> lock(lc.m);
  lc.ok = ok;
  lc.done = true;
  lc.cv.notify_all();  // under the lock: tesvel_lines_finish may free lc once it sees this
}

// Hands the stripes the task has finished to the callback, in order.
void deliver_finished(JbigLineCoder& lc) {
  size_t n = 0;
  {
    std::lock_guard<std::mutex> lock(lc.m);
    n = lc.finished.size();
  }
  for (; lc.delivered < n; ++lc.delivered) deliver_now(lc.finished[lc.delivered], &lc);
}

}  // namespace

JbigLineCoder* tesvel_lines_start(int width, int height, int l0, const uint8_t* data,
                                  void* data_out_ctx, JbigOutputCallback cb) {
  JbigLineCoder* lc = new (std::nothrow) JbigLineCoder;
  if (lc == nullptr) return nullptr;
  if (!coder_begin(lc->coder, width, height, l0, data, data_out_ctx, cb != nullptr)) {
    delete lc;
    return nullptr;
  }
  lc->ctx = data_out_ctx;
  lc->cb = cb;
  const size_t helpers = static_cast<size_t>(tesvel_jbig_threads()) - 1;
  lc->queued = false;
  if (helpers > 0) {
    try {
      lc->finished.reserve(static_cast<size_t>((static_cast<int64_t>(height) + l0 - 1) / l0));
      lc->queued = pool_ensure(helpers) > 0 && pool_post(code_lines, lc);
    } catch (const std::bad_alloc&) {
    }
  }
  return lc;
}

void tesvel_lines_ready(JbigLineCoder* lc, int lines) {
  if (!lc->queued) {  // one thread: coded here and now
    if (lc->ok) lc->ok = coder_advance(lc->coder, lines, deliver_now, lc);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(lc->m);
    if (lines > lc->ready) lc->ready = lines;
    lc->cv.notify_all();
  }
  deliver_finished(*lc);
}

bool tesvel_lines_finish(JbigLineCoder* lc) {
  if (lc->queued && pool_cancel(lc)) {
    lc->ok = coder_advance(lc->coder, lc->ready, deliver_now, lc);  // the task never began
  } else if (lc->queued) {
    std::unique_lock<std::mutex> lock(lc->m);
    lc->closed = true;
    lc->cv.notify_all();
    lc->cv.wait(lock, [lc] { return lc->done; });
  }
  deliver_finished(*lc);
  const bool ok = lc->ok && lc->coder.y == lc->coder.height;
  coder_abandon(lc->coder);
  delete lc;
  return ok;
}
