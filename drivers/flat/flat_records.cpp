// The record layer of the flat driver (ADD, APPEND, PUT, DELETE, memo
// chains) and reading in record and key order (SET, NEXT, PREVIOUS, SKIP,
// GET, POSITION, RESET, REGET). See flat_driver.h for the invariants and the
// sequence states.
#include <algorithm>
#include <cstring>

#include "drivers/flat/flat_internal.h"
#include "drivers/flat/flat_journal.h"
#include "drivers/flat/flat_ops.h"
#include "drivers/flat/flat_share.h"
#include "host/runtime/codepage.h"
#include "host/runtime/error_state.h"

namespace flat {

// ---------------------------------------------------------------------------
// Stored bytes.

uint64_t RecordOffset(const FlatFcb* f, uint32_t n) {
  return uint64_t(f->header.records_start) + uint64_t(n - 1) * f->header.record_size;
}

namespace {

constexpr size_t kBlockBytes = 64 * 1024;
constexpr size_t kAppendBlockBytes = 256 * 1024;

// Kept records stay valid while no other open can change them: the file
// is not shared with writers, or this operation holds the header lock
// (a run's or a writer's; the header is read again, and the block dropped,
// before the next one).
bool MayKeep(const FlatFcb* f) {
  if (f->flags & kHeaderByteLocked) return true;
  const uint32_t share = f->open_mode & 0x70;
  return !(f->flags & kOpenShared) && (share == 0x00 || share == 0x10 || share == 0x20);
}

// Record n in the data file's view, or nullptr (no view, or a record past
// the end of the file: read through Read, which answers it). Called only
// while records may be kept: no other open can then cut the file, and the
// length is asked of the system once after the header is read, and again
// for a record past it (this open added records since).
const uint8_t* Viewed(FlatFcb* f, uint32_t n) {
  RecordBlock& b = f->block;
  if (b.no_view) return nullptr;
  const uint64_t at = RecordOffset(f, n);
  const uint64_t end = at + f->header.record_size;
  const uint8_t* base = nullptr;
  uint64_t length = 0;
  if (!f->data->View(!b.view_checked, &base, &length)) {
    b.no_view = true;
    return nullptr;
  }
  if (end > length && b.view_checked && !f->data->View(true, &base, &length)) return nullptr;
  b.view_checked = true;
  return end <= length ? base + at : nullptr;
}

// Asks the memory for a record's bytes (its first three cache lines and
// its last) before it is read. A hint only: it never faults, whatever the
// address. Always inlined, and without a loop: the compiler takes a
// function or a bounded loop that only prefetches for one that does
// nothing, and drops it.
[[gnu::always_inline]] inline void Prefetch(const uint8_t* p, size_t rs) {
  if (p == nullptr) return;
  __builtin_prefetch(p);
  if (rs > 64) __builtin_prefetch(p + 64);
  if (rs > 128) __builtin_prefetch(p + 128);
  __builtin_prefetch(p + rs - 1);
}

// Record n as stored (prefix and data), from the data file's view or the
// kept block when it holds it. Reads that follow each other through the
// file read a block of records in their direction; others read the one
// record.
int RecordAt(FlatFcb* f, uint32_t n, const uint8_t** out) {
  if (n == 0 || n > f->header.records) return 35;
  if (!f->appends.empty()) {
    if (int err = FlushAppends(f)) return err;
  }
  RecordBlock& b = f->block;
  const size_t rs = f->header.record_size;
  const bool keep = MayKeep(f);
  if (!keep) b.Forget();
  if (!b.ahead.empty()) {
    // The walk usually reads the record read ahead next; else it is looked for.
    size_t i = b.ahead_next;
    if (i >= b.ahead.size() || b.ahead[i] != n) {
      i = size_t(std::find(b.ahead.begin(), b.ahead.end(), n) - b.ahead.begin());
    }
    if (i < b.ahead.size()) {
      b.ahead_next = i + 1;
      if (!b.ahead_viewed) {
        *out = b.ahead_bytes.data() + i * rs;
        return 0;
      }
    }
  }
  if (keep) {
    if (const uint8_t* p = Viewed(f, n)) {
      *out = p;
      return 0;
    }
  }
  if (b.count != 0 && n >= b.first && n - b.first < b.count) {
    b.last = n;
    *out = b.bytes.data() + size_t(n - b.first) * rs;
    return 0;
  }
  uint32_t first = n, count = 1;
  if (keep && b.last != 0 && (n == b.last + 1 || n + 1 == b.last)) {
    const uint32_t per = uint32_t(std::max<size_t>(1, kBlockBytes / rs));
    if (n > b.last) {
      count = std::min(per, f->header.records - n + 1);
    } else {
      first = n > per ? n - per + 1 : 1;
      count = n - first + 1;
    }
  }
  b.bytes.resize(size_t(count) * rs);
  b.Forget();
  size_t got = 0;
  int err = f->data->Read(RecordOffset(f, first), b.bytes.data(), b.bytes.size(), &got);
  if (err) return drv::OsError(err);
  // A block cut short by the end of the file keeps the whole records read.
  const uint32_t whole = uint32_t(got / rs);
  if (n - first >= whole) return 36;
  b.first = first;
  b.count = whole;
  b.last = n;
  *out = b.bytes.data() + size_t(n - first) * rs;
  return 0;
}

// Entries read ahead at most, and at first: a walk that goes on reads
// twice as many each time, one that seeks elsewhere starts again small.
constexpr uint32_t kAheadFirst = 8;
constexpr uint32_t kAheadMost = 64;

}  // namespace

int ReadAhead(FlatFcb* f, KeyFile* kf, const KeyCursor& c, int dir, uint32_t n) {
  RecordBlock& b = f->block;
  if (!MayKeep(f) || !f->appends.empty()) return 0;
  // Read ahead already: the walk reads the records in the order kept.
  if (b.ahead_next < b.ahead.size() && b.ahead[b.ahead_next] == n) return 0;
  const bool viewed = Viewed(f, n) != nullptr;
  if (!viewed && b.count != 0 && n >= b.first && n - b.first < b.count) return 0;
  if (std::find(b.ahead.begin(), b.ahead.end(), n) != b.ahead.end()) return 0;
  const bool went_on = !b.ahead.empty() && b.ahead_next == b.ahead.size();
  b.ahead_window = went_on ? std::min(kAheadMost, b.ahead_window * 2) : kAheadFirst;
  b.ahead.assign(1, n);
  b.ahead_next = 0;
  b.ahead_viewed = viewed;
  // A key page that cannot be read is the walk's to meet, if it gets there.
  if (kf->Following(c, dir, b.ahead_window - 1, &b.ahead) != 0) b.ahead.resize(1);
  const size_t rs = f->header.record_size;
  if (viewed) {
    // The records stay where they are; their memory is asked for now, all
    // together, so that the walk does not wait for each record in turn:
    // records added in another order than the key's lie scattered through
    // the file. (Asked for together rather than each some entries ahead of
    // the walk: measured, the walk then waited more.)
    for (uint32_t& r : b.ahead) {
      const uint8_t* p = r <= f->header.records ? Viewed(f, r) : nullptr;
      if (p) {
        Prefetch(p, rs);
      } else {
        r = 0;  // read alone by the walk
      }
    }
    return 0;
  }
  b.ahead_bytes.resize(b.ahead.size() * rs);
  std::vector<nv::EnvFile::Piece> pieces(b.ahead.size());
  for (size_t i = 0; i < b.ahead.size(); ++i) {
    const uint32_t r = b.ahead[i] <= f->header.records ? b.ahead[i] : 0;
    pieces[i] = {r ? RecordOffset(f, r) : 0, b.ahead_bytes.data() + i * rs, r ? rs : 0, 0};
  }
  // A read that fails is made again, alone, by the walk (and its error
  // answered there); a record cut short is never served from here.
  const int err = f->data->ReadMany(pieces.data(), pieces.size());
  for (size_t i = 0; i < b.ahead.size(); ++i) {
    if (err || pieces[i].n == 0 || pieces[i].got != rs) b.ahead[i] = 0;
  }
  return 0;
}

int RecordBytes(FlatFcb* f, uint32_t n, const uint8_t** stored) {
  return RecordAt(f, n, stored);
}

int ReadRaw(FlatFcb* f, uint32_t n, std::vector<uint8_t>* raw) {
  const uint8_t* p = nullptr;
  int err = RecordAt(f, n, &p);
  if (err) return err;
  raw->assign(p, p + f->header.record_size);
  return 0;
}

int ReadStatus(FlatFcb* f, uint32_t n, uint8_t* status, uint32_t* link) {
  const uint8_t* p = nullptr;
  int err = RecordAt(f, n, &p);
  if (err) return err;
  *status = p[0];
  if (link) *link = Get32(p + 1);
  return 0;
}

int WritePrefix(FlatFcb* f, uint32_t n, uint8_t status, uint32_t link) {
  uint8_t p[kPrefixSize];
  p[0] = status;
  Put32(p + 1, link);
  return f->Write(f->data.get(), RecordOffset(f, n), p, sizeof p);
}

void ToRuntime(const FlatFcb* f, const uint8_t* stored, uint8_t* out) {
  std::memcpy(out, stored, f->record_length);
  if (f->attributes & nv::kFcbScrambled) Scramble(out, f->record_length, f->owner_key);
  if (f->attributes & nv::kFcbOem) RecordFromOem(f->layout, *f->fd->record_type, out);
}

void ToStored(const FlatFcb* f, const uint8_t* data, uint8_t* out) {
  std::memcpy(out, data, f->record_length);
  if (f->attributes & nv::kFcbOem) RecordToOem(f->layout, *f->fd->record_type, out);
  if (f->attributes & nv::kFcbScrambled) Scramble(out, f->record_length, f->owner_key);
}

int WriteRecord(FlatFcb* f, uint32_t n, uint8_t status, uint32_t link, const uint8_t* data) {
  std::vector<uint8_t> raw(f->header.record_size);
  raw[0] = status;
  Put32(raw.data() + 1, link);
  ToStored(f, data, raw.data() + kPrefixSize);
  return f->Write(f->data.get(), RecordOffset(f, n), raw.data(), raw.size());
}

int FlushAppends(FlatFcb* f) {
  if (f->appends.empty()) return 0;
  std::vector<uint8_t> pending;
  pending.swap(f->appends);
  // Past the records the header on disk counts: killed before the header is
  // written, the file just does not count them. No busy mark is needed.
  const uint32_t unmarked = f->flags & kUnmarkedWrites;
  f->flags |= kUnmarkedWrites;
  int err =
      f->Write(f->data.get(), RecordOffset(f, f->appends_first), pending.data(), pending.size());
  f->flags = (f->flags & ~kUnmarkedWrites) | unmarked;
  if (err) f->header.records = f->appends_first - 1;
  return err;
}

int WriteHeader(FlatFcb* f, bool stamp) {
  if (f->read_only()) return 0;
  if (stamp) {
    nv::Env* env = nv::GetEnv();
    f->header.change_date = uint32_t(env->Today());
    f->header.change_time = uint32_t(env->Clock());
  }
  // The busy mark first: when the header is an operation's first write (as
  // in EMPTY), the header written must carry the mark the step put in it.
  int err = f->BeforeWrite(f->data.get(), 0, kHeaderSize);
  if (err) return err;
  uint8_t b[kHeaderSize];
  SealHeader(&f->header, f->owned(), f->owner_key, b);
  if ((err = f->Write(f->data.get(), 0, b, sizeof b)) != 0) return err;
  f->flags &= ~kHeaderDirty;
  // Inside a transaction COMMIT flushes every file it wrote.
  if ((f->flags & kFlushAfterWrite) && !TxnDefersFlush(f)) {
    err = f->data->Sync(true);
    if (err) return drv::OsError(err);
  }
  return 0;
}

int WriteBusyMark(FlatFcb* f, bool on) {
  if (f->read_only() || f->write_error) return f->write_error;
  if (on) {
    f->header.status |= kHdrBusy;
  } else {
    f->header.status &= uint16_t(~kHdrBusy);
  }
  uint8_t b[kHeaderSize];
  SealHeader(&f->header, f->owned(), f->owner_key, b);
  CrashPoint(on ? "before-mark" : "before-unmark");
  // Straight to the file: the mark is not part of the operation's writes.
  if (int err = f->data->Write(0, b, sizeof b)) {
    f->write_error = drv::OsError(err);
    return f->write_error;
  }
  CrashPoint(on ? "after-mark" : "after-unmark");
  f->flags = on ? (f->flags | kBusyOnDisk) : (f->flags & ~kBusyOnDisk);
  return 0;
}

int ClearBusyMark(FlatFcb* f) {
  if (!(f->flags & kBusyOnDisk) || (f->flags & kHeaderDirty) || f->write_error) return 0;
  // A PUT's key pages held back for streaming: the mark stays until FLUSH.
  for (const FlatKey& k : f->key_blocks)
    if (k.file && k.file->holding_back() && !TxnDefersFlush(f)) return 0;
  return WriteBusyMark(f, false);
}

// A header write that leaves the file whole (the end of ADD and DELETE, the
// held-back header at FLUSH and CLOSE) also takes the mark away.
int WriteFinalHeader(FlatFcb* f, bool flush_after_unlock) {
  // One header write alone needs no mark: the flag stands until it is made.
  f->flags |= kBusyOnDisk;
  f->header.status &= uint16_t(~kHdrBusy);
  const bool later = flush_after_unlock && (f->flags & kFlushAfterWrite) &&
                     (f->flags & kOpenShared) && (f->flags & kHeaderByteLocked) &&
                     !TxnDefersFlush(f) && WriterWaiting(f->data.get());
  if (later) f->flags &= ~kFlushAfterWrite;
  int err = WriteHeader(f, true);
  if (later) f->flags |= kFlushAfterWrite | (err ? 0u : uint32_t(kFlushAfterUnlock));
  if (!err) f->flags &= ~kBusyOnDisk;
  return err;
}

int FlushAfterUnlock(FlatFcb* f) {
  if (!(f->flags & kFlushAfterUnlock)) return 0;
  f->flags &= ~kFlushAfterUnlock;
  if (!f->data) return 0;
  const int err = f->data->Sync(true);
  return err ? drv::OsError(err) : 0;
}

int ReadHeader(FlatFcb* f) {
  uint8_t b[kHeaderSize];
  size_t got = 0;
  int err = f->data->Read(0, b, sizeof b, &got);
  if (err) return drv::OsError(err);
  if (got != sizeof b) return 36;
  Header h;
  // Another open may have written since: the kept records go, and the
  // view's length is asked again.
  f->block.Forget();
  f->block.view_checked = false;
  f->block.no_view = false;
  if ((err = UnsealHeader(b, f->owner_key, &h)) != 0) return err;
  // Counters that cannot belong to a sound file.
  if (h.records_start < kHeaderSize || h.deleted > h.records || h.last_live > h.records ||
      h.first_live > h.last_live || h.free_head > h.records || h.record_size < kPrefixSize)
    return 36;
  f->header = h;
  return 0;
}

// ---------------------------------------------------------------------------
// Keys of a record.

int EnsureKeyOpen(FlatFcb* f, FlatKey* k) {
  if (k->unbuilt) return 46;
  if (k->file) return 0;
  if (k->shape.components.empty()) return 46;
  nv::OpenOptions o;
  o.mode = f->open_mode;
  std::unique_ptr<KeyFile> kf;
  int err = KeyFile::Open(nv::GetEnv(), k->path, o, k->shape, &kf);
  if (err) return err == 2 ? 46 : err;
  SetKeyHooks(f, kf.get());
  k->file = std::move(kf);
  return 0;
}

// Keys kept by ADD, PUT and DELETE: stored, not an index, file open.
bool Maintained(const FlatKey& k) {
  return k.stored && !k.index && k.file != nullptr;
}

bool KeyValue(const FlatKey& k, const uint8_t* data, std::string* value) {
  value->assign(std::max<size_t>(k.shape.key_length(), 1), '\0');
  value->resize(k.shape.key_length());
  if (k.shape.components.empty()) return false;
  return EncodeKey(k.shape, data, reinterpret_cast<uint8_t*>(value->data()));
}

void LoadCurrentKeys(FlatFcb* f, const uint8_t* data) {
  f->current_image.assign(data, data + f->record_length);
  ++f->current_made;
  f->current_from_key = nullptr;
  f->image_missing = false;
}

bool CurrentKeyNeedsRecord(const FlatFcb* f, const FlatKey* k) {
  return f->image_missing && k->cur_made != f->current_made;
}

int CurrentKey(FlatFcb* f, FlatKey* k) {
  if (k->cur_made == f->current_made) return 0;
  if (f->image_missing) {
    // Answered from another key's entry: the record is read now, as stored
    // now, and only into the image (the record buffer stays as it was).
    std::vector<uint8_t>& raw = f->read_scratch;
    if (int err = ReadRaw(f, f->current, &raw)) return err;
    f->current_image.resize(f->record_length);
    ToRuntime(f, raw.data() + kPrefixSize, f->current_image.data());
    f->image_missing = false;
  }
  k->cur_made = f->current_made;
  k->cur_has_entry = KeyValue(*k, f->current_image.data(), &k->cur_key);
  return 0;
}

void NoteReadFields(FlatFcb* f, std::vector<uint32_t> fields) {
  f->read_fields = std::move(fields);
  for (FlatKey& k : f->key_blocks) {
    k.answers_reads = false;
    if (f->read_fields.empty() || !k.stored || k.index || k.dynamic ||
        k.shape.components.empty() ||
        !ComponentsDecodable(k.shape.components, k.shape.nocase, k.shape.oem))
      continue;
    // Every byte of every field asked for lies in some component.
    k.answers_reads = true;
    for (uint32_t n : f->read_fields) {
      const nv::FieldDesc& d = *f->fields[n - 1]->desc;
      for (uint32_t at = d.offset; at < d.offset + d.size && k.answers_reads; ++at) {
        k.answers_reads = std::any_of(
            k.shape.components.begin(), k.shape.components.end(),
            [at](const KeyComponent& c) { return at >= c.offset && at < c.offset + c.size; });
      }
      if (!k.answers_reads) break;
    }
  }
}

const uint8_t* U8(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

// ---------------------------------------------------------------------------
// Memo chains.

int ReadMemoHead(FlatFcb* f, uint32_t* free_head) {
  uint8_t b[kMemoHeaderSize];
  size_t got = 0;
  int err = f->memo->Read(0, b, sizeof b, &got);
  if (err) return drv::OsError(err);
  if (got != sizeof b || Get16(b) != kMemoSignature) return 36;
  *free_head = Get32(b + 2);
  return 0;
}

int WriteMemoHead(FlatFcb* f, uint32_t free_head) {
  uint8_t b[kMemoHeaderSize];
  Put16(b, kMemoSignature);
  Put32(b + 2, free_head);
  return f->Write(f->memo.get(), 0, b, sizeof b);
}

int MemoBlockCount(FlatFcb* f, uint32_t* count) {
  uint64_t size = 0;
  int err = f->memo->Size(&size);
  if (err) return drv::OsError(err);
  *count = size < kMemoHeaderSize ? 0 : uint32_t((size - kMemoHeaderSize) / kMemoBlockSize);
  return 0;
}

int ReadMemoBlock(FlatFcb* f, uint32_t n, uint8_t* block) {
  size_t got = 0;
  int err = f->memo->Read(MemoBlockOffset(n), block, kMemoBlockSize, &got);
  if (err) return drv::OsError(err);
  if (got != kMemoBlockSize) return 36;
  return 0;
}

int ReadMemo(FlatFcb* f, uint32_t first) {
  FlatMemo* m = f->memo_block();
  if (m == nullptr) return 0;
  char* buf = m->buffer.get();
  std::memset(buf, ' ', m->size);
  if (first == 0) return 0;  // no text: the memo file is not asked
  uint32_t blocks = 0;
  int err = MemoBlockCount(f, &blocks);
  if (err) return err;
  uint32_t pos = 0, n = first;
  uint8_t block[kMemoBlockSize];
  std::vector<uint32_t> seen;  // a memo has at most 261 blocks
  while (n != 0 && pos < m->size) {
    // A block outside the file, or one met before (a loop): a broken chain.
    if (n > blocks || std::find(seen.begin(), seen.end(), n) != seen.end()) return 36;
    seen.push_back(n);
    if ((err = ReadMemoBlock(f, n, block)) != 0) return err;
    uint32_t take = std::min<uint32_t>(kMemoTextPerBlock, m->size - pos);
    std::memcpy(buf + pos, block + 4, take);
    pos += take;
    n = Get32(block);
  }
  if (f->attributes & nv::kFcbOem) nv::OemToAnsi(buf, m->size);
  return 0;
}

// Puts a whole chain in front of the free-block chain.
int FreeMemo(FlatFcb* f, uint32_t first) {
  if (first == 0 || !f->memo) return 0;
  uint32_t head = 0, blocks = 0;
  int err = ReadMemoHead(f, &head);
  if (!err) err = MemoBlockCount(f, &blocks);
  if (err) return err;
  uint32_t n = first, guard = 0;
  uint8_t block[kMemoBlockSize];
  for (;;) {
    if (n == 0 || n > blocks || ++guard > blocks) return 36;
    if ((err = ReadMemoBlock(f, n, block)) != 0) return err;
    uint32_t next = Get32(block);
    if (next == 0) {
      uint8_t link[4];
      Put32(link, head);
      if ((err = f->Write(f->memo.get(), MemoBlockOffset(n), link, 4)) != 0) return err;
      break;
    }
    n = next;
  }
  return WriteMemoHead(f, first);
}

// True when the memo buffer holds text (WriteMemo would write a chain).
bool MemoToWrite(FlatFcb* f) {
  FlatMemo* m = f->memo_block();
  if (m == nullptr || !f->memo) return false;
  // Compared a block at a time (a memo may be 64,000 bytes, asked at every
  // APPEND).
  static const std::string blanks(4096, ' ');
  const char* p = m->buffer.get();
  for (uint32_t at = 0; at < m->size; at += uint32_t(blanks.size())) {
    const size_t n = std::min<size_t>(blanks.size(), m->size - at);
    if (std::memcmp(p + at, blanks.data(), n) != 0) return true;
  }
  return false;
}

// Writes the memo buffer as a new chain; *first is 0 for a blank memo.
int WriteMemo(FlatFcb* f, uint32_t* first) {
  *first = 0;
  FlatMemo* m = f->memo_block();
  if (m == nullptr || !f->memo) return 0;
  // Trailing blanks are found in place, a block at a time: the buffer may
  // be 64,000 bytes and most records carry no text.
  static const std::string blanks(4096, ' ');
  size_t len = m->size;
  for (size_t n = std::min(len, blanks.size());
       len > 0 && std::memcmp(m->buffer.get() + len - n, blanks.data(), n) == 0;
       n = std::min(len, blanks.size()))
    len -= n;
  while (len > 0 && m->buffer[len - 1] == ' ') --len;
  if (len == 0) return 0;
  std::string text(m->buffer.get(), len);
  if (f->attributes & nv::kFcbOem) nv::AnsiToOem(text.data(), text.size());
  uint32_t head = 0, blocks = 0;
  int err = ReadMemoHead(f, &head);
  if (!err) err = MemoBlockCount(f, &blocks);
  if (err) return err;
  const uint32_t need = uint32_t((len + kMemoTextPerBlock - 1) / kMemoTextPerBlock);
  std::vector<uint32_t> numbers;
  uint8_t block[kMemoBlockSize];
  uint32_t guard = 0;
  while (numbers.size() < need && head != 0) {
    if (head > blocks || ++guard > blocks) return 36;
    if ((err = ReadMemoBlock(f, head, block)) != 0) return err;
    numbers.push_back(head);
    head = Get32(block);
  }
  while (numbers.size() < need) numbers.push_back(++blocks);
  for (size_t i = 0; i < numbers.size(); ++i) {
    std::memset(block, ' ', sizeof block);
    Put32(block, i + 1 < numbers.size() ? numbers[i + 1] : 0);
    size_t from = i * kMemoTextPerBlock;
    std::memcpy(block + 4, text.data() + from, std::min<size_t>(kMemoTextPerBlock, len - from));
    if ((err = f->Write(f->memo.get(), MemoBlockOffset(numbers[i]), block, sizeof block)) != 0)
      return err;
  }
  if ((err = WriteMemoHead(f, head)) != 0) return err;
  *first = numbers[0];
  return 0;
}

int RebuildMemoChain(FlatFcb* f) {
  if (!f->memo) return 0;
  uint32_t blocks = 0;
  int err = MemoBlockCount(f, &blocks);
  if (err) return err;
  std::vector<bool> used(size_t(blocks) + 1, false);
  uint8_t block[kMemoBlockSize];
  for (uint32_t n = 1; n <= f->header.records; ++n) {
    uint8_t status = 0;
    uint32_t link = 0;
    if ((err = ReadStatus(f, n, &status, &link)) != 0) return err;
    if (status & kRecDeleted) continue;
    // A chain that leaves the file, loops or meets another's blocks stops
    // there: what it reached stays with the record.
    for (uint32_t b = link; b != 0 && b <= blocks && !used[b];) {
      used[b] = true;
      if ((err = ReadMemoBlock(f, b, block)) != 0) return err;
      b = Get32(block);
    }
  }
  // The free blocks linked from the lowest up, each link written only when
  // it differs.
  uint32_t head = 0;
  for (uint32_t b = blocks; b >= 1; --b) {
    if (used[b]) continue;
    if ((err = ReadMemoBlock(f, b, block)) != 0) return err;
    if (Get32(block) != head) {
      uint8_t link[4];
      Put32(link, head);
      if ((err = f->Write(f->memo.get(), MemoBlockOffset(b), link, 4)) != 0) return err;
    }
    head = b;
  }
  return WriteMemoHead(f, head);
}

// ---------------------------------------------------------------------------
// Reading one record into the record buffer.

int ReadRecord(FlatFcb* f, uint32_t n) {
  const uint32_t requests = f->flags & (kNoMemoNext | kWatchRequested | kHoldRequested);
  f->flags &= ~(kNoMemoNext | kWatchRequested);
  // Read where it lies (the view or the kept block); copied aside only for
  // a read that must wait for another station's held mark.
  const uint8_t* raw = nullptr;
  int err = RecordBytes(f, n, &raw);
  if (err) return err;
  // A read that holds waits while another open's held mark stands.
  if ((requests & kHoldRequested) && (raw[0] & kRecHeld) && !(f->flags & kIgnoreStatus)) {
    std::vector<uint8_t>& copy = f->read_scratch;
    copy.assign(raw, raw + f->header.record_size);
    if ((err = WaitHeldRecord(f, n, &copy)) != 0) return err;
    raw = copy.data();
  }
  const uint8_t status = raw[0];
  if ((status & kRecDeleted) && !(f->flags & kIgnoreStatus)) return 35;
  ToRuntime(f, raw + kPrefixSize, f->record);
  if (requests & kWatchRequested) {
    f->watched = n;
    f->watch_copy.assign(raw + kPrefixSize, raw + f->header.record_size);
  } else {
    f->watched = 0;
  }
  const uint32_t link = Get32(raw + 1);
  if (f->memo_block()) {
    if (requests & kNoMemoNext) {
      f->memo_skipped = true;
    } else {
      f->memo_skipped = false;
      if (!(status & kRecDeleted) && (err = ReadMemo(f, link)) != 0) return err;
      if (status & kRecDeleted)
        std::memset(f->memo_block()->buffer.get(), ' ', f->memo_block()->size);
    }
  }
  // The held mark first: a read that fails leaves the current record as it
  // was (its position is asked later, drivers/common/skeleton.h).
  uint8_t current_status = status;
  if ((requests & kHoldRequested) && !f->read_only()) {
    f->flags &= ~kHoldRequested;
    if ((err = WritePrefix(f, n, uint8_t(status | kRecHeld), link)) != 0) return err;
    current_status = uint8_t(status | kRecHeld);
    f->held = n;
  }
  f->current = n;
  f->current_status = current_status;
  f->current_memo = (status & kRecDeleted) ? 0 : link;
  LoadCurrentKeys(f, f->record);
  return 0;
}

int ReleaseHeld(FlatFcb* f) {
  f->flags &= ~kHoldRequested;
  if (f->held == 0) return 0;
  uint32_t n = f->held;
  f->held = 0;
  if (f->read_only() || n > f->header.records) return 0;
  uint8_t status = 0;
  uint32_t link = 0;
  int err = ReadStatus(f, n, &status, &link);
  if (err) return err;
  if (!(status & kRecHeld)) return 0;
  if (n == f->current) f->current_status &= uint8_t(~kRecHeld);
  return WritePrefix(f, n, uint8_t(status & ~kRecHeld), link);
}

// ---------------------------------------------------------------------------
// ADD, APPEND, PUT, DELETE.

int AddRecord(FlatFcb* f, bool keys) {
  if (f->read_only()) return 5;
  const size_t nk = f->key_blocks.size();
  std::vector<std::string> values(nk);
  std::vector<bool> has(nk, false);
  for (size_t i = 0; i < nk; ++i) {
    FlatKey& k = f->key_blocks[i];
    if (!Maintained(k)) continue;
    has[i] = KeyValue(k, f->record, &values[i]);
    if (keys && has[i] && !k.shape.allows_duplicates()) {
      bool found = false;
      int err = k.file->Contains(U8(values[i]), 0, &found);
      if (err) return err;
      if (found) return 40;
    }
  }
  const Header saved = f->header;
  uint32_t n = 0, link = 0;
  bool reused = false;
  if ((f->attributes & nv::kFcbReclaim) && f->header.free_head != 0) {
    uint8_t status = 0;
    int err = ReadStatus(f, f->header.free_head, &status, &link);
    if (err) return err;
    if (status & kRecDeleted) {
      n = f->header.free_head;
      reused = true;
    }
  }
  if (!reused) {
    if (f->header.records == UINT32_MAX) return 5;
    n = f->header.records + 1;
  }
  // A record appended past the end whose header is written next needs no
  // busy mark: killed in between, the file just does not count the record.
  const bool memo_text = MemoToWrite(f);
  const bool plain_append =
      !keys && !reused && !memo_text && ((f->flags & kFlushAfterWrite) || (f->flags & kOpenShared));
  if (plain_append) f->flags |= kUnmarkedWrites;
  uint32_t memo = 0;
  int err = 0;
  // Streaming into a file no one else shares: records are written in blocks.
  const bool keep_back =
      !keys && !reused && !(f->flags & (kFlushAfterWrite | kOpenShared)) && !TxnJournals(f) &&
      !memo_text &&
      (f->appends.empty() || n == f->appends_first + f->appends.size() / f->header.record_size);
  if (keep_back) {
    if (f->appends.empty()) f->appends_first = n;
    const size_t at = f->appends.size();
    f->appends.resize(at + f->header.record_size);
    f->appends[at] = kRecAdded;
    Put32(&f->appends[at + 1], 0);
    ToStored(f, f->record, &f->appends[at + kPrefixSize]);
  } else {
    err = WriteMemo(f, &memo);
    if (!err) err = WriteRecord(f, n, kRecAdded, memo, f->record);
  }
  f->flags &= ~kUnmarkedWrites;
  if (err) {
    f->header = saved;
    return err;
  }
  if (reused) {
    f->header.free_head = link;
    --f->header.deleted;
  } else {
    f->header.records = n;
  }
  if (f->header.first_live == 0 || n < f->header.first_live) f->header.first_live = n;
  if (n > f->header.last_live) f->header.last_live = n;
  int key_err = 0;
  if (keys) {
    for (size_t i = 0; i < nk && !key_err; ++i) {
      if (Maintained(f->key_blocks[i]) && has[i])
        key_err = f->key_blocks[i].file->Insert(n, U8(values[i]));
    }
  }
  if (keep_back && f->appends.size() >= kAppendBlockBytes && (err = FlushAppends(f)) != 0)
    return err;
  // Streaming holds the header back, but not on a file opened shared: the
  // other stations learn from the header where the records end, and would
  // add theirs over the ones appended here.
  if ((!keys && !(f->flags & kFlushAfterWrite) && !(f->flags & kOpenShared)) ||
      StreamHoldsKeys(f)) {
    f->flags |= kHeaderDirty;
  } else if ((err = WriteFinalHeader(f, true)) != 0) {
    return err;
  }
  f->current = n;
  f->current_status = kRecAdded;
  f->current_memo = memo;
  f->memo_skipped = false;
  f->watched = 0;
  LoadCurrentKeys(f, f->record);
  return key_err;
}

// Takes record n out of the free chain (a deleted record made live again).
int Unchain(FlatFcb* f, uint32_t n) {
  uint32_t prev = 0, cur = f->header.free_head, guard = 0;
  while (cur != 0) {
    if (++guard > f->header.records + 1) return 36;
    uint8_t status = 0;
    uint32_t link = 0;
    int err = ReadStatus(f, cur, &status, &link);
    if (err) return err;
    if (cur == n) {
      if (prev == 0) {
        f->header.free_head = link;
      } else {
        uint8_t ps = 0;
        uint32_t pl = 0;
        if ((err = ReadStatus(f, prev, &ps, &pl)) != 0) return err;
        if ((err = WritePrefix(f, prev, ps, link)) != 0) return err;
      }
      return 0;
    }
    prev = cur;
    cur = link;
  }
  return 0;
}

int PutRecord(FlatFcb* f, uint32_t pointer) {
  if (f->read_only()) return 5;
  uint32_t n = pointer ? pointer : f->current;
  if (n == 0) return 33;
  // A buffer filled from a key entry holds that key's fields only.
  if (!pointer && f->current_from_key != nullptr) return 33;
  if (pointer && n > f->header.records) return 35;
  std::vector<uint8_t> raw;
  int err = ReadRaw(f, n, &raw);
  if (err) return err == 35 ? 33 : err;
  uint8_t status = raw[0];
  const bool revive = (status & kRecDeleted) != 0;
  if (revive && !(f->flags & kIgnoreStatus)) return 33;
  // Held by another program: refused, or the mark cleared under IGNORESTATUS.
  if ((status & kRecHeld) && f->held != n) {
    if (!(f->flags & kIgnoreStatus)) return 5;
    status &= uint8_t(~kRecHeld);
  }
  if (f->watched == n && !pointer) {
    if (!std::equal(f->watch_copy.begin(), f->watch_copy.end(), raw.begin() + kPrefixSize))
      return 89;
  }
  std::vector<uint8_t> old(f->record_length);
  ToRuntime(f, raw.data() + kPrefixSize, old.data());
  const size_t nk = f->key_blocks.size();
  std::vector<std::string> olds(nk), news(nk);
  std::vector<bool> old_has(nk, false), new_has(nk, false);
  for (size_t i = 0; i < nk; ++i) {
    FlatKey& k = f->key_blocks[i];
    if (!Maintained(k)) continue;
    old_has[i] = !revive && KeyValue(k, old.data(), &olds[i]);
    new_has[i] = KeyValue(k, f->record, &news[i]);
    if (new_has[i] && !k.shape.allows_duplicates() && !(old_has[i] && olds[i] == news[i])) {
      bool found = false;
      if ((err = k.file->Contains(U8(news[i]), n, &found)) != 0) return err;
      if (found) return 40;
    }
  }
  uint32_t link = revive ? 0 : Get32(raw.data() + 1);
  const bool memo_kept = f->memo_skipped && !pointer && n == f->current;
  // The new memo goes to blocks of its own before the record points at it,
  // and the old chain is given back only after: a record never points at a
  // chain that is half rewritten.
  uint32_t old_memo = 0;
  if (f->memo_block() && !memo_kept) {
    old_memo = link;
    if ((err = WriteMemo(f, &link)) != 0) return err;
  }
  if (revive) {
    if ((err = Unchain(f, n)) != 0) return err;
    --f->header.deleted;
    status &= uint8_t(~kRecDeleted);
    if (f->header.first_live == 0 || n < f->header.first_live) f->header.first_live = n;
    if (n > f->header.last_live) f->header.last_live = n;
  }
  status |= kRecChanged;
  if ((err = WriteRecord(f, n, status, link, f->record)) != 0) return err;
  if ((err = FreeMemo(f, old_memo)) != 0) return err;
  int key_err = 0;
  for (size_t i = 0; i < nk && !key_err; ++i) {
    FlatKey& k = f->key_blocks[i];
    if (!Maintained(k)) continue;
    if (old_has[i] == new_has[i] && (!old_has[i] || olds[i] == news[i])) continue;
    if (old_has[i]) key_err = k.file->Remove(n, U8(olds[i]));
    if (!key_err && new_has[i]) key_err = k.file->Insert(n, U8(news[i]));
  }
  if (revive || (f->flags & kMaintainHeaderTime)) {
    if ((err = WriteHeader(f, true)) != 0) return err;
  }
  f->current = n;
  f->current_status = status;
  f->current_memo = link;
  f->watched = 0;
  LoadCurrentKeys(f, f->record);
  return key_err;
}

int DeleteRecord(FlatFcb* f) {
  if (f->read_only()) return 5;
  const uint32_t n = f->current;
  if (n == 0) return 33;
  std::vector<uint8_t> raw;
  int err = ReadRaw(f, n, &raw);
  if (err) return err == 35 ? 33 : err;
  uint8_t status = raw[0];
  if (status & kRecDeleted) return 33;
  if ((status & kRecHeld) && f->held != n) {
    if (!(f->flags & kIgnoreStatus)) return 5;
  }
  status &= uint8_t(~kRecHeld);
  std::vector<uint8_t> old(f->record_length);
  ToRuntime(f, raw.data() + kPrefixSize, old.data());
  if ((err = WritePrefix(f, n, uint8_t(status | kRecDeleted), f->header.free_head)) != 0)
    return err;
  if ((err = FreeMemo(f, Get32(raw.data() + 1))) != 0) return err;
  f->header.free_head = n;
  ++f->header.deleted;
  int key_err = 0;
  for (FlatKey& k : f->key_blocks) {
    if (!Maintained(k)) continue;
    std::string v;
    if (KeyValue(k, old.data(), &v) && !key_err) key_err = k.file->Remove(n, U8(v));
  }
  // The bounds move inward past deleted records.
  auto live = [&](uint32_t r, bool* is_live) {
    uint8_t s = 0;
    int e = ReadStatus(f, r, &s, nullptr);
    *is_live = !(s & kRecDeleted);
    return e;
  };
  if (n == f->header.last_live) {
    uint32_t r = n - 1;
    for (; r >= 1; --r) {
      bool is_live = false;
      if ((err = live(r, &is_live)) != 0) return err;
      if (is_live) break;
    }
    f->header.last_live = r;
  }
  if (f->header.last_live == 0) {
    f->header.first_live = 0;
  } else if (n == f->header.first_live) {
    uint32_t r = n + 1;
    for (; r <= f->header.last_live; ++r) {
      bool is_live = false;
      if ((err = live(r, &is_live)) != 0) return err;
      if (is_live) break;
    }
    f->header.first_live = r;
  }
  if (StreamHoldsKeys(f)) {
    f->flags |= kHeaderDirty;  // with the keys, at FLUSH
  } else if ((err = WriteFinalHeader(f, true)) != 0) {
    return err;
  }
  if (f->held == n) f->held = 0;
  f->current = 0;
  f->current_status = 0;
  f->watched = 0;
  return key_err;
}

int Duplicate(FlatFcb* f, FlatKey* only, intptr_t* result) {
  *result = 0;
  for (FlatKey& k : f->key_blocks) {
    if (only && &k != only) continue;
    if (!Maintained(k) || k.shape.allows_duplicates()) continue;
    std::string v;
    if (!KeyValue(k, f->record, &v)) continue;
    bool found = false;
    int err = k.file->Contains(U8(v), f->current, &found);
    if (err) return err;
    if (found) *result = 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Orders and positions.

namespace {

struct Found {
  bool found = false;
  uint32_t record = 0;
  std::string value;
  KeyCursor cursor;  // the entry's place, in a key
};

bool IsLive(FlatFcb* f, uint32_t r, int* err) {
  uint8_t s = 0;
  *err = ReadStatus(f, r, &s, nullptr);
  return *err == 0 && ((f->flags & kIgnoreStatus) || !(s & kRecDeleted));
}

// The next record in record order from the sequence, without reading it.
int FindInRecords(FlatFcb* f, const Sequence& s, int dir, Found* out) {
  const bool all = (f->flags & kIgnoreStatus) != 0;
  const uint32_t lo = all ? 1 : f->header.first_live;
  const uint32_t hi = all ? f->header.records : f->header.last_live;
  *out = Found{};
  if (lo == 0 || hi == 0 || lo > hi) return 0;
  int64_t r = 0;
  switch (s.mode) {
    case SeqMode::kStart:
      r = dir > 0 ? lo : hi;
      break;
    case SeqMode::kBound:
      r = dir > 0 ? int64_t(s.record) : int64_t(s.record_hi);
      break;
    case SeqMode::kAt:
      r = int64_t(s.record) + dir;
      break;
    case SeqMode::kEnd:
      if (dir > 0) return 0;
      r = hi;
      break;
  }
  if (dir > 0 && r < lo) r = lo;
  if (dir < 0 && r > hi) r = hi;
  for (; r >= lo && r <= hi; r += dir) {
    int err = 0;
    bool live = IsLive(f, uint32_t(r), &err);
    if (err) return err;
    if (live) {
      out->found = true;
      out->record = uint32_t(r);
      return 0;
    }
  }
  return 0;
}

int EntryAt(KeyFile* kf, const KeyCursor& c, Found* out) {
  *out = Found{};
  if (c.at_end()) return 0;
  int err = kf->Entry(c, &out->record, &out->value);
  if (err) return err;
  out->found = true;
  out->cursor = c;
  return 0;
}

// The next entry in key order from the sequence.
int FindInKey(FlatFcb*, FlatKey* k, const Sequence& s, int dir, Found* out) {
  KeyFile* kf = k->file.get();
  KeyCursor c;
  int err = 0;
  const std::string& v = s.value;
  switch (s.mode) {
    case SeqMode::kStart:
      err = dir > 0 ? kf->First(&c) : kf->Last(&c);
      if (err) return err;
      return EntryAt(kf, c, out);
    case SeqMode::kEnd:
      if (dir > 0) {
        *out = Found{};
        return 0;
      }
      if ((err = kf->Last(&c)) != 0) return err;
      return EntryAt(kf, c, out);
    case SeqMode::kBound:
    case SeqMode::kAt: {
      const bool at = s.mode == SeqMode::kAt;
      // The entry read last is still where it was read: step from there.
      if (at && kf->Current(s.cursor)) {
        c = s.cursor;
        *out = Found{};
        if ((err = kf->StepEntry(&c, dir, &out->record, &out->value)) != 0) return err;
        out->found = !c.at_end();
        out->cursor = c;
        return 0;
      }
      const uint32_t r = dir > 0 ? s.record : (at ? s.record : s.record_hi);
      if ((err = kf->Seek(U8(v), r, &c)) != 0) return err;
      Found e;
      if ((err = EntryAt(kf, c, &e)) != 0) return err;
      const bool exact = e.found && e.record == r && e.value == v;
      if (dir > 0) {
        if (at && exact) {
          if ((err = kf->Next(&c)) != 0) return err;
          return EntryAt(kf, c, out);
        }
        *out = e;
        return 0;
      }
      if (!at && exact) {
        *out = e;
        return 0;
      }
      if (c.at_end()) {
        if ((err = kf->Last(&c)) != 0) return err;
      } else if ((err = kf->Prev(&c)) != 0) {
        return err;
      }
      return EntryAt(kf, c, out);
    }
  }
  return 0;
}

int Find(FlatFcb* f, const Sequence& s, int dir, Found* out) {
  FlatKey* k = f->seq_key();
  if (k == nullptr) return FindInRecords(f, s, dir, out);
  int err = EnsureKeyOpen(f, k);
  if (err) return err;
  return FindInKey(f, k, s, dir, out);
}

void SetAt(FlatFcb* f, const Found& e) {
  f->seq.mode = SeqMode::kAt;
  f->seq.record = e.record;
  f->seq.record_hi = e.record;
  f->seq.value = e.value;
  f->seq.cursor = e.cursor;
}

// Off the end going forward; off the start going backward.
void SetPastEnd(FlatFcb* f, int dir) {
  if (dir > 0) {
    f->seq.mode = SeqMode::kEnd;
    return;
  }
  f->seq.mode = SeqMode::kBound;
  f->seq.record = 0;
  f->seq.record_hi = 0;
  FlatKey* k = f->seq_key();
  f->seq.value.assign(k ? k->shape.key_length() : 0, '\0');
}

std::string Pointer4(uint32_t n) {
  std::string s(4, '\0');
  Put32(reinterpret_cast<uint8_t*>(s.data()), n);
  return s;
}

// A walk by a key whose entries hold every field the program reads: the
// entry answers (not when the read must watch, hold or see status bytes).
bool AnswersFromKey(const FlatFcb* f, const FlatKey* k) {
  return k->answers_reads && k->file != nullptr && !k->index &&
         !(f->flags & (kWatchRequested | kHoldRequested | kIgnoreStatus));
}

// The key's fields of the entry's record into the record buffer; the memo,
// the other fields and the image are left as they were. The entry was read
// under the header lock (an operation's or a run's), so it names a record
// as a writer left it at the end of an operation.
void ReadFromEntry(FlatFcb* f, FlatKey* k, const Found& e) {
  f->flags &= ~kNoMemoNext;
  DecodeComponents(k->shape.components, U8(e.value), f->record);
  f->current = e.record;
  f->current_status = 0;
  f->current_memo = 0;
  f->memo_skipped = true;
  f->watched = 0;
  f->current_from_key = k;
  f->image_missing = true;
  ++f->current_made;
  k->cur_key = e.value;
  k->cur_has_entry = true;
  k->cur_made = f->current_made;
}

}  // namespace

int Step(FlatFcb* f, int dir, bool read) {
  // An entry of an index may name a record deleted or re-used since it was
  // built: such entries are passed over.
  for (uint32_t guard = 0;; ++guard) {
    // A read right after a seek (SET, RESET) reads its one record: only a
    // walk that goes on from the entry it read reads ahead.
    const bool goes_on = f->seq.mode == SeqMode::kAt;
    Found e;
    int err = Find(f, f->seq, dir, &e);
    if (err) return err;
    if (!e.found) {
      SetPastEnd(f, dir);
      if (read) f->flags &= ~(kNoMemoNext | kWatchRequested);
      return 33;
    }
    if (!read) {
      SetAt(f, e);
      return 0;
    }
    if (FlatKey* k = f->seq_key(); k != nullptr && AnswersFromKey(f, k)) {
      ReadFromEntry(f, k, e);
      SetAt(f, e);
      return 0;
    }
    // The program reads only some fields: the memo is left alone.
    if (!f->read_fields.empty()) f->flags |= kNoMemoNext;
    if (FlatKey* k = f->seq_key(); k != nullptr && goes_on && !e.cursor.at_end()) {
      if ((err = ReadAhead(f, k->file.get(), e.cursor, dir, e.record)) != 0) return err;
    }
    err = ReadRecord(f, e.record);
    SetAt(f, e);
    if (err == 35 && f->seq_key() != nullptr && guard <= f->header.records) continue;
    return err;
  }
}

int Skip(FlatFcb* f, int64_t count) {
  const int dir = count < 0 ? -1 : 1;
  for (int64_t i = 0; i < (count < 0 ? -count : count); ++i) {
    int err = Step(f, dir, false);
    if (err == 33) return 0;
    if (err) return err;
  }
  return 0;
}

int Peek(FlatFcb* f, int dir, intptr_t* result) {
  Found e;
  int err = Find(f, f->seq, dir, &e);
  if (err) return err;
  *result = e.found ? 0 : 1;
  return 0;
}

int RecordsOfKey(FlatFcb* f, FlatKey* k, intptr_t* result) {
  *result = 0;
  if (k->shape.components.empty()) return 0;
  int err = EnsureKeyOpen(f, k);
  if (err) return err;
  *result = intptr_t(k->file->header().entries);
  return 0;
}

int PointerOfKey(FlatFcb* f, FlatKey* k, intptr_t* result) {
  *result = 0;
  if (f->current == 0) return 0;
  int err = CurrentKey(f, k);
  if (err) return err;
  if (!k->cur_has_entry) return 0;
  err = EnsureKeyOpen(f, k);
  if (err) return err;
  KeyCursor c;
  if ((err = k->file->Seek(U8(k->cur_key), f->current, &c)) != 0) return err;
  Found e;
  if ((err = EntryAt(k->file.get(), c, &e)) != 0) return err;
  if (!e.found || e.record != f->current || e.value != k->cur_key) return 0;
  uint32_t n = 0;
  if ((err = k->file->Ordinal(c, &n)) != 0) return err;
  *result = intptr_t(n);
  return 0;
}

int GetByKey(FlatFcb* f, FlatKey* k) {
  int err = EnsureKeyOpen(f, k);
  if (err) return err;
  std::string v;
  if (!KeyValue(*k, f->record, &v)) return 35;
  KeyCursor c;
  if ((err = k->file->Seek(U8(v), 0, &c)) != 0) return err;
  Found e;
  if ((err = EntryAt(k->file.get(), c, &e)) != 0) return err;
  if (!e.found || e.value != v) return 35;
  return ReadRecord(f, e.record);
}

int GetByPointer(FlatFcb* f, int64_t pointer) {
  if (pointer <= 0 || pointer > int64_t(f->header.records)) return 35;
  return ReadRecord(f, uint32_t(pointer));
}

int GetByOrdinal(FlatFcb* f, FlatKey* k, int64_t ordinal) {
  int err = EnsureKeyOpen(f, k);
  if (err) return err;
  if (ordinal <= 0 || ordinal > int64_t(k->file->header().entries)) return 35;
  KeyCursor c;
  if ((err = k->file->SeekOrdinal(uint32_t(ordinal), &c)) != 0) return err;
  Found e;
  if ((err = EntryAt(k->file.get(), c, &e)) != 0) return err;
  if (!e.found) return 35;
  return ReadRecord(f, e.record);
}

int SetFile(FlatFcb* f, int64_t pointer, bool has_pointer) {
  f->current_key = nullptr;
  f->seq = Sequence{};
  if (has_pointer) {
    uint32_t p = pointer < 0 ? 0 : (pointer > UINT32_MAX ? UINT32_MAX : uint32_t(pointer));
    f->seq.mode = SeqMode::kBound;
    f->seq.record = f->seq.record_hi = p;
  }
  return 0;
}

int SetFileFromKey(FlatFcb* f, FlatKey* k) {
  int err = EnsureKeyOpen(f, k);
  if (err) return err;
  std::string v;
  KeyValue(*k, f->record, &v);
  KeyCursor c;
  if ((err = k->file->Seek(U8(v), 0, &c)) != 0) return err;
  Found e;
  if ((err = EntryAt(k->file.get(), c, &e)) != 0) return err;
  f->current_key = nullptr;
  f->seq = Sequence{};
  if (!e.found) {
    f->seq.mode = SeqMode::kEnd;
  } else {
    f->seq.mode = SeqMode::kBound;
    f->seq.record = f->seq.record_hi = e.record;
  }
  return 0;
}

int SetKey(FlatFcb* f, FlatKey* k) {
  int err = EnsureKeyOpen(f, k);
  if (err) return err;
  f->current_key = k;
  f->seq = Sequence{};
  return 0;
}

int SetKeyFromBuffer(FlatFcb* f, FlatKey* k, bool has_pointer, int64_t pointer) {
  int err = EnsureKeyOpen(f, k);
  if (err) return err;
  f->current_key = k;
  f->seq = Sequence{};
  f->seq.mode = SeqMode::kBound;
  KeyValue(*k, f->record, &f->seq.value);
  if (has_pointer) {
    uint32_t p = pointer <= 0 ? 1 : (pointer > UINT32_MAX ? UINT32_MAX : uint32_t(pointer));
    f->seq.record = f->seq.record_hi = p;
  } else {
    f->seq.record = 0;
    f->seq.record_hi = UINT32_MAX;
  }
  return 0;
}

int SetKeyOrdinal(FlatFcb* f, FlatKey* k, int64_t ordinal) {
  int err = EnsureKeyOpen(f, k);
  if (err) return err;
  f->current_key = k;
  f->seq = Sequence{};
  if (ordinal <= 0) return 0;
  if (ordinal > int64_t(k->file->header().entries)) {
    f->seq.mode = SeqMode::kEnd;
    return 0;
  }
  KeyCursor c;
  if ((err = k->file->SeekOrdinal(uint32_t(ordinal), &c)) != 0) return err;
  Found e;
  if ((err = EntryAt(k->file.get(), c, &e)) != 0) return err;
  if (!e.found) {
    f->seq.mode = SeqMode::kEnd;
    return 0;
  }
  f->seq.mode = SeqMode::kBound;
  f->seq.value = e.value;
  f->seq.record = f->seq.record_hi = e.record;
  return 0;
}

int Position(FlatFcb* f, FlatKey* k, std::string* text) {
  text->clear();
  if (f->current == 0) return 0;
  if (k) {
    if (int err = CurrentKey(f, k)) return err;
  }
  *text = Pointer4(f->current);
  if (k) text->append(k->cur_key.data(), k->shape.key_length());
  return 0;
}

namespace {
// Splits a position text; missing bytes count as zeros.
void SplitPosition(const std::string& text, size_t key_length, uint32_t* record,
                   std::string* value) {
  std::string t = text;
  t.resize(4 + key_length, '\0');
  *record = Get32(reinterpret_cast<const uint8_t*>(t.data()));
  *value = t.substr(4);
}
}  // namespace

int Reset(FlatFcb* f, FlatKey* k, const std::string& text) {
  if (k) {
    int err = EnsureKeyOpen(f, k);
    if (err) return err;
  }
  f->current_key = k;
  f->seq = Sequence{};
  f->seq.mode = SeqMode::kBound;
  SplitPosition(text, k ? k->shape.key_length() : 0, &f->seq.record, &f->seq.value);
  f->seq.record_hi = f->seq.record;
  return 0;
}

int Reget(FlatFcb* f, FlatKey* k, const std::string& text) {
  if (k) {
    int err = EnsureKeyOpen(f, k);
    if (err) return err;
  }
  uint32_t record = 0;
  std::string value;
  SplitPosition(text, k ? k->shape.key_length() : 0, &record, &value);
  int err = GetByPointer(f, record);
  if (err) return err;
  f->current_key = k;
  Found e;
  e.record = record;
  if (k) {
    if ((err = CurrentKey(f, k)) != 0) return err;
    e.value = k->cur_key.substr(0, k->shape.key_length());
  }
  SetAt(f, e);
  return 0;
}

}  // namespace flat
