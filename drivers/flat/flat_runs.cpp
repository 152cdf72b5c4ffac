// Read runs on shared files: see flat_runs.h.
#include "drivers/flat/flat_runs.h"

#include <pthread.h>
#include <unistd.h>

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
  std::vector<FlatFcb*> held;
  pid_t thread_pid = 0;  // the process the thread runs in (a forked child has none)
};

Runs& R() {
  static Runs* runs = [] {
    auto* r = new Runs;
    // A fork while the thread holds the mutex would leave it locked for ever
    // in the child.
    pthread_atfork([] { R().mu.lock(); }, [] { R().mu.unlock(); }, [] { R().mu.unlock(); });
    return r;
  }();
  return *runs;
}

// With the mutex held: lets go of f's lock.
void ReleaseLocked(Runs& r, FlatFcb* f) {
  if (!f->run.held) return;
  f->run.held = false;
  f->data->Unlock(0, 1);
  r.held.erase(std::remove(r.held.begin(), r.held.end(), f), r.held.end());
}

void Keeper() {
  Runs& r = R();
  std::unique_lock<std::mutex> lock(r.mu);
  for (;;) {
    const int64_t now = NowUs();
    int64_t next = INT64_MAX;
    for (size_t i = r.held.size(); i-- > 0;) {
      FlatFcb* f = r.held[i];
      if (!f->run.in_op && now >= f->run.deadline_us) {
        ReleaseLocked(r, f);
      } else {
        // A run in an operation is ended by the operation when it is over;
        // looked at again at its deadline in case it goes idle first.
        next = std::min(next, std::max(f->run.deadline_us, now + 1000));
      }
    }
    if (next == INT64_MAX) {
      r.cv.wait(lock);
    } else {
      r.cv.wait_for(lock, std::chrono::microseconds(next - now));
    }
  }
}

// With the mutex held: f joins the runs the thread watches.
void WatchLocked(Runs& r, FlatFcb* f) {
  r.held.push_back(f);
  if (r.thread_pid != ::getpid()) {
    r.thread_pid = ::getpid();
    std::thread(Keeper).detach();
  }
  r.cv.notify_one();
}

// The clock is asked every 16 operations only: the thread ends a run whose
// time is up while its program does not read.
bool Expired(const ReadRun& run) {
  return run.ops >= kRunOps || ((run.ops & 15) == 0 && NowUs() >= run.deadline_us);
}

}  // namespace

bool ResumeRun(FlatFcb* f, bool reads_only) {
  Runs& r = R();
  std::lock_guard<std::mutex> lock(r.mu);
  if (!f->run.held) return false;
  if (!reads_only) {
    ReleaseLocked(r, f);
    return false;
  }
  f->run.in_op = true;
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
  std::lock_guard<std::mutex> lock(r.mu);
  f->run.held = true;
  f->run.in_op = true;
  f->run.ops = 1;
  f->run.deadline_us = NowUs() + kRunMs * 1000;
  f->flags |= kRunLock;
  WatchLocked(r, f);
  *started = true;
  return 0;
}

void RunOpEnded(FlatFcb* f) {
  f->flags &= ~(kHeaderByteLocked | kRunLock);
  Runs& r = R();
  std::lock_guard<std::mutex> lock(r.mu);
  f->run.in_op = false;
  if (f->run.held && Expired(f->run)) ReleaseLocked(r, f);
}

void EndRun(FlatFcb* f) {
  Runs& r = R();
  std::lock_guard<std::mutex> lock(r.mu);
  ReleaseLocked(r, f);
  if (f->flags & kRunLock) f->flags &= ~(kHeaderByteLocked | kRunLock);
  f->run.in_op = false;
}

void EndIdleRuns() {
  Runs& r = R();
  std::lock_guard<std::mutex> lock(r.mu);
  for (size_t i = r.held.size(); i-- > 0;)
    if (!r.held[i]->run.in_op) ReleaseLocked(r, r.held[i]);
}

}  // namespace flat
