// The flat driver's operations on files as a whole: CREATE, OPEN/SHARE,
// CLOSE, REMOVE, COPY, RENAME, EMPTY, PACK, FLUSH, the BUILD family and the
// header lock.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "drivers/flat/flat_internal.h"
#include "drivers/flat/flat_journal.h"
#include "drivers/flat/flat_ops.h"
#include "drivers/flat/flat_runs.h"
#include "drivers/flat/flat_share.h"
#include "host/runtime/driver_services.h"
#include "host/runtime/error_state.h"
#include "host/runtime/fixed_string.h"

namespace flat {

void SetKeyHooks(FlatFcb* f, KeyFile* kf) {
  kf->set_cache(!(f->flags & kOpenShared));
  kf->set_write_hook([f, kf](uint64_t off, size_t n) { return f->WriteHook(kf->file(), off, n); });
  kf->set_batch_hook([f, kf](const KeyFile::Ranges& r) { return f->WriteHooks(kf->file(), r); });
  // Opened (or made) inside a transaction that keeps this file, or while
  // the file streams to itself: held back like the file's other keys.
  kf->set_hold_back(TxnDefersFlush(f) || StreamHoldsKeys(f));
}

bool StreamHoldsKeys(const FlatFcb* f) {
  return !(f->flags & (kFlushAfterWrite | kOpenShared)) && !f->read_only() && f->fd != nullptr &&
         nv::LogoutNumberOf(f->fd) == 0 && !TxnActive();
}

int EndStreamHoldBack(FlatFcb* f) {
  if (TxnDefersFlush(f)) return 0;  // COMMIT writes them
  int first = 0;
  for (FlatKey& k : f->key_blocks) {
    if (!k.file || !k.file->holding_back()) continue;
    if (int err = k.file->EndHoldBack(); err != 0 && first == 0) first = err;
  }
  // The keys now lack entries their records have: the handle refuses
  // further writes and closes without flushing, leaving the busy mark for
  // the next open to repair.
  if (first != 0 && f->write_error == 0) f->write_error = first;
  return first;
}

std::string MemoPath(const FlatFcb* f) {
  return ReplaceExtension(f->name, ".MEM");
}

std::string KeyPath(const FlatFcb* f, const FlatKey& k) {
  return KeyFileName(f->name, k.file_number, k.index);
}

int MakeKeySpec(FlatFcb* f, FlatKey* k) {
  k->shape = KeySpec{};
  for (const nv::DrvKcbComponent& c : k->components) {
    auto* fb = static_cast<FlatField*>(c.field);
    const nv::FieldDesc& d = *fb->desc;
    uint8_t st = StoredType(d);
    if (st == 0) return 79;
    KeyComponent kc;
    kc.runtime_type = d.type;
    kc.stored_type = st;
    kc.field_number = uint16_t(fb->stored_type ? fb->number : 0);
    kc.offset = uint16_t(d.offset);
    kc.size = uint16_t(d.size);
    kc.descending = c.descending;
    k->shape.components.push_back(kc);
  }
  const uint32_t attributes = k->decl ? k->decl->attributes : k->attributes;
  k->shape.dup = (attributes & nv::kKeyDup) != 0;
  k->shape.optional = (attributes & nv::kKeyOptional) != 0;
  k->shape.nocase = (attributes & nv::kKeyNoCase) != 0;
  k->shape.index = k->index;
  k->shape.oem = (f->attributes & nv::kFcbOem) != 0;
  k->shape.name = k->external_name.empty() ? k->name : k->external_name;
  return 0;
}

namespace {

nv::Env* E() {
  return nv::GetEnv();
}

std::string Folder(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void Pad(char* dst, size_t n, const std::string& s, char fill) {
  std::memset(dst, fill, n);
  std::memcpy(dst, s.data(), std::min(n, s.size()));
}

// The prefix of a name when its ':' stands within the first 4 characters.
std::string ShortPrefix(const std::string& name) {
  size_t colon = name.find(':');
  return (colon != std::string::npos && colon < 4) ? name.substr(0, colon) : std::string();
}

// Key descriptor of a key as the declaration gives it, as stored.
std::string DeclaredDescriptor(const FlatFcb* f, const FlatKey& k) {
  std::string d = EncodeKeyDescriptor(k.shape);
  if (f->owned()) Scramble(reinterpret_cast<uint8_t*>(d.data()), d.size(), f->owner_key);
  return d;
}

void CloseAll(FlatFcb* f) {
  for (FlatKey& k : f->key_blocks) {
    k.file.reset();
    k.unbuilt = false;
  }
  f->memo.reset();
  f->data.reset();
}

int OpenOrCreateKey(FlatFcb* f, FlatKey* k) {
  if (k->file) return 0;
  if (k->shape.components.empty()) return 76;
  int err = EnsureKeyOpen(f, k);
  if (err != 46) return err;
  std::unique_ptr<KeyFile> kf;
  if ((err = KeyFile::Create(E(), k->path, k->shape, &kf)) != 0) return err;
  SetKeyHooks(f, kf.get());
  k->file = std::move(kf);
  return 0;
}

int FlushKeys(FlatFcb* f, bool sync) {
  int first = 0;
  for (FlatKey& k : f->key_blocks) {
    if (!k.file) continue;
    int err = k.file->Flush(sync);
    if (err && !first) first = err;
  }
  return first;
}

// Live records in record order, in the runtime's form. A build reads them
// in large blocks, one read each, rather than through the data file's view
// (mapping a large file page by page costs more than reading it); a
// deferred build, whose progress events run the program, reads them one by
// one as any other operation does.
class LiveRecords : public RecordSource {
 public:
  explicit LiveRecords(FlatFcb* f) : f_(f), data_(f->record_length) {}
  int Rewind() override {
    next_ = f_->header.first_live;
    read_ = 0;
    total_ = f_->header.records - f_->header.deleted;
    block_first_ = block_count_ = 0;
    return Driver().BuildProgress(f_, 0, total_);
  }
  int Next(uint32_t* record, const uint8_t** data, bool* done) override {
    *done = false;
    // A deferred build reports its progress (and may be cancelled, or the
    // file closed, by the program's answer).
    if (read_ > 0) {
      if (int r = Driver().BuildProgress(f_, read_, total_)) return r;
    }
    const bool converts = f_->attributes & (nv::kFcbScrambled | nv::kFcbOem);
    while (next_ != 0 && next_ <= f_->header.last_live) {
      uint32_t n = next_++;
      const uint8_t* raw = nullptr;
      int err = (f_->state & nv::kStateDeferredRunning) ? RecordBytes(f_, n, &raw)
                                                         : FromBlock(n, &raw);
      if (err) return err;
      if (raw[0] & kRecDeleted) continue;
      if (converts) {
        ToRuntime(f_, raw + kPrefixSize, data_.data());
        *data = data_.data();
      } else {
        *data = raw + kPrefixSize;
      }
      *record = n;
      ++read_;
      return 0;
    }
    *done = true;
    return 0;
  }
  uint64_t Expected() override { return f_->header.records - f_->header.deleted; }

 private:
  static constexpr size_t kBlockBytes = 1 << 20;

  // Record n as stored, from the block, which is read again from n on when
  // it does not hold it.
  int FromBlock(uint32_t n, const uint8_t** raw) {
    const size_t rs = f_->header.record_size;
    if (n < block_first_ || n - block_first_ >= block_count_) {
      if (int err = FlushAppends(f_)) return err;
      const uint32_t count = std::min<uint32_t>(uint32_t(std::max<size_t>(1, kBlockBytes / rs)),
                                                f_->header.last_live - n + 1);
      block_.resize(size_t(count) * rs);
      block_count_ = 0;
      size_t got = 0;
      if (int err = f_->data->Read(RecordOffset(f_, n), block_.data(), block_.size(), &got))
        return drv::OsError(err);
      // A block cut short by the end of the file keeps the whole records read.
      if (got < rs) return 36;
      block_first_ = n;
      block_count_ = uint32_t(got / rs);
    }
    *raw = block_.data() + size_t(n - block_first_) * rs;
    return 0;
  }

  FlatFcb* f_;
  uint32_t next_ = 0;
  uint64_t read_ = 0, total_ = 0;
  std::vector<uint8_t> data_;
  std::vector<uint8_t> block_;
  uint32_t block_first_ = 0, block_count_ = 0;
};

// Writes to PACK's work files: not part of any transaction.
int WorkWrite(nv::EnvFile* file, uint64_t offset, const void* p, size_t n) {
  int err = file->Write(offset, p, n);
  return err ? drv::OsError(err) : 0;
}

int JournalWhole(FlatFcb* f, nv::EnvFile* file, uint64_t from) {
  if (!TxnJournals(f)) return 0;
  uint64_t size = 0;
  if (int err = file->Size(&size)) return drv::OsError(err);
  if (size <= from) return 0;
  int err = JournalBeforeWrite(f, file, from, size_t(size - from));
  if (err) f->write_error = err;
  return err;
}

int CopyOver(FlatFcb* f, nv::EnvFile* to, const std::string& from_path) {
  std::unique_ptr<nv::EnvFile> from;
  nv::OpenOptions o;
  o.mode = nv::kReadOnly | nv::kDenyNone;
  int err = E()->Open(from_path, o, &from);
  if (err) return drv::OsError(err);
  uint64_t size = 0;
  if ((err = from->Size(&size)) != 0) return drv::OsError(err);
  if ((err = JournalWhole(f, to, 0)) != 0) return err;
  std::vector<uint8_t> buf(64 * 1024);
  for (uint64_t at = 0; at < size;) {
    const size_t want = size_t(std::min<uint64_t>(buf.size(), size - at));
    size_t got = 0;
    if ((err = from->Read(at, buf.data(), want, &got)) != 0) return drv::OsError(err);
    if (got != want) return 36;
    if ((err = f->Write(to, at, buf.data(), got)) != 0) return err;
    at += got;
  }
  if ((err = to->Truncate(size)) != 0) return drv::OsError(err);
  return 0;
}

int FinishPack(FlatFcb* f) {
  if (!(f->header.status & kHdrPacking) || f->read_only()) return 0;
  const std::string m00 = ReplaceExtension(f->name, ".M00");
  if (f->memo_block() && E()->Exists(m00)) {
    f->memo.reset();
    if (int err = E()->Rename(m00, MemoPath(f))) return drv::OsError(err);
  }
  E()->Remove(ReplaceExtension(f->name, ".T00"));
  f->header.status &= uint16_t(~kHdrPacking);
  f->header.status |= kHdrBusy;  // the keys are built by the repair that follows
  return 0;
}

// A build that failed half way (cancelled from a progress event, no memory)
// leaves key files that do not hold every record: they are marked unbuilt,
// and outside a transaction the busy mark stays on disk and the handle
// refuses further writes, so that the next open that may write builds the
// keys again (on a file opened shared, the next operation of any station
// finds the mark and repairs). A build of the unbuilt keys, or that repair,
// lifts the refusal (BeginBuild): once every key that writes keep up is
// whole again the mark goes at the end of the operation.
bool AnyUnbuilt(const FlatFcb* f, bool maintained_only) {
  return std::any_of(f->key_blocks.begin(), f->key_blocks.end(), [&](const FlatKey& k) {
    return k.unbuilt && (!maintained_only || (k.stored && !k.index));
  });
}

// Before a build: kLifted when the handle refused writes only because an
// earlier build failed (the refusal is lifted for this build), kRefused when
// it refuses them for another write that failed (the build writes nothing).
enum BuildStart { kPlain, kLifted, kRefused };
BuildStart BeginBuild(FlatFcb* f) {
  if (!f->write_error) return kPlain;
  if (!AnyUnbuilt(f, false) || !(f->flags & kBusyOnDisk) || TxnJournals(f)) return kRefused;
  f->write_error = 0;
  return kLifted;
}

int EndBuild(FlatFcb* f, const std::vector<FlatKey*>& keys, BuildStart start, int err) {
  if (err == -1 || !f->open() || start == kRefused) return err;
  const bool failed = err != 0 && err != 40;
  for (FlatKey* k : keys) k->unbuilt = failed;
  if (failed && (f->flags & kBusyOnDisk) && !f->write_error) f->write_error = 46;
  // Other keys that writes keep up still to build: writes stay refused.
  if (start == kLifted && !f->write_error && AnyUnbuilt(f, true)) f->write_error = 46;
  return err;
}

int BuildKeyFile(FlatFcb* f, FlatKey* k, BuildReport* report) {
  int err = OpenOrCreateKey(f, k);
  if (err) return err;
  const BuildStart start = BeginBuild(f);
  // A build rewrites and cuts the whole key file.
  if ((err = JournalWhole(f, k->file->file(), 0)) != 0 || (err = k->file->EndHoldBack()) != 0)
    return EndBuild(f, {}, start, err);
  LiveRecords source(f);
  return EndBuild(f, {k}, start, BuildKey(E(), k->file.get(), source, report, Folder(f->name)));
}

// Builds the keys `which` picks in one pass over the records, with one
// duplicates report: 40 when a key without duplicates met some.
template <typename Pick>
int BuildKeyFiles(FlatFcb* f, Pick which) {
  std::vector<KeyToBuild> list;
  std::vector<FlatKey*> keys;
  const BuildStart start = BeginBuild(f);
  for (FlatKey& k : f->key_blocks) {
    if (!which(k) || k.shape.components.empty()) continue;
    int err = OpenOrCreateKey(f, &k);
    if (!err) err = JournalWhole(f, k.file->file(), 0);
    if (!err) err = k.file->EndHoldBack();
    if (err) return EndBuild(f, {}, start, err);
    list.push_back({k.file.get(), ""});
    keys.push_back(&k);
  }
  if (list.empty()) return EndBuild(f, {}, start, 0);
  BuildReport report(E(), ReplaceExtension(f->name, ".BLD"));
  LiveRecords source(f);
  std::vector<int> results;
  int err = BuildKeys(E(), list, source, &report, Folder(f->name), &results);
  report.Close();
  return EndBuild(f, keys, start, err);
}

void ResetPositions(FlatFcb* f) {
  f->current = 0;
  f->current_status = 0;
  f->current_memo = 0;
  f->held = 0;
  f->watched = 0;
  f->current_key = nullptr;
  f->seq = Sequence{};
}

}  // namespace

// ---------------------------------------------------------------------------

int LockHeader(FlatFcb* f, bool reads_only) {
  return SharedLockHeader(f, reads_only);
}

void UnlockHeader(FlatFcb* f) {
  if (f->flags & kRunLock) return EndRun(f);
  if (!(f->flags & kHeaderByteLocked)) return;
  f->flags &= ~kHeaderByteLocked;
  if (f->data) f->data->Unlock(0, 1);
}

int CreateFiles(FlatFcb* f) {
  if (f->open()) return nv::kErrFileAlreadyOpen;
  if (!(f->attributes & nv::kFcbCreate)) return 54;
  if (f->name.empty()) return 45;
  nv::Env* env = E();
  f->owner_key = OwnerKey(f->owner);
  std::vector<std::string> made;
  auto fail = [&](int err) {
    CloseAll(f);
    for (const std::string& p : made) env->Remove(p);
    f->flags =
        kFlushAfterWrite | (f->flags & (kIgnoreStatus | kIgnoreCorruptions | kMaintainHeaderTime));
    f->write_error = 0;
    return drv::OsError(err);
  };
  nv::OpenOptions o;
  o.mode = nv::kReadWrite | nv::kDenyNone;
  o.create = true;
  o.truncate = true;
  int err = env->Open(f->name, o, &f->data);
  if (err) return fail(err);
  made.push_back(f->name);
  f->flags =
      kFlushAfterWrite | (f->flags & (kIgnoreStatus | kIgnoreCorruptions | kMaintainHeaderTime));
  f->write_error = 0;

  Header h;
  h.status = kHdrCreated;
  if (f->owned()) h.status |= kHdrOwned;
  if (f->attributes & nv::kFcbReclaim) h.status |= kHdrReuse;
  if (f->attributes & nv::kFcbScrambled) h.status |= kHdrScrambled;
  h.fields = uint16_t(f->layout.fields.size());
  h.pictures = uint16_t(f->layout.pictures.size());
  h.arrays = uint16_t(f->layout.arrays.size());
  h.record_size = uint16_t(f->record_length + kPrefixSize);

  // The description area.
  std::vector<uint8_t> area = EncodeFieldDescriptors(f->layout);
  if (f->owned()) {
    for (size_t i = 0; i < f->layout.fields.size(); ++i)
      Scramble(area.data() + i * kFieldDescSize, kFieldDescSize, f->owner_key);
  }
  std::string file_prefix;
  for (FlatKey& k : f->key_blocks) {
    k.path = KeyPath(f, k);
    if (!k.stored) continue;
    ++h.keys;
    std::string d = DeclaredDescriptor(f, k);
    area.insert(area.end(), d.begin(), d.end());
    if (file_prefix.empty()) file_prefix = ShortPrefix(k.shape.name);
  }
  {
    std::vector<uint8_t> pics = EncodePictures(f->layout);
    if (f->owned()) {
      size_t at = 0;
      while (at + 2 <= pics.size()) {
        size_t len = Get16(pics.data() + at);
        Scramble(pics.data() + at + 2, std::min(len, pics.size() - at - 2), f->owner_key);
        at += 2 + len;
      }
    }
    area.insert(area.end(), pics.begin(), pics.end());
    std::vector<uint8_t> arrays = EncodeArrays(f->layout);
    area.insert(area.end(), arrays.begin(), arrays.end());
  }
  h.records_start = uint32_t(kHeaderSize + area.size());
  std::string record_prefix = f->layout.record_prefix;
  if (file_prefix.empty() && !record_prefix.empty()) {
    file_prefix = record_prefix;
    record_prefix.clear();
  }
  Pad(h.file_prefix, 3, file_prefix, '\0');
  Pad(h.record_prefix, 3, record_prefix, '\0');
  if (FlatMemo* m = f->memo_block()) {
    h.status |= kHdrMemo;
    h.memo_size = uint16_t(m->size);
    size_t colon = m->name.find(':');
    std::string mname = colon == std::string::npos ? m->name : m->name.substr(colon + 1);
    Pad(h.memo_name, 12, mname.substr(0, 12), ' ');
  }
  f->header = h;
  if ((err = f->Write(f->data.get(), kHeaderSize, area.data(), area.size())) != 0) return fail(err);

  for (FlatKey& k : f->key_blocks) {
    if (!k.stored) continue;
    std::unique_ptr<KeyFile> kf;
    err = KeyFile::Create(env, k.path, k.shape, &kf);
    if (err) return fail(err);
    made.push_back(k.path);
  }
  if (f->memo_block()) {
    std::string mp = MemoPath(f);
    if ((err = env->Open(mp, o, &f->memo)) != 0) return fail(err);
    made.push_back(mp);
    if ((err = WriteMemoHead(f, 0)) != 0) return fail(err);
    if ((err = f->memo->Truncate(kMemoHeaderSize)) != 0) return fail(err);
    if ((err = f->memo->Sync(false)) != 0) return fail(err);
  }
  if ((err = WriteFinalHeader(f)) != 0) return fail(err);
  if ((err = f->data->Sync(false)) != 0) return fail(err);
  CloseAll(f);
  return 0;
}

int OpenFiles(FlatFcb* f, uint32_t mode) {
  if (f->name.empty()) return 45;
  if (f->open()) return nv::kErrFileAlreadyOpen;
  nv::Env* env = E();
  const uint32_t access = mode & 3;
  f->owner_key = OwnerKey(f->owner);
  f->flags =
      kFlushAfterWrite | (f->flags & (kIgnoreStatus | kIgnoreCorruptions | kMaintainHeaderTime));
  if (access == 0) f->flags |= kOpenReadOnly;
  // Every mode that lets another writer in (compatibility, deny read, deny
  // none) shares the file: header lock, header and key pages read again.
  const uint32_t share = mode & 0x70;
  if (share != 0x10 && share != 0x20) f->flags |= kOpenShared;
  f->write_error = 0;
  f->open_mode = mode;
  ResetPositions(f);
  nv::OpenOptions o;
  o.mode = mode;
  auto fail = [&](int e) {
    UnlockHeader(f);
    CloseAll(f);
    return e;
  };
  int err = 0;
  // The header lock may break a dead program's LOCK and repair the file
  // (RECOVER): its key files and memo file must be at hand by then.
  int stored_keys = 0;
  for (FlatKey& k : f->key_blocks) {
    k.path = KeyPath(f, k);
    if (k.stored) ++stored_keys;
  }
  for (int tries = 0;; ++tries) {
    if ((err = env->Open(f->name, o, &f->data)) != 0) {
      f->data.reset();
      return drv::OsError(err);
    }
    if (f->memo_block() && env->Exists(MemoPath(f)) &&
        (err = env->Open(MemoPath(f), o, &f->memo)) != 0) {
      f->memo.reset();
      return fail(drv::OsError(err));
    }
    err = LockHeader(f);
    if (err != kReopen) break;
    // Replaced by a PACK (or removed) while this open waited for it.
    f->data.reset();
    f->memo.reset();
    if (tries == 100) return 5;
  }
  if (err) return fail(err);
  // A journal left by a program that died is rolled back first.
  if (!(f->flags & kOpenShared) && ((err = RecoverJournal(f)) != 0 || (err = ReadHeader(f)) != 0))
    return fail(err);
  const Header& h = f->header;
  // The declaration must match the file.
  const bool has_memo = f->memo_block() != nullptr;
  if (h.record_size != f->record_length + kPrefixSize || bool(h.status & kHdrMemo) != has_memo ||
      (has_memo && h.memo_size != f->memo_block()->size) ||
      (f->owned() && !(h.status & kHdrOwned)) ||
      ((f->attributes & nv::kFcbScrambled) && !(h.status & kHdrScrambled)) ||
      h.keys != stored_keys || h.fields != f->layout.fields.size() ||
      h.arrays != f->layout.arrays.size())
    return fail(47);
  uint64_t size = 0;
  if ((err = f->data->Size(&size)) != 0) return fail(drv::OsError(err));
  if (size < h.records_start + uint64_t(h.records) * h.record_size) return fail(36);
  if (has_memo) {
    if (!f->memo && (err = env->Open(MemoPath(f), o, &f->memo)) != 0) {
      f->memo.reset();
      return fail(drv::OsError(err));
    }
    uint32_t free_head = 0;
    if ((err = ReadMemoHead(f, &free_head)) != 0) return fail(err);
  }
  // A program that died in the middle of an operation left its mark (and
  // one that died while PACK put its work files in place, the packing mark).
  if ((err = FinishPack(f)) != 0) return fail(err);
  if (f->memo_block() && !f->memo && (err = env->Open(MemoPath(f), o, &f->memo)) != 0) {
    f->memo.reset();
    return fail(drv::OsError(err));
  }
  if ((h.status & kHdrBusy) && !f->read_only() && (err = RepairAfterCrash(f)) != 0)
    return fail(err);
  for (FlatKey& k : f->key_blocks) {
    if (!k.stored || k.index) continue;
    if ((err = EnsureKeyOpen(f, &k)) != 0) return fail(err);
    if (!k.shape.optional && !(f->flags & kIgnoreCorruptions) &&
        k.file->header().entries != h.records - h.deleted)
      return fail(46);
  }
  // Key descriptors: rewritten from the declaration when they differ.
  uint64_t at = kHeaderSize + uint64_t(h.fields) * kFieldDescSize;
  for (FlatKey& k : f->key_blocks) {
    if (!k.stored) continue;
    std::string want = DeclaredDescriptor(f, k);
    std::string have(want.size(), '\0');
    size_t got = 0;
    if (at + want.size() > h.records_start) return fail(36);
    if ((err = f->data->Read(at, have.data(), have.size(), &got)) != 0)
      return fail(drv::OsError(err));
    if (got != have.size()) return fail(36);
    std::string a = want, b = have;
    if (f->owned()) {
      Scramble(reinterpret_cast<uint8_t*>(a.data()), a.size(), f->owner_key);
      Scramble(reinterpret_cast<uint8_t*>(b.data()), b.size(), f->owner_key);
    }
    // The name (bytes 1 to 16) is not compared.
    bool same = a[0] == b[0] && a.compare(17, std::string::npos, b, 17) == 0;
    if (uint8_t(b[0]) != uint8_t(a[0])) return fail(46);
    if (!same && access != 0) {
      if ((err = f->Write(f->data.get(), at, want.data(), want.size())) != 0) return fail(err);
    }
    at += want.size();
  }
  if (mode & 3) f->state |= nv::kStateWriteAccess;
  if ((mode & 0x30) == 0x10 || (mode & 0x30) == 0x20) f->state |= nv::kStateExclusive;
  // Deleted and held records are another station's business on a shared
  // file: IGNORESTATUS asked for before the open does not stay on.
  if (f->flags & kOpenShared) f->flags &= ~kIgnoreStatus;
  std::error_code ec;
  f->full_name = std::filesystem::absolute(f->name, ec).lexically_normal().string();
  return 0;
}

int FlushFile(FlatFcb* f) {
  f->flags |= kFlushAfterWrite;
  if (f->read_only()) return 0;
  // Key pages and headers first: the held-back header is the last write and
  // takes the busy mark away.
  int err = EndStreamHoldBack(f);
  if (!err) err = FlushKeys(f, false);
  if (!err && (f->flags & kHeaderDirty)) err = WriteFinalHeader(f);
  if (!err && f->data && (err = f->data->Sync(false)) != 0) err = drv::OsError(err);
  if (!err && f->memo && (err = f->memo->Sync(false)) != 0) err = drv::OsError(err);
  for (FlatKey& k : f->key_blocks) {
    if (err || !k.file) continue;
    if ((err = k.file->file()->Sync(false)) != 0) err = PageIoError(err);
  }
  return err;
}

int CloseFiles(FlatFcb* f, bool flush) {
  if (!f->open()) return 0;
  EndRun(f);
  // What CLOSE writes (held mark, key headers) goes under the header lock.
  ShareBeforeClose(f);
  int err = 0;
  // After a failed write (already reported) the handle only closes.
  if (flush && !f->write_error) {
    err = ReleaseHeld(f);
    // Ends streaming and flushes as FLUSH: key headers, a held-back header,
    // and every file forced to disk.
    int e2 = FlushFile(f);
    if (!err) err = e2;
  }
  ShareClosing(f);
  // CLOSE's own writes end here.
  if (f->data && flush) {
    int e2 = ClearBusyMark(f);
    if (!err) err = e2;
  }
  UnlockHeader(f);
  for (FlatKey& k : f->key_blocks) {
    k.file.reset();
    if (k.dynamic && !k.shape.components.empty()) {
      E()->Remove(k.path);
      k.components.clear();
      k.shape.components.clear();
    }
  }
  CloseAll(f);
  ResetPositions(f);
  f->appends.clear();  // written above, or given up with the failed handle
  f->block.Forget();
  f->full_name.clear();
  f->flags =
      kFlushAfterWrite | (f->flags & (kIgnoreStatus | kIgnoreCorruptions | kMaintainHeaderTime));
  f->write_error = 0;
  return err;
}

int RemoveFiles(FlatFcb* f) {
  if (f->open()) return 5;
  if (f->name.empty()) return 45;
  nv::Env* env = E();
  std::unique_ptr<nv::EnvFile> probe;
  int err = ProbeUnshared(f->name, &probe);
  if (err) return err;
  err = env->Remove(f->name);
  if (err) return drv::OsError(err);
  if (f->memo_block() && (err = env->Remove(MemoPath(f))) != 0) return drv::OsError(err);
  for (FlatKey& k : f->key_blocks) {
    std::string p = KeyPath(f, k);
    if (k.shape.components.empty() && !k.stored) continue;
    if (!k.stored && !env->Exists(p)) continue;
    if (k.index && !env->Exists(p)) continue;
    if ((err = env->Remove(p)) != 0) return drv::OsError(err);
  }
  return 0;
}

int CopyFiles(FlatFcb* f, const std::string& target_text, bool rename) {
  if (rename && f->open()) return 5;
  if (f->name.empty()) return 45;
  nv::Env* env = E();
  std::string target = nv::NativePath(target_text);
  while (target.size() > 1 && target.back() == ' ') target.pop_back();
  if (target.empty()) return 45;
  if (env->IsDirectory(target)) {
    if (target.back() != '/') target += '/';
    target += BaseName(f->name);
  } else {
    target = CompleteDataName(target);
  }
  if (f->open()) FlushFile(f);
  // Renaming a file (or over one) that others have open is refused.
  std::unique_ptr<nv::EnvFile> probe, probe_target;
  if (rename) {
    if (int err = ProbeUnshared(f->name, &probe)) return err;
    if (int err = ProbeUnshared(target, &probe_target)) return err;
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  pairs.emplace_back(f->name, target);
  if (f->memo_block()) pairs.emplace_back(MemoPath(f), ReplaceExtension(target, ".MEM"));
  for (FlatKey& k : f->key_blocks) {
    std::string p = KeyPath(f, k);
    if (k.stored && !k.index) {
      pairs.emplace_back(p, KeyFileName(target, k.file_number, k.index));
    } else if (env->Exists(p)) {
      pairs.emplace_back(p, KeyFileName(target, k.file_number, k.index));
    }
  }
  for (const auto& [from, to] : pairs) {
    int err = rename ? env->Rename(from, to) : env->CopyFile(from, to);
    if (err) return drv::OsError(err);
  }
  return 0;
}

int Bytes(FlatFcb* f, intptr_t* result) {
  if (f->state & nv::kStateBytesRecordLength) {
    *result = intptr_t(f->record_length);
    return 0;
  }
  if (!f->open()) return nv::kErrFileNotOpen;
  uint64_t size = 0;
  int err = FlushAppends(f);
  if (err) return err;
  err = f->data->Size(&size);
  if (err) return drv::OsError(err);
  *result = intptr_t(size);
  return 0;
}

int EmptyFile(FlatFcb* f) {
  if (f->read_only()) return 5;
  Header& h = f->header;
  h.records = h.deleted = h.free_head = h.first_live = h.last_live = 0;
  int err = WriteHeader(f, true);
  if (err) return err;
  // Inside a transaction what the cuts take away is journalled first.
  if ((err = JournalWhole(f, f->data.get(), h.records_start)) != 0) return err;
  if ((err = f->data->Truncate(h.records_start)) != 0) return drv::OsError(err);
  if (f->memo) {
    if ((err = JournalWhole(f, f->memo.get(), kMemoHeaderSize)) != 0) return err;
    if ((err = WriteMemoHead(f, 0)) != 0) return err;
    if ((err = f->memo->Truncate(kMemoHeaderSize)) != 0) return drv::OsError(err);
  }
  for (FlatKey& k : f->key_blocks) {
    if (k.shape.components.empty()) continue;
    if ((err = OpenOrCreateKey(f, &k)) != 0) return err;
    if ((err = JournalWhole(f, k.file->file(), 0)) != 0) return err;
    if ((err = k.file->EndHoldBack()) != 0) return err;
    if ((err = k.file->Reset()) != 0) return err;
  }
  ResetPositions(f);
  return 0;
}

int BuildAll(FlatFcb* f) {
  if (f->read_only()) return 5;
  int result = BuildKeyFiles(f, [](const FlatKey& k) { return !k.shape.components.empty(); });
  if (result && result != 40) return result;
  if (f->flags & kHeaderDirty) {
    int err = WriteHeader(f, true);
    if (err) return err;
  }
  return result;
}

int RepairAfterCrash(FlatFcb* f) {
  if (f->read_only()) return 0;
  const BuildStart start = BeginBuild(f);
  // The mark is on disk and stays there until the last repair write.
  f->flags |= kBusyOnDisk;
  f->header.status |= kHdrBusy;
  int err = RecountHeader(f);
  if (!err) err = RebuildMemoChain(f);
  if (!err) {
    err = BuildKeyFiles(f, [](const FlatKey& k) { return k.stored && !k.index; });
    if (err == 40) err = 0;  // duplicates are listed in the report
  }
  if (!err) err = WriteFinalHeader(f);
  return EndBuild(f, {}, start, err);
}

void RepairedElsewhere(FlatFcb* f) {
  if (!(f->flags & kBusyOnDisk) || (f->header.status & kHdrBusy) || !AnyUnbuilt(f, true)) return;
  for (FlatKey& k : f->key_blocks)
    if (k.stored && !k.index) k.unbuilt = false;
  f->flags &= ~kBusyOnDisk;
  f->write_error = 0;
}

int BuildOne(FlatFcb* f, FlatKey* k) {
  if (f->read_only()) return 5;
  if (k->shape.components.empty()) return 76;
  BuildReport report(E(), ReplaceExtension(f->name, ".BLD"));
  int err = BuildKeyFile(f, k, &report);
  report.Close();
  if (f->flags & kHeaderDirty) {
    int e2 = WriteHeader(f, true);
    if (!err) err = e2;
  }
  return err;
}

int BuildIndex(FlatFcb* f, FlatKey* k, const std::string& text) {
  if (!k->index) return nv::kErrNotImplemented;
  const nv::RecordType& rt = *f->fd->record_type;
  std::string upper = nv::Upper(text);
  std::vector<nv::DrvKcbComponent> comps;
  size_t pos = 0;
  while (pos <= upper.size()) {
    size_t comma = upper.find(',', pos);
    std::string part =
        upper.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    pos = comma == std::string::npos ? upper.size() + 1 : comma + 1;
    size_t b = part.find_first_not_of(' ');
    if (b == std::string::npos) {
      if (comma == std::string::npos && comps.empty() && part.empty() && upper.empty()) break;
      return 76;
    }
    part = part.substr(b);
    bool desc = false;
    if (part[0] == '+' || part[0] == '-') {
      desc = part[0] == '-';
      part = part.substr(1);
    }
    while (!part.empty() && part.back() == ' ') part.pop_back();
    int n = rt.FindField(part);
    if (n == 0) return 76;
    nv::DrvFieldHead* fh = f->fields[size_t(n - 1)];
    if (fh->desc->Elements() > 1) return 75;
    comps.push_back({fh, desc});
  }
  if (comps.empty()) return 76;
  if (f->read_only()) return 5;
  auto saved = k->components;
  k->components = comps;
  int err = MakeKeySpec(f, k);
  if (!err) err = k->shape.Validate(kMaxKeyLength - 1);
  if (err) {
    k->components = saved;
    MakeKeySpec(f, k);
    return err;
  }
  if (k->file) {
    k->file.reset();
  }
  k->path = KeyPath(f, *k);
  E()->Remove(k->path);
  std::unique_ptr<KeyFile> kf;
  if ((err = KeyFile::Create(E(), k->path, k->shape, &kf)) != 0) return err;
  SetKeyHooks(f, kf.get());
  k->file = std::move(kf);
  BuildReport report(E(), ReplaceExtension(f->name, ".BLD"));
  err = BuildKeyFile(f, k, &report);
  report.Close();
  return err;
}

int PackFile(FlatFcb* f) {
  if (f->read_only()) return 5;
  // The records move: another open would read other records under its
  // record numbers (and, outside a transaction, go on with the old files).
  if (OpenElsewhere(f)) return 5;
  nv::Env* env = E();
  int err = 0;
  if (f->header.deleted > 0) {
    if (!TxnJournals(f) && !(f->flags & kBusyOnDisk) && (err = WriteBusyMark(f, true)) != 0)
      return err;
    const Header old = f->header;
    const std::string t00 = ReplaceExtension(f->name, ".T00");
    const std::string m00 = ReplaceExtension(f->name, ".M00");
    nv::OpenOptions o;
    o.mode = nv::kReadWrite | nv::kDenyAll;
    o.create = true;
    o.truncate = true;
    std::unique_ptr<nv::EnvFile> td, tm;
    auto fail = [&](int e) {
      td.reset();
      tm.reset();
      env->Remove(t00);
      if (f->memo) env->Remove(m00);
      return e;
    };
    if ((err = env->Open(t00, o, &td)) != 0) return fail(drv::OsError(err));
    if (f->memo && (err = env->Open(m00, o, &tm)) != 0) return fail(drv::OsError(err));
    // The description area goes over as it is.
    std::vector<uint8_t> area(old.records_start - kHeaderSize);
    size_t got = 0;
    if ((err = f->data->Read(kHeaderSize, area.data(), area.size(), &got)) != 0)
      return fail(drv::OsError(err));
    if (got != area.size()) return fail(36);
    if ((err = WorkWrite(td.get(), kHeaderSize, area.data(), area.size())) != 0) return fail(err);
    uint32_t blocks = 0, out_blocks = 0;
    if (f->memo) {
      uint8_t mh[kMemoHeaderSize];
      Put16(mh, kMemoSignature);
      Put32(mh + 2, 0);
      if ((err = WorkWrite(tm.get(), 0, mh, sizeof mh)) != 0) return fail(err);
      if ((err = MemoBlockCount(f, &blocks)) != 0) return fail(err);
    }
    uint32_t out = 0;
    std::vector<uint8_t> raw;
    uint8_t block[kMemoBlockSize];
    for (uint32_t n = old.first_live; n != 0 && n <= old.last_live; ++n) {
      if ((err = ReadRaw(f, n, &raw)) != 0) return fail(err);
      if (raw[0] & kRecDeleted) continue;
      ++out;
      // The memo chain, block by block, into consecutive blocks.
      uint32_t link = Get32(raw.data() + 1), first = 0, guard = 0;
      if (tm) {
        uint32_t prev = 0;
        while (link != 0) {
          if (link > blocks || ++guard > blocks) return fail(36);
          if ((err = ReadMemoBlock(f, link, block)) != 0) return fail(err);
          uint32_t next = Get32(block);
          uint32_t mine = ++out_blocks;
          if (first == 0) first = mine;
          if (prev != 0) {
            uint8_t l[4];
            Put32(l, mine);
            if ((err = WorkWrite(tm.get(), MemoBlockOffset(prev), l, 4)) != 0) return fail(err);
          }
          Put32(block, 0);
          if ((err = WorkWrite(tm.get(), MemoBlockOffset(mine), block, sizeof block)) != 0)
            return fail(err);
          prev = mine;
          link = next;
        }
      }
      Put32(raw.data() + 1, first);
      uint64_t off = old.records_start + uint64_t(out - 1) * old.record_size;
      if ((err = WorkWrite(td.get(), off, raw.data(), raw.size())) != 0) return fail(err);
    }
    Header h = old;
    h.records = out;
    h.deleted = 0;
    h.free_head = 0;
    h.first_live = out ? 1 : 0;
    h.last_live = out;
    // The new data file is marked busy and packing: until its keys are built
    // it is repaired at open, and while ".M00" stands the memo file to use.
    h.status |= kHdrBusy | kHdrPacking;
    uint8_t hb[kHeaderSize];
    SealHeader(&h, f->owned(), f->owner_key, hb);
    if ((err = WorkWrite(td.get(), 0, hb, sizeof hb)) != 0) return fail(err);
    if ((err = td->Sync(false)) != 0) return fail(drv::OsError(err));
    if (tm && (err = tm->Sync(false)) != 0) return fail(drv::OsError(err));
    td.reset();
    tm.reset();
    if (TxnJournals(f)) {
      // Inside a transaction the work files are copied over the data and memo
      // files through the journal, so that ROLLBACK puts them back.
      if ((err = CopyOver(f, f->data.get(), t00)) != 0) return fail(err);
      if (f->memo && (err = CopyOver(f, f->memo.get(), m00)) != 0) return fail(err);
      env->Remove(t00);
      env->Remove(m00);
      if ((err = ReadHeader(f)) != 0) return err;
      f->header.status &= uint16_t(~(kHdrBusy | kHdrPacking));
      ResetPositions(f);
      int built = BuildAll(f);
      if (built == -1 || !f->open()) return -1;  // closed during a progress event
      err = WriteHeader(f, true);
      return built ? built : err;
    }
    // The work files take the place of the data and memo files: the data
    // file first (it says the packing is under way), then the memo file.
    // This open goes on with them, opened before they are renamed and the
    // new data file's byte lock taken, so that an open waiting for the old
    // file's lock finds it replaced and waits for the new one's.
    nv::OpenOptions reopen;
    reopen.mode = f->open_mode;
    std::unique_ptr<nv::EnvFile> nd, nm;
    if ((err = env->Open(t00, reopen, &nd)) != 0) return fail(drv::OsError(err));
    if (f->memo && (err = env->Open(m00, reopen, &nm)) != 0) return fail(drv::OsError(err));
    AcquireByteLock(nd.get());
    if (!(f->flags & kHeaderByteLocked)) {
      AcquireByteLock(f->data.get());
      f->flags |= kHeaderByteLocked;
    }
    if (OpenElsewhere(f)) {
      nd.reset();
      nm.reset();
      return fail(5);
    }
    CrashPoint("pack-rename");
    if ((err = nd->RenameTo(f->name)) != 0) return fail(drv::OsError(err));
    f->data = std::move(nd);  // the old file and its byte lock go
    CrashPoint("pack-renamed");
    if (nm) {
      if ((err = nm->RenameTo(MemoPath(f))) != 0) return drv::OsError(err);
      f->memo = std::move(nm);
    }
    if ((err = ReadHeader(f)) != 0) return err;
    f->header.status &= uint16_t(~kHdrPacking);
    f->flags |= kBusyOnDisk;
    if ((err = WriteHeader(f, true)) != 0) return err;
    ResetPositions(f);
    int built = BuildAll(f);
    if (built == -1 || !f->open()) return -1;  // closed during a progress event
    err = WriteFinalHeader(f);
    return built ? built : err;
  }
  ResetPositions(f);
  return BuildAll(f);
}

}  // namespace flat
