// Transactions of the flat driver: see flat_journal.h for the files, the
// invariants and the states.
#include "drivers/flat/flat_journal.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "drivers/flat/flat_internal.h"
#include "drivers/flat/flat_ops.h"
#include "drivers/flat/flat_share.h"
#include "host/runtime/driver_services.h"
#include "host/runtime/error_state.h"
#include "host/runtime/profile.h"

namespace flat {

namespace {

nv::Env* E() {
  return nv::GetEnv();
}

enum FileKind : uint8_t { kKindData = 0, kKindMemo = 1, kKindKey = 2 };

struct Entry {
  uint16_t number = 0;
  uint16_t shares = 0;  // 0: own journal, else the entry whose journal it shares
  uint8_t kind = kKindData;
  std::string name;
  std::unique_ptr<nv::EnvFile> journal;  // own journal only
  uint64_t journal_end = 0;
  bool journal_synced = false;  // its start (and its name in the folder) on disk
  nv::EnvFile* live = nullptr;  // the open file being journalled (not owned)
  // What the journal already keeps of this file: its size when it joined
  // (one cut undoes every write beyond it) and the 512-byte blocks below
  // that size whose first bytes are saved. Later writes there need nothing
  // more: a ROLLBACK puts back the bytes as they were when it joined.
  bool sized = false;
  uint64_t base_size = 0;
  bool cut_logged = false;
  std::set<uint64_t> blocks;
};

struct Txn {
  bool active = false;
  std::string path;
  std::unique_ptr<nv::EnvFile> file;
  bool file_dirty = false;   // entries written and not yet flushed
  bool file_synced = false;  // flushed once (its name in the folder on disk)
  std::vector<Entry> entries;
  std::vector<FlatFcb*> fcbs;  // files that wrote in the transaction
  // Files of closed FlatFcbs kept open (with their header byte lock) until
  // the transaction ends.
  std::vector<std::unique_ptr<nv::EnvFile>> kept;
  std::vector<std::unique_ptr<KeyFile>> kept_keys;
};

Txn& T() {
  static Txn t;
  return t;
}

// The byte of a transaction file its program keeps locked while it runs.
constexpr uint64_t kOwnerByte = nv::kShareLockBase + 8;
// Transaction files of one program in one folder: one per program running.
constexpr int kMaxInstances = 99;

Entry* FindEntry(std::vector<Entry>& entries, const std::string& name) {
  for (Entry& e : entries)
    if (e.name == name) return &e;
  return nullptr;
}

[[noreturn]] void CannotStartLog() {
  nv::RuntimeError(48, "UNABLE TO START LOG");
}

// Opens a file of a transaction for replay: exclusively first, then shared.
int OpenForReplay(const std::string& path, std::unique_ptr<nv::EnvFile>* out) {
  nv::OpenOptions o;
  o.mode = nv::kReadWrite | nv::kDenyAll;
  if (E()->Open(path, o, out) == 0) return 0;
  o.mode = nv::kReadWrite | nv::kDenyNone;
  return E()->Open(path, o, out);
}

// True when the trailers read backwards from `end` lead, piece by piece,
// exactly to the 8 zero bytes after the journal's name.
bool Chains(const std::vector<uint8_t>& j, uint64_t end,
            const std::map<uint16_t, nv::EnvFile*>& handles) {
  for (;;) {
    if (end < kJournalStart) return false;
    const uint8_t* t = j.data() + end - kTrailerSize;
    const uint32_t offset = Get32(t);
    const uint16_t number = Get16(t + 4), length = Get16(t + 6);
    if (number == 0) return end == kJournalStart && offset == 0 && length == 0;
    if (!handles.count(number) || length > kJournalPiece ||
        end < kJournalStart + kTrailerSize + length)
      return false;
    end -= kTrailerSize + length;
  }
}

// The end of the last piece whose trailer is whole and leads back to the
// start. A writer killed while it appended to its journal leaves a torn
// tail (the system cuts a write short at a page boundary); the writes that
// tail was to protect were never made, as each is made only once its
// trailer is on disk.
int CompleteEnd(nv::EnvFile* journal, const std::map<uint16_t, nv::EnvFile*>& handles,
                uint64_t* end) {
  uint64_t size = 0;
  if (journal->Size(&size) != 0) return 65;
  std::vector<uint8_t> j(size);
  size_t got = 0;
  if (journal->Read(0, j.data(), j.size(), &got) != 0 || got != j.size()) return 65;
  for (uint64_t at = size; at >= kJournalStart; --at) {
    if (Chains(j, at, handles)) {
      *end = at;
      return 0;
    }
  }
  return 65;
}

// Replays one journal backwards into the files of `entries` (handles from
// `handles`, by entry number). 0, or 65 when it cannot be replayed. The
// journal of a writer that died (`dead`) may be shorter than its start (it
// died before any piece: nothing to put back) or end in a torn tail, which
// is cut off first; this process's own journal must be whole.
int Replay(nv::EnvFile* journal, std::map<uint16_t, nv::EnvFile*>& handles, bool dead) {
  uint64_t pos = 0;
  if (journal->Size(&pos) != 0) return 65;
  if (dead && pos < kJournalStart) return 0;
  uint64_t end = pos;
  if (dead && CompleteEnd(journal, handles, &end) != 0) return 65;
  if (end != pos) {
    if (journal->Truncate(end) != 0) return 65;
    pos = end;
  }
  std::vector<uint8_t> piece;
  for (;;) {
    if (pos < kJournalStart) return 65;
    uint8_t t[kTrailerSize];
    size_t got = 0;
    if (journal->Read(pos - kTrailerSize, t, sizeof t, &got) != 0 || got != sizeof t) return 65;
    const uint32_t offset = Get32(t);
    const uint16_t number = Get16(t + 4);
    const uint16_t length = Get16(t + 6);
    // The 8 zero bytes after the name: fully replayed. A number 0 anywhere
    // else is a torn or damaged journal, not its start.
    if (number == 0) return pos == kJournalStart && offset == 0 && length == 0 ? 0 : 65;
    auto h = handles.find(number);
    if (h == handles.end() || h->second == nullptr) return 65;
    nv::EnvFile* target = h->second;
    if (length == 0) {
      uint64_t size = 0;
      if (target->Size(&size) != 0) return 65;
      if (size > offset && target->Truncate(offset) != 0) return 65;
    } else {
      if (pos < kJournalStart + kTrailerSize + length) return 65;
      const uint64_t from = pos - kTrailerSize - length;
      for (uint32_t done = 0; done < length;) {
        const uint32_t take = std::min<uint32_t>(uint32_t(kReplayPiece), length - done);
        piece.resize(take);
        if (journal->Read(from + done, piece.data(), take, &got) != 0 || got != take) return 65;
        if (target->Write(uint64_t(offset) + done, piece.data(), take) != 0) return 65;
        done += take;
      }
    }
    CrashPoint("rollback-step");
    // The target's bytes are back before the journal forgets them.
    if (target->Sync(true) != 0) return 65;
    pos -= kTrailerSize + length;
    if (journal->Truncate(pos) != 0) return 65;
  }
}

// Deletes the transaction file first (the mark of an unfinished
// transaction), then the journals.
void RemoveTransactionFiles(const std::string& txn_path, std::vector<Entry>& entries) {
  if (!txn_path.empty()) E()->Remove(txn_path);
  for (Entry& e : entries) {
    if (e.shares != 0) continue;
    e.journal.reset();
    E()->Remove(JournalPath(e.name));
  }
}

// Reads the header and the keys of f again after its files changed under it.
void Reload(FlatFcb* f) {
  if (!f->open()) return;
  f->write_error = 0;
  f->flags &= ~kHeaderDirty;
  if (ReadHeader(f) == 0) {
    // Key files are opened again: a failed write left them refusing writes.
    for (FlatKey& k : f->key_blocks) {
      k.unbuilt = false;  // a build the rollback undid
      if (!k.file) continue;
      k.file.reset();
      EnsureKeyOpen(f, &k);
    }
  }
  f->current = 0;
  f->current_status = 0;
  f->held = 0;
  f->watched = 0;
  f->seq = Sequence{};
}

// Joins a file to the transaction: its entry, and for a data file its
// journal (replacing any old one). Failure is fatal. Neither is flushed
// here: the first journalling that follows flushes both, before the write
// it protects is made (JournalWrites).
Entry* Join(const std::string& name, uint8_t kind, uint16_t shares) {
  Txn& t = T();
  if (name.size() >= 78 || t.entries.size() >= 0xFFFF) CannotStartLog();
  Entry e;
  e.number = uint16_t(t.entries.size() + 1);
  e.shares = shares;
  e.kind = kind;
  e.name = name;
  if (shares == 0) {
    nv::OpenOptions o;
    o.mode = nv::kReadWrite | nv::kDenyNone;
    o.create = true;
    o.truncate = true;
    if (E()->Open(JournalPath(name), o, &e.journal) != 0) CannotStartLog();
    uint8_t head[kJournalStart] = {};
    std::memcpy(head, t.path.data(), std::min(t.path.size(), kJournalNameSize - 1));
    if (e.journal->Write(0, head, sizeof head) != 0) CannotStartLog();
    e.journal_end = kJournalStart;
  }
  uint8_t rec[kTxnEntrySize] = {};
  Put16(rec, e.number);
  Put16(rec + 2, e.shares);
  std::memcpy(rec + 4, name.data(), name.size());
  rec[82] = kind;
  if (t.file->Write(uint64_t(t.entries.size()) * kTxnEntrySize, rec, sizeof rec) != 0)
    CannotStartLog();
  t.file_dirty = true;
  t.entries.push_back(std::move(e));
  return &t.entries.back();
}

}  // namespace

// ---------------------------------------------------------------------------

void CrashPoint([[maybe_unused]] const char* name) {
#if defined(NV_CRASH_POINTS)
  static const char* shape = std::getenv("NV_FLAT_CRASH");
  if (shape == nullptr || *shape == '\0') return;
  static std::string point;
  static long wanted = 1;
  static long passed = 0;
  static bool stop = false;
  if (point.empty()) {
    std::string s = shape;
    size_t colon = s.find(':');
    point = s.substr(0, colon);
    if (colon != std::string::npos) wanted = std::max(1L, std::atol(s.c_str() + colon + 1));
    stop = s.size() > 5 && s.compare(s.size() - 5, 5, ":stop") == 0;
  }
  if (point != name) return;
  // ":stop" pauses the process there instead (a test lets it go on).
  if (++passed == wanted || (!stop && passed > wanted))
    ::kill(::getpid(), stop ? SIGSTOP : SIGKILL);
#endif
}

std::string JournalPath(const std::string& data_path) {
  return ReplaceExtension(data_path, ".LOG");
}

namespace {

// The transaction file name of the n-th instance from the first's.
std::string InstancePath(const std::string& first, int instance) {
  if (instance <= 1) return first;
  return first.substr(0, first.size() - 4) + "-" + std::to_string(instance) + ".TR$";
}

}  // namespace

std::string TransactionPath(int instance) {
  std::string program = E()->ProgramPath();
  size_t slash = program.find_last_of('/');
  std::string folder = slash == std::string::npos ? std::string(".") : program.substr(0, slash);
  std::string base = slash == std::string::npos ? program : program.substr(slash + 1);
  if (base.empty()) base = "NVRUN";
  std::string tmp = nv::GetProfileString("", "NWN21", "NRVTMP", "");
  while (!tmp.empty() && tmp.back() == ' ') tmp.pop_back();
  if (!tmp.empty()) {
    tmp = nv::NativePath(tmp);
    if (tmp.back() != '/') tmp += '/';
  } else {
    tmp = folder + "/";
  }
  size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  return InstancePath(tmp + base + ".TR$", instance);
}

bool TxnActive() {
  return T().active;
}

namespace {

// True when a transaction file left by a program that died still has a
// journal to be rolled back (found through its entries).
bool HasJournals(nv::EnvFile* txn) {
  for (uint64_t at = 0;; at += kTxnEntrySize) {
    uint8_t rec[kTxnEntrySize];
    size_t got = 0;
    if (txn->Read(at, rec, sizeof rec, &got) != 0 || got != sizeof rec) return false;
    std::string name(reinterpret_cast<const char*>(rec + 4),
                     strnlen(reinterpret_cast<const char*>(rec + 4), 78));
    if (Get16(rec + 2) == 0 && !name.empty() && E()->Exists(JournalPath(name))) return true;
  }
}

// Deletes transaction file `path` when it is a dead program's that no
// journal needs any more: no running program holds its owner lock, and no
// journal of its entries is left to roll back. Deleted under that lock, so
// that the name still leads to it and no LOGOUT takes it meanwhile (one
// that opened it first finds it replaced and makes its own).
void RemoveIfDead(const std::string& path) {
  std::unique_ptr<nv::EnvFile> file;
  nv::OpenOptions o;
  o.mode = nv::kReadWrite | nv::kDenyNone;
  if (E()->Open(path, o, &file) != 0) return;
  if (file->Lock(kOwnerByte, 1, true, false) != 0 || HasJournals(file.get()) || file->Replaced())
    return;
  E()->Remove(path);
}

// Takes transaction file `path` for this process: 0 with *out set, 1 when
// it belongs to a running program or to a dead one's transaction that is
// still to be rolled back, 48 when it cannot be made.
int TakeTransactionFile(const std::string& path, std::unique_ptr<nv::EnvFile>* out) {
  for (;;) {
    nv::OpenOptions o;
    o.mode = nv::kReadWrite | nv::kDenyNone;
    o.create = true;
    std::unique_ptr<nv::EnvFile> file;
    const int err = E()->Open(path, o, &file);
    if (err == nv::kOsSharingViolation) return 1;
    if (err) return 48;
    if (file->Lock(kOwnerByte, 1, true, false) != 0) return 1;
    if (HasJournals(file.get())) return 1;
    // Taken only while the name still leads to it: a COMMIT deletes its
    // file before it lets go of the lock.
    if (file->Replaced()) continue;
    // A file left with entries is emptied on disk at once; a new (empty)
    // one is flushed with its first entries.
    uint64_t size = 0;
    if (file->Size(&size) != 0) return 48;
    if (size != 0 && (file->Truncate(0) != 0 || file->Sync(false) != 0)) return 48;
    *out = std::move(file);
    return 0;
  }
}

}  // namespace

int TxnLogout() {
  Txn& t = T();
  if (t.active) return 56;
  // Each running program has a transaction file of its own: the first name
  // no live program holds. A dead program's file is taken over, unless a
  // journal still needs it (the open of that data file rolls it back).
  const std::string first = TransactionPath(1);
  for (int instance = 1; instance <= kMaxInstances; ++instance) {
    const std::string path = InstancePath(first, instance);
    if (path.size() >= kJournalNameSize) return 48;
    const int err = TakeTransactionFile(path, &t.file);
    if (err == 1) continue;
    if (err) return err;
    t.path = path;
    t.active = true;
    t.file_dirty = false;
    t.file_synced = false;
    t.entries.clear();
    t.fcbs.clear();
    // The files of programs that died before their first journalled write:
    // no recovery ever meets them (it starts from a journal). The names
    // before this one are all in use (else it would have been taken); after
    // it, the run of names that exist is looked at, and at the process's
    // first LOGOUT every name (a gap left by a program that ended).
    static bool swept = false;
    for (int other = instance + 1; other <= kMaxInstances; ++other) {
      const std::string p = InstancePath(first, other);
      if (E()->Exists(p)) {
        RemoveIfDead(p);
      } else if (swept) {
        break;
      }
    }
    swept = true;
    return 0;
  }
  return 56;
}

bool TxnJournals(const FlatFcb* f) {
  return T().active && f->fd != nullptr && nv::LogoutNumberOf(f->fd) != 0;
}

int JournalBeforeWrite(FlatFcb* f, nv::EnvFile* file, uint64_t offset, size_t n) {
  return JournalBeforeWrites(f, file, {{offset, n}});
}

namespace {

// The files of f writing in the transaction: joined (a data file's first
// write also enters its memo and key files, so that one flush of the
// transaction file serves them all), and f's key files holding back.
// Answers the entry of `file`.
Entry* JoinFile(FlatFcb* f, nv::EnvFile* file) {
  Txn& t = T();
  if (FindEntry(t.entries, f->name) == nullptr) {
    const uint16_t data = Join(f->name, kKindData, 0)->number;
    if (f->memo) Join(f->memo->Path(), kKindMemo, data);
    for (FlatKey& k : f->key_blocks)
      if (k.file && !FindEntry(t.entries, k.file->path())) Join(k.file->path(), kKindKey, data);
  }
  Entry* e = FindEntry(t.entries, file->Path());
  if (e == nullptr) {
    const uint16_t data = FindEntry(t.entries, f->name)->number;
    e = Join(file->Path(), file == f->memo.get() ? kKindMemo : kKindKey, data);
  }
  e->live = file;
  if (std::find(t.fcbs.begin(), t.fcbs.end(), f) == t.fcbs.end()) {
    t.fcbs.push_back(f);
    // The transaction keeps this file to itself from now on: its key pages
    // are held back and journalled together when they are written.
    for (FlatKey& k : f->key_blocks)
      if (k.file) k.file->set_hold_back(true);
  }
  return e;
}

using Writes = std::vector<std::pair<nv::EnvFile*, KeyFile::Ranges>>;

// Journals writes about to be made to files of f (all sharing the journal
// of f's data file): the blocks not kept yet and the cuts, in one journal
// write and one flush, after the transaction file's new entries are on
// disk. A data file's first journalling also keeps its header block, which
// every operation that writes rewrites.
int JournalWrites(FlatFcb* f, const Writes& writes) {
  Txn& t = T();
  struct Taken {
    Entry* e;
    std::set<uint64_t> blocks;
    bool cut = false;
  };
  std::vector<Taken> taken;
  for (const auto& w : writes) {
    Entry* e = JoinFile(f, w.first);
    if (!e->sized) {
      if (w.first->Size(&e->base_size) != 0) return 48;
      e->sized = true;
    }
  }
  Entry* data = FindEntry(t.entries, f->name);
  std::vector<uint8_t> out;
  uint8_t trailer[kTrailerSize];
  for (const auto& [file, asked] : writes) {
    Entry* e = FindEntry(t.entries, file->Path());
    taken.push_back({e, {}, false});
    Taken& tk = taken.back();
    KeyFile::Ranges ranges = asked;
    if (e->kind == kKindData && !e->blocks.count(0)) ranges.emplace_back(0, kHeaderSize);
    const uint64_t size = e->base_size;
    for (const auto& [offset, n] : ranges) {
      if (offset < size) {
        const uint64_t end = std::min<uint64_t>(size, offset + n);
        for (uint64_t block = offset / kJournalPiece; block * kJournalPiece < end; ++block) {
          if (e->blocks.count(block) || tk.blocks.count(block)) continue;
          const uint64_t at = block * kJournalPiece;
          const size_t take = size_t(std::min<uint64_t>(kJournalPiece, size - at));
          const size_t base = out.size();
          out.resize(base + take);
          size_t got = 0;
          if (file->Read(at, out.data() + base, take, &got) != 0 || got != take) return 48;
          Put32(trailer, uint32_t(at));
          Put16(trailer + 4, e->number);
          Put16(trailer + 6, uint16_t(take));
          out.insert(out.end(), trailer, trailer + kTrailerSize);
          tk.blocks.insert(block);
        }
      }
      if (offset + n > size && !e->cut_logged && !tk.cut) {
        Put32(trailer, uint32_t(size));
        Put16(trailer + 4, e->number);
        Put16(trailer + 6, 0);
        out.insert(out.end(), trailer, trailer + kTrailerSize);
        tk.cut = true;
      }
    }
  }
  if (out.empty()) return 0;  // every byte it overwrites is kept already
  // The entries first: a journal whose file has no entry in the
  // transaction file is taken for damaged.
  if (t.file_dirty) {
    if (t.file->Sync(t.file_synced) != 0) return 48;
    t.file_dirty = false;
    t.file_synced = true;
  }
  if (data->journal->Write(data->journal_end, out.data(), out.size()) != 0) return 48;
  data->journal_end += out.size();
  CrashPoint("journal-written");
  if (data->journal->Sync(data->journal_synced) != 0) return 48;
  data->journal_synced = true;
  CrashPoint("journal-synced");
  // Only now that the journal is on disk may the blocks count as kept.
  for (Taken& tk : taken) {
    tk.e->blocks.insert(tk.blocks.begin(), tk.blocks.end());
    if (tk.cut) tk.e->cut_logged = true;
  }
  return 0;
}

}  // namespace

int JournalBeforeWrites(FlatFcb* f, nv::EnvFile* file,
                        const std::vector<std::pair<uint64_t, size_t>>& ranges) {
  if (!TxnJournals(f)) return 0;
  return JournalWrites(f, {{file, ranges}});
}

bool TxnKeepsHeaderLock(const FlatFcb* f) {
  const Txn& t = T();
  return t.active && (f->flags & kOpenShared) &&
         std::find(t.fcbs.begin(), t.fcbs.end(), f) != t.fcbs.end();
}

bool TxnKeepsOtherLocks(const FlatFcb* f) {
  const Txn& t = T();
  if (!t.active) return false;
  // Another open of f's own file counts too: its lock would keep f waiting
  // in this very program.
  for (const FlatFcb* other : t.fcbs)
    if (other != f && (other->flags & kHeaderByteLocked)) return true;
  for (const auto& kept : t.kept) {
    if (!kept) continue;
    for (const Entry& e : t.entries)
      if (e.kind == kKindData && e.name == kept->Path()) return true;
  }
  return false;
}

bool TxnDefersFlush(const FlatFcb* f) {
  const Txn& t = T();
  return t.active && std::find(t.fcbs.begin(), t.fcbs.end(), f) != t.fcbs.end();
}

void TxnTakeOverFiles(FlatFcb* f) {
  Txn& t = T();
  auto it = std::find(t.fcbs.begin(), t.fcbs.end(), f);
  if (!t.active || it == t.fcbs.end()) return;
  t.fcbs.erase(it);
  // The files stay open (and the data file's header byte lock taken) until
  // the transaction ends, so that a ROLLBACK still owns them.
  if (f->data) {
    t.kept.push_back(std::move(f->data));
    f->flags &= ~kHeaderByteLocked;
  }
  if (f->memo) t.kept.push_back(std::move(f->memo));
  for (FlatKey& k : f->key_blocks) {
    if (k.file) {
      k.file->EndHoldBack();
      k.file->set_write_hook(nullptr);
      k.file->set_batch_hook(nullptr);
      t.kept_keys.push_back(std::move(k.file));
    }
  }
}

namespace {

// Flushes every file the transaction wrote; answers the first failure.
int SyncWritten() {
  int first = 0;
  for (Entry& e : T().entries)
    if (e.live) {
      const int err = e.live->Sync(true);
      if (err && !first) first = err;
    }
  return first;
}

// Ends the transaction after COMMIT or a replay (its files flushed): the
// transaction file and the journals deleted, the byte locks given back.
void Finish(bool reload) {
  Txn& t = T();
  // Deleted while its owner lock is held: another program never takes over
  // a file that is about to go.
  RemoveTransactionFiles(t.path, t.entries);
  t.file.reset();
  // Ended before the files are reloaded: key files opened again must not
  // hold their writes back for a transaction that is over.
  t.active = false;
  for (FlatFcb* f : t.fcbs) {
    if (reload) Reload(f);
    UnlockHeader(f);
  }
  t.kept_keys.clear();
  t.kept.clear();
  t.entries.clear();
  t.fcbs.clear();
  t.path.clear();
  t.active = false;
}

}  // namespace

int TxnCommit() {
  Txn& t = T();
  if (!t.active) return 0;
  // Key pages and headers held back reach the files (journalled) before
  // the journals go: each data file's keys journalled together (one flush),
  // so that each key file's own announcement finds its blocks kept. When
  // that fails the transaction stays: the error is answered and ROLLBACK
  // can still put back every byte.
  int first = 0;
  for (FlatFcb* f : t.fcbs) {
    Writes held;
    for (FlatKey& k : f->key_blocks)
      if (k.file && k.file->holding_back()) {
        KeyFile::Ranges r = k.file->HeldBackRanges();
        if (!r.empty()) held.emplace_back(k.file->file(), std::move(r));
      }
    if (!held.empty() && (first = JournalWrites(f, held)) != 0) return first;
  }
  CrashPoint("commit-journalled");
  for (FlatFcb* f : t.fcbs)
    for (FlatKey& k : f->key_blocks)
      if (k.file) {
        int err = k.file->EndHoldBack();
        if (!err) err = k.file->Flush(false);
        if (err && !first) first = err;
      }
  if (first) return first;
  // Every file on disk before the journals go; a failed flush leaves the
  // transaction as it is (ROLLBACK can still put back every byte).
  if (int err = SyncWritten()) return drv::OsError(err);
  CrashPoint("commit-synced");
  Finish(false);
  return 0;
}

int TxnRollback() {
  Txn& t = T();
  if (!t.active) return 0;
  // Key pages held back never reached the files: they are dropped (the
  // files are reloaded after the replay). A key header written straight
  // away is written (and journalled) first, so that the replay leaves
  // nothing newer behind.
  for (FlatFcb* f : t.fcbs)
    for (FlatKey& k : f->key_blocks)
      if (k.file) {
        if (k.file->holding_back()) {
          k.file->DropHeldBack();
        } else {
          k.file->Flush(false);
        }
      }
  std::map<uint16_t, nv::EnvFile*> handles;
  std::vector<std::unique_ptr<nv::EnvFile>> opened;
  for (Entry& e : t.entries) {
    nv::EnvFile* h = e.live;
    if (h == nullptr) {
      std::unique_ptr<nv::EnvFile> o;
      if (OpenForReplay(e.name, &o) != 0) return 65;
      h = o.get();
      opened.push_back(std::move(o));
    }
    handles[e.number] = h;
  }
  for (Entry& e : t.entries) {
    if (e.shares != 0 || !e.journal) continue;
    if (Replay(e.journal.get(), handles, false) != 0) return 65;
  }
  for (auto& [n, h] : handles) h->Sync(false);
  opened.clear();
  Finish(true);
  return 0;
}

int RecoverJournal(FlatFcb* f) {
  nv::Env* env = E();
  const std::string jp = JournalPath(f->name);
  if (!env->Exists(jp)) return 0;
  Txn& t = T();
  if (t.active && FindEntry(t.entries, f->name)) return 0;  // this process's own
  std::unique_ptr<nv::EnvFile> journal;
  nv::OpenOptions o;
  o.mode = nv::kReadWrite | nv::kDenyNone;
  if (env->Open(jp, o, &journal) != 0) return 56;
  uint8_t head[kJournalStart];
  size_t got = 0;
  if (journal->Read(0, head, sizeof head, &got) != 0) return 65;
  if (got < kJournalStart) {
    // Its writer died before it had written the journal's start: nothing of
    // the transaction was written to this file yet. Its transaction file
    // goes too when the whole name is there and no other journal needs it.
    journal.reset();
    env->Remove(jp);
    const size_t whole = std::min(got, kJournalNameSize);
    const std::string txn_path(reinterpret_cast<const char*>(head),
                               strnlen(reinterpret_cast<const char*>(head), whole));
    if (txn_path.size() < whole && ReplaceExtension(txn_path, ".TR$") == txn_path)
      RemoveIfDead(txn_path);
    return ReadHeader(f);
  }
  std::string txn_path(reinterpret_cast<const char*>(head),
                       strnlen(reinterpret_cast<const char*>(head), kJournalNameSize));
  std::vector<Entry> entries;
  std::unique_ptr<nv::EnvFile> txn;
  nv::OpenOptions ro;
  ro.mode = nv::kReadOnly | nv::kDenyNone;
  if (txn_path.empty() || env->Open(txn_path, ro, &txn) != 0) {
    // The transaction file goes first at COMMIT: the transaction finished.
    journal.reset();
    env->Remove(jp);
    return 0;
  }
  if (t.active && txn_path == t.path) return 0;  // this process's own
  // The program that wrote the journal is dead (it would keep this file's
  // header byte lock); its owner lock keeps a LOGOUT from taking the
  // transaction file over meanwhile. A LOGOUT looking at the file holds the
  // lock for a moment; one that holds it for good took the file over after
  // that program died before its first change to this file.
  bool taken_over = true;
  for (int i = 0; i < 50 && taken_over; ++i) {
    taken_over = txn->Lock(kOwnerByte, 1, true, false) != 0;
    if (taken_over) env->Delay(5);
  }
  for (uint64_t at = 0;; at += kTxnEntrySize) {
    uint8_t rec[kTxnEntrySize];
    if (txn->Read(at, rec, sizeof rec, &got) != 0 || got != sizeof rec) break;
    Entry e;
    e.number = Get16(rec);
    e.shares = Get16(rec + 2);
    e.name.assign(reinterpret_cast<const char*>(rec + 4),
                  strnlen(reinterpret_cast<const char*>(rec + 4), 78));
    e.kind = rec[82];
    if (e.number == 0 || e.name.empty()) return 65;
    entries.push_back(std::move(e));
  }
  if (taken_over) {
    if (FindEntry(entries, f->name)) return 32;  // cannot be: the lock says it runs
    journal.reset();
    env->Remove(jp);
    return ReadHeader(f);
  }
  // Handles: the files of f as they are open, the others opened now (data
  // files under their header byte lock, so no station reads them half-way).
  std::map<uint16_t, nv::EnvFile*> handles;
  std::vector<std::unique_ptr<nv::EnvFile>> opened;
  std::vector<nv::EnvFile*> byte_locked;
  auto release = [&]() {
    for (nv::EnvFile* h : byte_locked) h->Unlock(0, 1);
  };
  for (Entry& e : entries) {
    nv::EnvFile* h = nullptr;
    if (e.name == f->name) {
      h = f->data.get();
    } else if (f->memo && e.name == f->memo->Path()) {
      h = f->memo.get();
    } else {
      for (FlatKey& k : f->key_blocks)
        if (k.file && e.name == k.file->path()) h = k.file->file();
    }
    if (h == nullptr) {
      std::unique_ptr<nv::EnvFile> file;
      if (!env->Exists(e.name) && e.kind != kKindData) {
        handles[e.number] = nullptr;  // nothing to put back
        continue;
      }
      if (OpenForReplay(e.name, &file) != 0) {
        release();
        return 65;
      }
      h = file.get();
      if (e.kind == kKindData) {
        AcquireByteLock(h);
        byte_locked.push_back(h);
      }
      opened.push_back(std::move(file));
    }
    handles[e.number] = h;
  }
  int err = 0;
  for (Entry& e : entries) {
    if (e.shares != 0) continue;
    std::string p = JournalPath(e.name);
    if (p == jp) {
      err = Replay(journal.get(), handles, true);
    } else if (env->Exists(p)) {
      std::unique_ptr<nv::EnvFile> other;
      if (env->Open(p, o, &other) != 0) {
        err = 65;
      } else {
        err = Replay(other.get(), handles, true);
      }
    }
    if (err) break;
  }
  if (!FindEntry(entries, f->name) && !err) {
    // A journal whose entry never reached the transaction file holds no
    // change (entries are written before the first journalled write).
    uint64_t size = 0;
    if (journal->Size(&size) != 0 || size > kJournalStart) err = 65;
  }
  if (err) {
    release();
    return 65;
  }
  for (auto& [n, h] : handles)
    if (h) h->Sync(false);
  release();
  opened.clear();
  journal.reset();
  RemoveTransactionFiles(txn_path, entries);
  txn.reset();
  env->Remove(jp);
  int e2 = ReadHeader(f);
  if (e2) return e2;
  for (FlatKey& k : f->key_blocks)
    if (k.file) k.file->ReRead();
  return 0;
}

}  // namespace flat
