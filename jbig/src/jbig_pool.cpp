// The pool of threads that lives as long as the process, and the calls
// that code whole images on it: tesvel_compress_images (independent images
// delivered in order on the calling thread) and tesvel_compress_start /
// finish.  The thread count rules are in jbig.h.
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include <unistd.h>

#include "jbig.h"
#include "jbig_image.h"
#include "jbig_pool.h"

using namespace tesvel_jbig;

namespace {

constexpr int kMaxThreads = 4;

int clamp_threads(int n) { return n < 1 ? 1 : n > kMaxThreads ? kMaxThreads : n; }

}  // namespace

int tesvel_jbig::threads_from(const char* env, unsigned cores) {
  if (env != nullptr && env[0] >= '1' && env[0] <= '4' && env[1] == '\0') return env[0] - '0';
  return clamp_threads(cores == 0 ? 1 : cores > kMaxThreads ? kMaxThreads : static_cast<int>(cores));
}

namespace {

// Worked out once per process.
int default_threads() {
  static const int n =
      threads_from(std::getenv("TESVEL_JBIG_THREADS"), std::thread::hardware_concurrency());
  return n;
}

std::atomic<int> g_threads{0};  // 0: default_threads()

// A job for a pool thread: run(arg).
struct Task {
  void (*run)(void*);
  void* arg;
};

// Threads started on demand and joined when the process exits (the static
// instance's destructor), so nothing runs on after main returns.
class Pool {
 public:
  ~Pool() {
    if (getpid() != owner_) {
      // A forked child has copies of the thread objects but no threads,
      // and perhaps a copy of the lock held by one of them: leave them be.
      for (std::thread& t : workers_) t.detach();
      return;
    }
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

  // Starts threads until there are `n` (fewer when the system refuses
  // one); returns how many there are.
  size_t ensure(size_t n) {
    std::lock_guard<std::mutex> lock(m_);
    try {
      while (workers_.size() < n) workers_.emplace_back([this] { loop(); });
    } catch (const std::system_error&) {
    }
    return workers_.size();
  }

  // False when the task could not be queued (no memory).
  bool post(Task t) {
    {
      std::lock_guard<std::mutex> lock(m_);
      try {
        queue_.push_back(t);
      } catch (const std::bad_alloc&) {
        return false;
      }
    }
    cv_.notify_one();
    return true;
  }

  // Takes back the tasks for `arg` that no thread has started; returns
  // how many.  After that only started tasks can still touch `arg`.
  size_t cancel(void* arg) {
    std::lock_guard<std::mutex> lock(m_);
    size_t n = 0;
    for (auto it = queue_.begin(); it != queue_.end();) {
      if (it->arg == arg) {
        it = queue_.erase(it);
        ++n;
      } else {
        ++it;
      }
    }
    return n;
  }

 private:
  void loop() {
    for (;;) {
      Task t;
      {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_) return;
        t = queue_.front();
        queue_.pop_front();
      }
      t.run(t.arg);
    }
  }

  std::mutex m_;
  std::condition_variable cv_;
  std::deque<Task> queue_;
  std::vector<std::thread> workers_;
  bool stop_ = false;
  const pid_t owner_ = getpid();  // the process the threads run in
};

Pool& pool() {
  static Pool p;
  return p;
}

// One image's finished stripes, kept until its turn.
struct ImageResult {
  std::vector<SpanChain> stripes;
  bool ok = false;
  bool done = false;  // guarded by Batch::m
};

struct Batch {
  const JbigImage* images;
  size_t count;
  void* ctx;
  bool cbGiven;
  std::atomic<size_t> next{0};    // the next image nobody has claimed
  std::vector<ImageResult> results;
  std::mutex m;
  std::condition_variable cv;
  size_t helpersDone = 0;         // guarded by m
};

void keep_stripe(SpanChain& chain, void* sink_ctx) {
  static_cast<ImageResult*>(sink_ctx)->stripes.push_back(chain);  // capacity reserved
}

// Codes one image into `r`, its stripes kept.
void code_kept(const JbigImage& img, const void* ctx, bool cbGiven, ImageResult& r) {
  bool room = true;
  if (img.height > 0 && img.l0 > 0) {
    try {
      r.stripes.reserve(static_cast<size_t>((static_cast<int64_t>(img.height) + img.l0 - 1) / img.l0));
    } catch (const std::bad_alloc&) {
      room = false;
    }
  }
  r.ok = room && code_image(img.width, img.height, img.l0, img.data, ctx, cbGiven, keep_stripe, &r);
}

void code_one(Batch& b, size_t i) {
  ImageResult& r = b.results[i];
  code_kept(b.images[i], b.ctx, b.cbGiven, r);
  std::lock_guard<std::mutex> lock(b.m);
  r.done = true;
  b.cv.notify_all();  // under the lock: the caller may end the batch once it sees this
}

// Claims and codes images until none is left; true when it coded one.
bool claim_and_code(Batch& b) {
  const size_t i = b.next.fetch_add(1);
  if (i >= b.count) return false;
  code_one(b, i);
  return true;
}

void helper(void* arg) {
  Batch& b = *static_cast<Batch*>(arg);
  while (claim_and_code(b)) {
  }
  std::lock_guard<std::mutex> lock(b.m);
  ++b.helpersDone;
  b.cv.notify_all();
}

bool is_done(Batch& b, size_t i) {
  std::lock_guard<std::mutex> lock(b.m);
  return b.results[i].done;
}

// Hands image i's stripes to the callback (while `ok`) and frees them.
void deliver(Batch& b, size_t i, JbigImagesCallback cb, bool& ok) {
  ImageResult& r = b.results[i];
  for (SpanChain& chain : r.stripes) {
    for (const Span* s = chain.first; ok && s != nullptr; s = s->next) {
      cb(i, s->data, static_cast<size_t>(s->used), b.ctx);
    }
    chain_free(chain);
  }
  r.stripes.clear();
  ok = ok && r.ok;
}

// The caller codes too; between its images it delivers every image that
// is ready in order, then waits for the rest in order.
bool run_batch(Batch& b, size_t wanted, JbigImagesCallback cb) {
  size_t helpers = 0;
  while (helpers < wanted && pool().post(Task{helper, &b})) ++helpers;
  bool ok = true;
  size_t delivered = 0;
  while (claim_and_code(b)) {
    while (delivered < b.count && is_done(b, delivered)) deliver(b, delivered++, cb, ok);
  }
  for (; delivered < b.count; ++delivered) {
    {
      std::unique_lock<std::mutex> lock(b.m);
      b.cv.wait(lock, [&] { return b.results[delivered].done; });
    }
    deliver(b, delivered, cb, ok);
  }
  const size_t started = helpers - pool().cancel(&b);
  std::unique_lock<std::mutex> lock(b.m);
  b.cv.wait(lock, [&] { return b.helpersDone == started; });
  return ok;
}

struct DirectImage {
  size_t index;
  JbigImagesCallback cb;
  void* ctx;
};

void deliver_now(SpanChain& chain, void* sink_ctx) {
  const DirectImage* d = static_cast<const DirectImage*>(sink_ctx);
  for (const Span* s = chain.first; s != nullptr; s = s->next) {
    d->cb(d->index, s->data, static_cast<size_t>(s->used), d->ctx);
  }
  chain_free(chain);
}

// Pool threads worth using for `count` images: none for one image, one
// thread, or a missing callback or context (reported once, by the first
// image, as tesvel_compress would).
size_t helpers_for(size_t count, const void* ctx, JbigImagesCallback cb) {
  size_t wanted = static_cast<size_t>(tesvel_jbig_threads()) - 1;
  if (wanted > count - 1) wanted = count - 1;
  if (count < 2 || wanted == 0 || ctx == nullptr || cb == nullptr) return 0;
  const size_t running = pool().ensure(wanted);
  return running < wanted ? running : wanted;
}

bool code_in_turn(const JbigImage* images, size_t count, void* ctx, JbigImagesCallback cb) {
  for (size_t i = 0; i < count; ++i) {
    DirectImage direct{i, cb, ctx};
    const JbigImage& img = images[i];
    if (!code_image(img.width, img.height, img.l0, img.data, ctx, cb != nullptr, deliver_now,
                    &direct)) {
      return false;
    }
  }
  return true;
}

}  // namespace

size_t tesvel_jbig::pool_ensure(size_t n) { return pool().ensure(n); }
bool tesvel_jbig::pool_post(void (*run)(void*), void* arg) { return pool().post(Task{run, arg}); }
bool tesvel_jbig::pool_cancel(void* arg) { return pool().cancel(arg) != 0; }

// An image coded on the pool while its caller goes on.
struct JbigPending {
  JbigImage image;
  void* ctx;
  JbigOutputCallback cb;
  bool cbGiven;
  bool queued;         // handed to the pool
  ImageResult result;  // result.done guarded by m
  std::mutex m;
  std::condition_variable cv;
};

namespace {

void code_pending(void* arg) {
  JbigPending& p = *static_cast<JbigPending*>(arg);
  code_kept(p.image, p.ctx, p.cbGiven, p.result);
  std::lock_guard<std::mutex> lock(p.m);
  p.result.done = true;
  p.cv.notify_all();  // under the lock: tesvel_compress_finish may free p once it sees this
}

}  // namespace

JbigPending* tesvel_compress_start(const JbigImage* image, void* data_out_ctx,
                                   JbigOutputCallback cb) {
  JbigPending* p = new (std::nothrow) JbigPending;
  if (p == nullptr) return nullptr;
  p->image = *image;
  p->ctx = data_out_ctx;
  p->cb = cb;
  p->cbGiven = cb != nullptr;
  // With one thread, or no pool thread to be had, the caller codes it in
  // tesvel_compress_finish.
  const size_t helpers = static_cast<size_t>(tesvel_jbig_threads()) - 1;
  p->queued = helpers > 0 && pool().ensure(helpers) > 0 && pool().post(Task{code_pending, p});
  return p;
}

bool tesvel_compress_finish(JbigPending* p) {
  // Not started yet (or never queued): coded here and now, not waited for.
  if (!p->queued || pool().cancel(p) == 1) code_pending(p);
  {
    std::unique_lock<std::mutex> lock(p->m);
    p->cv.wait(lock, [p] { return p->result.done; });
  }
  const bool ok = p->result.ok;
  for (SpanChain& chain : p->result.stripes) {
    chain_deliver(chain, p->cb, p->ctx);
    chain_free(chain);
  }
  delete p;
  return ok;
}

void tesvel_jbig_set_threads(int threads) {
  g_threads.store(threads == 0 ? 0 : clamp_threads(threads));
}

int tesvel_jbig_threads() {
  const int n = g_threads.load();
  return n == 0 ? default_threads() : n;
}

bool tesvel_compress_images(const JbigImage* images, size_t count, void* data_out_ctx,
                            JbigImagesCallback cb) {
  const size_t helpers = count == 0 ? 0 : helpers_for(count, data_out_ctx, cb);
  if (helpers == 0) return code_in_turn(images, count, data_out_ctx, cb);
  Batch b;
  b.images = images;
  b.count = count;
  b.ctx = data_out_ctx;
  b.cbGiven = true;
  try {
    b.results.resize(count);
  } catch (const std::bad_alloc&) {
    return code_in_turn(images, count, data_out_ctx, cb);
  }
  return run_batch(b, helpers, cb);
}
