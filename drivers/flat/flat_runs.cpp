// Read runs on shared files: see flat_runs.h.
#include "drivers/flat/flat_runs.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "drivers/flat/flat_driver.h"
#include "drivers/flat/flat_journal.h"
#include "drivers/flat/flat_ops.h"
#include "drivers/flat/flat_share.h"
#include "host/runtime/error_state.h"

namespace flat {

namespace {

int64_t NowUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// The runs of this process and the thread that ends idle ones. Never
// destroyed: the thread may outlive static destruction at exit.
struct Runs {
  std::mutex mu;
  std::condition_variable cv;
  std::condition_variable keeper_up;  // signalled when the thread runs
  std::vector<FlatFcb*> held;
  bool thread = false;    // the thread that ends idle runs is started
  bool starting = false;  // ... and has not yet reached its loop
  std::atomic<bool> up{false};  // it is in its loop: runs may be left idle
};

Runs* g_runs = nullptr;

// A forked child has none of its parent's threads: the mutex, taken around
// the fork, and the condition (which may count the parent's thread as
// waiting) are not used again there. The child starts afresh; the runs it
// inherited are no longer kept (the lock belongs to the parent's open).
//
// No fork happens while the thread is still setting itself up: a thread
// that is starting allocates (its stack attributes, and under the address
// sanitizer its allocator caches), and a fork then would leave the child
// an allocator lock that nobody ever releases; the child's own thread
// would stop on it for good and its idle runs would keep their lock until
// it exits. Once in its loop the thread allocates nothing.
void ForkPrepare() {
  std::unique_lock<std::mutex> lock(g_runs->mu);
  g_runs->keeper_up.wait(lock, [] { return !g_runs->starting; });
  lock.release();  // kept over the fork, let go by ForkParent
}
void ForkParent() {
  g_runs->mu.unlock();
}
void ForkChild() {
  Runs* inherited = g_runs;  // left as it is: its mutex and condition are the parent's
  g_runs = new Runs;
  for (FlatFcb* f : inherited->held) f->run.state = kRunNone;
}

Runs& R() {
  static bool once = [] {
    g_runs = new Runs;
    pthread_atfork(ForkPrepare, ForkParent, ForkChild);
    return true;
  }();
  (void)once;
  return *g_runs;
}

// With the mutex held and the run taken (in an operation, or kRunReleasing):
// lets go of f's lock.
void ReleaseLocked(Runs& r, FlatFcb* f) {
  f->data->Unlock(0, 1);
  r.held.erase(std::remove(r.held.begin(), r.held.end(), f), r.held.end());
  f->run.state.store(kRunNone, std::memory_order_release);
}

// With the mutex held: ends f's run when it is idle.
bool ReleaseIdleLocked(Runs& r, FlatFcb* f) {
  uint8_t idle = kRunIdle;
  if (!f->run.state.compare_exchange_strong(idle, kRunReleasing, std::memory_order_acq_rel))
    return false;
  ReleaseLocked(r, f);
  return true;
}

void Keeper(Runs* runs) {
  Runs& r = *runs;
  std::unique_lock<std::mutex> lock(r.mu);
  r.starting = false;
  r.up = true;
  r.keeper_up.notify_all();
  for (;;) {
    const int64_t now = NowUs();
    int64_t next = INT64_MAX;
    for (size_t i = r.held.size(); i-- > 0;) {
      FlatFcb* f = r.held[i];
      if (now >= f->run.deadline_us && ReleaseIdleLocked(r, f)) continue;
      // A run in an operation is ended by the operation when it is over;
      // looked at again soon in case it goes idle first.
      next = std::min(next, std::max(f->run.deadline_us, now + 1000));
    }
    if (next == INT64_MAX) {
      r.cv.wait(lock);
    } else {
      r.cv.wait_for(lock, std::chrono::microseconds(next - now));
    }
  }
}

// An operation that found the thread ending its run waits for it to finish.
void WaitReleased(FlatFcb* f) {
  while (f->run.state.load(std::memory_order_acquire) == kRunReleasing) std::this_thread::yield();
}

}  // namespace

bool ResumeRun(FlatFcb* f, bool reads_only) {
  if (!reads_only) {
    EndRun(f);
    return false;
  }
  uint8_t idle = kRunIdle;
  if (!f->run.state.compare_exchange_strong(idle, kRunInOp, std::memory_order_acq_rel)) {
    WaitReleased(f);
    return false;
  }
  ++f->run.ops;
  f->flags |= kHeaderByteLocked | kRunLock;
  return true;
}

int StartRun(FlatFcb* f, bool* started) {
  *started = false;
  AcquireByteLock(f->data.get(), false);
  f->flags |= kHeaderByteLocked;
  for (FlatKey& k : f->key_blocks)
    if (k.file) k.file->DropPages();
  // A journal, a busy mark or another program's LOCK need the exclusive
  // lock (recovery, repair, waiting): the operation takes that way.
  auto fall_back = [&] {
    UnlockHeader(f);
    return 0;
  };
  if (nv::GetEnv()->Exists(JournalPath(f->name))) return fall_back();
  int err = ReadHeaderAndKeys(f);
  if (err) {
    UnlockHeader(f);
    return err;
  }
  if ((f->header.status & kHdrLocked) && !(f->flags & kLockedByUs)) return fall_back();
  if ((f->header.status & kHdrBusy) && !f->read_only()) return fall_back();
  Runs& r = R();
  std::unique_lock<std::mutex> lock(r.mu);
  f->run.ops = 1;
  f->run.deadline_us = NowUs() + kRunMs * 1000;
  f->run.state.store(kRunInOp, std::memory_order_release);
  f->flags |= kRunLock;
  r.held.push_back(f);
  if (!r.thread) {
    // Goes on once the thread is in its loop (see ForkPrepare); the run is
    // in an operation meanwhile, so the thread leaves it alone. A thread
    // that does not come up (a fork by another thread of the program left
    // an allocator lock taken) is not waited for: until it does, no run is
    // left idle, each ends with its operation.
    r.thread = r.starting = true;
    std::thread(Keeper, &r).detach();
    if (!r.keeper_up.wait_for(lock, std::chrono::seconds(1), [&] { return !r.starting; }))
      r.starting = false;
  }
  r.cv.notify_one();
  *started = true;
  return 0;
}

void RunOpEnded(FlatFcb* f) {
  f->flags &= ~(kHeaderByteLocked | kRunLock);
  Runs& r = R();
  // Every kLookOps operations one question to the system: does a writer
  // hold the intent byte?
  const bool look = f->run.ops >= kLookOps;
  if (r.up.load(std::memory_order_relaxed) && !(look && WriterWaiting(f->data.get()))) {
    if (look) {
      // No writer waits: the run goes on without letting go of the lock.
      // Nothing can have been written meanwhile, so nothing is read again.
      std::lock_guard<std::mutex> lock(r.mu);
      f->run.ops = 0;
      f->run.deadline_us = NowUs() + kRunMs * 1000;
    }
    f->run.state.store(kRunIdle, std::memory_order_release);
    return;
  }
  std::lock_guard<std::mutex> lock(r.mu);
  ReleaseLocked(r, f);
}

void EndRun(FlatFcb* f) {
  if (f->flags & kRunLock) {
    // From inside the operation under the run.
    f->flags &= ~(kHeaderByteLocked | kRunLock);
    Runs& r = R();
    std::lock_guard<std::mutex> lock(r.mu);
    ReleaseLocked(r, f);
    return;
  }
  if (f->run.state.load(std::memory_order_acquire) == kRunNone) return;
  {
    Runs& r = R();
    std::lock_guard<std::mutex> lock(r.mu);
    ReleaseIdleLocked(r, f);
  }
  WaitReleased(f);
}

void EndIdleRuns() {
  Runs& r = R();
  std::lock_guard<std::mutex> lock(r.mu);
  for (size_t i = r.held.size(); i-- > 0;) ReleaseIdleLocked(r, r.held[i]);
}

}  // namespace flat
