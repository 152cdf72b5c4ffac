// Sharing a flat file: see flat_share.h for the invariants.
#include "drivers/flat/flat_share.h"

#include <algorithm>

#include "drivers/flat/flat_internal.h"
#include "drivers/flat/flat_journal.h"
#include "drivers/flat/flat_ops.h"
#include "drivers/flat/flat_runs.h"
#include "host/runtime/error_state.h"

namespace flat {

namespace {

nv::Env* E() {
  return nv::GetEnv();
}

constexpr int kDelayMs = 1000;

// Whatever another station wrote while this open did not hold the byte lock
// is on disk only: the key pages kept from earlier operations are dropped.
void TakeByteLock(FlatFcb* f) {
  AcquireByteLock(f->data.get(), true);
  f->flags |= kHeaderByteLocked;
  for (FlatKey& k : f->key_blocks)
    if (k.file) k.file->DropPages();
}

// Header status bit 0 set by another open: refused, or waited out with
// RECOVER. Answers with the byte lock held only when the operation goes on.
int WaitForFileLock(FlatFcb* f) {
  const bool opening = !(f->state & nv::kStateOpen);
  if (f->recover_seconds == 0) {
    UnlockHeader(f);
    if (opening) return 5;
    if (!(f->flags & kHoldRequested)) return 32;
    f->flags &= ~kHoldRequested;  // the read that holds meets the lock: 43
    return 43;
  }
  uint32_t time = f->header.change_time, date = f->header.change_date;
  int64_t since = E()->TickCount();
  for (;;) {
    UnlockHeader(f);
    E()->Delay(kDelayMs);
    TakeByteLock(f);
    int err = ReadHeaderAndKeys(f);
    if (err) return err;
    if (!(f->header.status & kHdrLocked)) return 0;
    if (f->header.change_time != time || f->header.change_date != date) {
      // The owner is alive: it keeps writing its header.
      time = f->header.change_time;
      date = f->header.change_date;
      since = E()->TickCount();
      continue;
    }
    if (E()->TickCount() - since >= int64_t(f->recover_seconds) * 1000) return RecoverBrokenLock(f);
  }
}

// Waited for in the system, which grants the lock the moment its holder
// lets go: another station holds it for one operation (or one transaction,
// or one read run). Sleeping 1 ms between first tries only delayed the
// handover; with 2 and 4 processes adding at once the rate is the same
// either way (the flush under the lock sets the pace).
void WaitForLock(nv::EnvFile* file, uint64_t byte, bool exclusive) {
  for (;;) {
    int err = file->Lock(byte, 1, exclusive, true);
    if (err == 0) return;
    if (err != nv::kOsLockViolation && err != nv::kOsSharingViolation)
      nv::RuntimeError(0, "DOS FILE LOCKING ERROR");
    // An Env that refuses instead of waiting is asked again shortly.
    E()->Delay(1);
  }
}

}  // namespace

int ReadHeaderAndKeys(FlatFcb* f) {
  int err = ReadHeader(f);
  if (err) return err;
  RepairedElsewhere(f);
  for (FlatKey& k : f->key_blocks)
    if (k.file) k.file->MarkStale();
  return 0;
}

bool WriterWaiting(nv::EnvFile* file) {
  const int err = file->TestLock(kIntentByte, 1, false);
  return err == nv::kOsLockViolation || err == nv::kOsSharingViolation;
}

void AcquireByteLock(nv::EnvFile* file, bool exclusive) {
  // The intent byte first (flat_runs.h): a writer keeps it while it waits,
  // which keeps new read runs back; a reader only passes it (keeping it
  // while waiting would make the next writer wait for readers not yet
  // running again).
  if (exclusive) EndIdleRuns();
  WaitForLock(file, kIntentByte, exclusive);
  if (!exclusive) file->Unlock(kIntentByte, 1);
  WaitForLock(file, 0, exclusive);
  if (exclusive) file->Unlock(kIntentByte, 1);
}

// A transaction keeps the byte locks of the files it wrote. Two stations
// whose transactions take two files in opposite orders would each wait for
// the other's for ever, so while this one keeps any, a refused byte lock is
// waited for at most kTxnLockWaitMs: then the operation answers 32 and the
// program rolls back, which lets the other station go on.
constexpr int64_t kTxnLockWaitMs = 3000;

bool TakeByteLockWithin(FlatFcb* f, int64_t ms) {
  const int64_t start = E()->TickCount();
  EndIdleRuns();
  bool intent = false;
  for (;;) {
    // The intent byte is kept while waiting, so that read runs let go.
    int err = intent ? 0 : f->data->Lock(kIntentByte, 1, true, false);
    if (err == 0) {
      intent = true;
      err = f->data->Lock(0, 1, true, false);
    }
    if (err == 0) {
      f->data->Unlock(kIntentByte, 1);
      f->flags |= kHeaderByteLocked;
      for (FlatKey& k : f->key_blocks)
        if (k.file) k.file->DropPages();
      return true;
    }
    if (err != nv::kOsLockViolation && err != nv::kOsSharingViolation)
      nv::RuntimeError(0, "DOS FILE LOCKING ERROR");
    if (E()->TickCount() - start >= ms) {
      if (intent) f->data->Unlock(kIntentByte, 1);
      return false;
    }
    E()->Delay(5);
  }
}

int SharedLockHeader(FlatFcb* f, bool reads_only) {
  if (!(f->flags & kOpenShared) || (f->flags & kHeaderByteLocked) || !f->data) return 0;
  // A read goes on under this open's run, or starts one (flat_runs.h).
  if (ResumeRun(f, reads_only)) return 0;
  if (reads_only && !TxnActive()) {
    bool started = false;
    int err = StartRun(f, &started);
    if (err || started) return err;
  }
  if (!TxnKeepsOtherLocks(f)) {
    TakeByteLock(f);
  } else if (!TakeByteLockWithin(f, kTxnLockWaitMs)) {
    return 32;
  }
  // An OPEN that waited while PACK put another file in the place of this
  // one (or REMOVE took it away) opens again.
  if (!(f->state & nv::kStateOpen) && f->data->Replaced()) {
    UnlockHeader(f);
    return kReopen;
  }
  // A header held back while streaming is newer than the one on disk.
  if (f->flags & kHeaderDirty) return 0;
  int err = 0;
  // Holding the byte lock, a journal that is not ours is a dead program's.
  if (!TxnKeepsHeaderLock(f) && E()->Exists(JournalPath(f->name))) {
    if ((err = RecoverJournal(f)) != 0) return err;
  }
  if ((err = ReadHeaderAndKeys(f)) != 0) return err;
  if ((f->header.status & kHdrLocked) && !(f->flags & kLockedByUs) &&
      (err = WaitForFileLock(f)) != 0)
    return err;
  // Every station clears its busy mark before it lets go of the byte lock:
  // a mark found under the lock is a dead program's. (OPEN repairs once the
  // memo and key files are open.)
  if ((f->header.status & kHdrBusy) && (f->state & nv::kStateOpen) && !f->read_only())
    return RepairAfterCrash(f);
  return 0;
}

int LockFile(FlatFcb* f) {
  if (!(f->flags & kOpenShared) || (f->flags & kLockedByUs)) return 0;
  if (f->read_only()) return 5;
  f->header.status |= kHdrLocked;
  int err = WriteHeader(f, true);
  if (!err && !(f->flags & kFlushAfterWrite)) err = drv::OsError(f->data->Sync(true));
  if (err) {
    f->header.status &= uint16_t(~kHdrLocked);
    return err;
  }
  f->flags |= kLockedByUs;
  return 0;
}

int UnlockFile(FlatFcb* f) {
  if (!(f->flags & kLockedByUs)) return 0;
  f->flags &= ~kLockedByUs;
  f->header.status &= uint16_t(~kHdrLocked);
  int err = WriteHeader(f, true);
  if (!err && !(f->flags & kFlushAfterWrite)) err = drv::OsError(f->data->Sync(true));
  return err;
}

int WaitHeldRecord(FlatFcb* f, uint32_t n, std::vector<uint8_t>* raw) {
  const int64_t start = E()->TickCount();
  for (;;) {
    if (!((*raw)[0] & kRecHeld) || f->held == n) return 0;
    const int64_t waited = E()->TickCount() - start;
    if (f->recover_seconds != 0 && waited >= int64_t(f->recover_seconds) * 1000) {
      // The mark outlived RECOVER: its program died.
      (*raw)[0] &= uint8_t(~kRecHeld);
      if (f->read_only()) return 0;
      return WritePrefix(f, n, (*raw)[0], Get32(raw->data() + 1));
    }
    if (f->hold_timeout < 0 || waited >= int64_t(f->hold_timeout) * 1000) {
      f->flags &= ~kHoldRequested;  // the read that tried used the request
      return 43;
    }
    const bool shared = (f->flags & kOpenShared) != 0;
    if (shared) UnlockHeader(f);
    E()->Delay(kDelayMs);
    if (shared) {
      TakeByteLock(f);
      int err = ReadHeaderAndKeys(f);
      if (err) return err;
    }
    int err = ReadRaw(f, n, raw);
    if (err) return err;
    if ((*raw)[0] & kRecDeleted) return 35;
  }
}

int RecountHeader(FlatFcb* f) {
  Header& h = f->header;
  if (h.record_size < kPrefixSize) return 36;
  uint64_t size = 0;
  int err = f->data->Size(&size);
  if (err) return drv::OsError(err);
  const uint64_t whole = size < h.records_start ? 0 : (size - h.records_start) / h.record_size;
  if (whole > UINT32_MAX) return 36;
  h.records = uint32_t(whole);
  h.deleted = h.first_live = h.last_live = 0;
  std::vector<uint32_t> deleted;
  for (uint32_t n = 1; n <= h.records; ++n) {
    uint8_t status = 0;
    if ((err = ReadStatus(f, n, &status, nullptr)) != 0) return err;
    if (status & kRecDeleted) {
      deleted.push_back(n);
    } else {
      if (h.first_live == 0) h.first_live = n;
      h.last_live = n;
    }
  }
  h.deleted = uint32_t(deleted.size());
  // The free chain from the highest deleted record down to the lowest.
  h.free_head = deleted.empty() ? 0 : deleted.back();
  for (size_t i = deleted.size(); i-- > 0;) {
    const uint32_t want = i == 0 ? 0 : deleted[i - 1];
    uint8_t status = 0;
    uint32_t link = 0;
    if ((err = ReadStatus(f, deleted[i], &status, &link)) != 0) return err;
    if (link != want && (err = WritePrefix(f, deleted[i], status, want)) != 0) return err;
  }
  return 0;
}

int RecoverBrokenLock(FlatFcb* f) {
  if (f->read_only()) return 0;
  int err = 0;
  if (E()->Exists(JournalPath(f->name))) {
    if ((err = RecoverJournal(f)) != 0) return err;
  }
  const bool was_locked = (f->header.status & kHdrLocked) != 0;
  f->header.status &= uint16_t(~kHdrLocked);
  // Counters, chains and key entries written by the dead program may be out
  // of step with its records.
  if (was_locked || (f->header.status & kHdrBusy)) return RepairAfterCrash(f);
  return WriteHeader(f, true);
}

bool OpenElsewhere(FlatFcb* f) {
  return (f->data && f->data->OtherOpens()) || (f->memo && f->memo->OtherOpens());
}

int ProbeUnshared(const std::string& path, std::unique_ptr<nv::EnvFile>* probe) {
  probe->reset();
  nv::OpenOptions o;
  o.mode = nv::kReadWrite | nv::kDenyNone;
  int err = E()->Open(path, o, probe);
  if (err == nv::kOsFileNotFound) return 0;
  if (err) return drv::OsError(err);
  // Checked before the byte lock (whose holder may keep it for a whole
  // transaction) and again under it (an open may have come in between).
  if ((*probe)->OtherOpens()) {
    probe->reset();
    return 5;
  }
  AcquireByteLock(probe->get());
  if ((*probe)->OtherOpens()) {
    probe->reset();
    return 5;
  }
  return 0;
}

void ShareBeforeClose(FlatFcb* f) {
  if (!(f->flags & kOpenShared) || (f->flags & kHeaderByteLocked) || !f->data) return;
  TakeByteLock(f);
  if (!(f->flags & kHeaderDirty)) ReadHeaderAndKeys(f);
}

void ShareClosing(FlatFcb* f) {
  if (!f->open()) return;
  if ((f->flags & kLockedByUs) && !f->write_error) {
    ShareBeforeClose(f);
    UnlockFile(f);
  }
  f->flags &= ~kLockedByUs;
  TxnTakeOverFiles(f);
}

}  // namespace flat
