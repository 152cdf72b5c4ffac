// The record operations of the dBase III driver: ADD, PUT, DELETE, the
// duplicate test, reads by key, pointer and ordinal, the sequence (SET,
// NEXT, PREVIOUS, SKIP, BOF, EOF, POSITION, RESET) and the locks of LOCK,
// HOLD and RELEASE.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "drivers/dbase3/db3_driver.h"
#include "host/runtime/env.h"

namespace db3 {

namespace {

bool Live(const Db3Fcb* f, const std::vector<uint8_t>& raw) {
  return raw[0] != '*' || f->ignore_status;
}

// The table record the record buffer makes (memos not written).
int BufferRecord(Db3Fcb* f, std::vector<uint8_t>* raw) {
  return ToTable(f, raw, f->current && !f->cur_raw.empty() ? &f->cur_raw : nullptr, false);
}

// Is `key` in unique index k for a record other than `self`?
int HasDuplicate(Db3Key* k, const std::string& key, uint32_t self, bool* dup) {
  *dup = false;
  NdxEntry e;
  bool found = false;
  if (int err = k->ndx->Seek(key, 0, true, &e, &found)) return err;
  if (found && k->ndx->Compare(e.key, key) == 0 && e.record == self) {
    if (int err = k->ndx->Seek(key, self + 1, true, &e, &found)) return err;
  }
  *dup = found && k->ndx->Compare(e.key, key) == 0 && e.record != self;
  return 0;
}

// The first entry of index k at or after the record buffer's key value.
int SeekBuffer(Db3Fcb* f, Db3Key* k, std::string* key, NdxEntry* e, bool* found) {
  std::vector<uint8_t> raw;
  if (int err = BufferRecord(f, &raw)) return err;
  if (int err = KeyOf(k, raw.data(), 0, key)) return err;
  return k->ndx->Seek(*key, 0, true, e, found);
}

// An index entry of a record beyond the table's count: in a shared open,
// a record another program has added while streaming (its count is written
// at its FLUSH or CLOSE, its index pages may reach the disk before): not
// there yet, so skipped. In an exclusive open no other program adds, and
// such an entry is a damaged index (-206).
int Visible(const Db3Fcb* f, uint32_t rec, bool* visible) {
  *visible = rec != 0 && rec <= f->hdr.records;
  return *visible || (rec != 0 && !f->exclusive) ? 0 : -206;
}

bool HasMemos(const Db3Fcb* f) {
  return !f->memo_blocks.empty();
}

// Makes record n, read as `raw`, the current record: hold, watch, memos
// and the record buffer.
int Load(Db3Fcb* f, uint32_t n, std::vector<uint8_t>& raw) {
  if (f->hold_next) {
    f->hold_next = false;
    if (!f->locked && f->held != n) {
      if (f->held) Release(f);
      const int ms = f->hold_seconds > 0 ? f->hold_seconds * 1000 : 0;
      if (LockRegion(f, f->RecordOffset(n), f->hdr.record_length, true, ms)) return 43;
      f->held = n;
      // Read again under the hold: another station may just have written it.
      if (int err = ReadRecord(f, n, &raw)) return err;
    }
  }
  if (f->watch_next) {
    f->watch_next = false;
    f->watched = n;
    f->watch_copy = raw;
  }
  const bool memos = !f->no_memo_next;
  f->no_memo_next = false;
  if (int err = FromTable(f, raw.data(), memos)) return err;
  f->current = n;
  f->cur_raw = raw;
  return 0;
}

// The sequence placed at record n (as if just read in the current order).
void SeqAt(Db3Fcb* f, uint32_t n, const std::vector<uint8_t>& raw) {
  f->seq.mode = SeqMode::kAt;
  f->seq.record = n;
  Db3Key* k = f->seq_key();
  if (k && k->ndx) KeyOf(k, raw.data(), n, &f->seq.key);
}

// The next record in the current order from the sequence position, without
// moving: *n 0 when there is none.
int FindNext(Db3Fcb* f, int dir, uint32_t* out, std::vector<uint8_t>* raw, NdxEntry* entry) {
  *out = 0;
  const bool fwd = dir > 0;
  Db3Key* k = f->seq_key();
  if (!k) {
    int64_t n;
    switch (f->seq.mode) {
      case SeqMode::kStart: n = fwd ? 1 : int64_t(f->hdr.records); break;
      case SeqMode::kBound: n = f->seq.record; break;
      case SeqMode::kAt: n = int64_t(f->seq.record) + dir; break;
      default: if (fwd) return 0; n = f->hdr.records; break;
    }
    for (; n >= 1 && n <= int64_t(f->hdr.records); n += dir) {
      if (int err = ReadRecord(f, uint32_t(n), raw)) return err;
      if (Live(f, *raw)) {
        *out = uint32_t(n);
        return 0;
      }
    }
    return 0;
  }
  if (!k->ndx) return 46;
  bool found = false;
  std::string key = f->seq.key;
  uint32_t rec = 0;
  switch (f->seq.mode) {
    case SeqMode::kStart:
      if (int err = k->ndx->First(fwd, entry, &found)) return err;
      break;
    case SeqMode::kBound:
      if (int err = k->ndx->Seek(key, fwd ? f->seq.record : f->seq.record_hi, fwd, entry, &found))
        return err;
      break;
    case SeqMode::kAt:
      if (fwd && f->seq.record == UINT32_MAX) return 0;
      if (int err = k->ndx->Seek(key, fwd ? f->seq.record + 1 : f->seq.record - 1, fwd, entry,
                                 &found))
        return err;
      if (!fwd && f->seq.record == 0) found = false;
      break;
    case SeqMode::kEnd:
      if (fwd) return 0;
      if (int err = k->ndx->First(false, entry, &found)) return err;
      break;
  }
  for (int guard = 0; found; ++guard) {
    if (guard > 1 << 24) return -206;
    rec = entry->record;
    bool visible = false;
    if (int err = Visible(f, rec, &visible)) return err;
    if (visible) {
      if (int err = ReadRecord(f, rec, raw)) return err;
      if (Live(f, *raw)) {
        *out = rec;
        return 0;
      }
    }
    // Entries of deleted records (indexes written by other programs).
    if (fwd && rec == UINT32_MAX) break;
    const std::string at = entry->key;  // Seek writes the entry it finds over *entry
    if (int err = k->ndx->Seek(at, fwd ? rec + 1 : rec - 1, fwd, entry, &found)) return err;
    if (!fwd && rec == 1) found = found && entry->record < rec;
  }
  return 0;
}

}  // namespace

int Duplicate(Db3Fcb* f, Db3Key* only, uint32_t self, intptr_t* result) {
  *result = 0;
  std::vector<uint8_t> raw;
  if (int err = BufferRecord(f, &raw)) return err;
  for (Db3Key& k : f->key_blocks) {
    if (only && &k != only) continue;
    if (!k.unique || !k.ndx) continue;
    std::string key;
    if (int err = KeyOf(&k, raw.data(), self, &key)) return err;
    bool dup = false;
    if (int err = HasDuplicate(&k, key, self, &dup)) return err;
    if (dup) {
      *result = 1;
      return 0;
    }
  }
  return 0;
}

int AddRecord(Db3Fcb* f, bool keys) {
  std::vector<uint8_t> raw;
  if (int err = ToTable(f, &raw, nullptr, false)) return err;
  const uint32_t n = f->hdr.records + 1;
  std::vector<std::string> values(f->key_blocks.size());
  if (keys) {
    for (size_t i = 0; i < f->key_blocks.size(); ++i) {
      Db3Key& k = f->key_blocks[i];
      if (!k.ndx) continue;
      if (int err = KeyOf(&k, raw.data(), n, &values[i])) return err;
      if (!k.unique) continue;
      bool dup = false;
      if (int err = HasDuplicate(&k, values[i], 0, &dup)) return err;
      if (dup) return 40;
    }
  }
  if (HasMemos(f))
    if (int err = ToTable(f, &raw, nullptr, true)) return err;
  if (int err = AppendRecord(f, n, raw.data())) return err;
  f->hdr.records = n;
  if (int err = WriteHeader(f)) return err;
  if (keys) {
    for (size_t i = 0; i < f->key_blocks.size(); ++i) {
      Db3Key& k = f->key_blocks[i];
      if (k.ndx)
        if (int err = k.ndx->Insert(values[i], n)) return err;
    }
  }
  f->current = n;
  f->cur_raw = raw;
  SeqAt(f, n, raw);
  return 0;
}

int PutRecord(Db3Fcb* f, uint32_t pointer) {
  const uint32_t n = pointer ? pointer : f->current;
  if (n == 0) return 33;
  std::vector<uint8_t> old;
  if (int err = ReadRecord(f, n, &old)) return err;
  if (!Live(f, old)) return 33;
  if (f->watched == n && f->watch_copy != old) return 89;
  const bool lock = !f->locked && f->held != n;
  if (lock && LockRegion(f, f->RecordOffset(n), f->hdr.record_length, true, 0)) return 5;
  auto unlock = [&](int err) {
    if (lock) UnlockRegion(f, f->RecordOffset(n), f->hdr.record_length);
    return err;
  };
  std::vector<uint8_t> raw;
  if (int err = ToTable(f, &raw, &old, false)) return unlock(err);
  raw[0] = old[0];
  const bool indexed = old[0] != '*';
  std::vector<std::string> before(f->key_blocks.size()), after(f->key_blocks.size());
  for (size_t i = 0; i < f->key_blocks.size() && indexed; ++i) {
    Db3Key& k = f->key_blocks[i];
    if (!k.ndx) continue;
    if (int err = KeyOf(&k, old.data(), n, &before[i])) return unlock(err);
    if (int err = KeyOf(&k, raw.data(), n, &after[i])) return unlock(err);
    if (!k.unique || before[i] == after[i]) continue;
    bool dup = false;
    if (int err = HasDuplicate(&k, after[i], n, &dup)) return unlock(err);
    if (dup) return unlock(40);
  }
  if (HasMemos(f))
    if (int err = ToTable(f, &raw, &old, true)) return unlock(err);
  if (int err = WriteRecord(f, n, raw.data())) return unlock(err);
  if (int err = WriteHeader(f)) return unlock(err);
  for (size_t i = 0; i < f->key_blocks.size() && indexed; ++i) {
    Db3Key& k = f->key_blocks[i];
    if (!k.ndx || before[i] == after[i]) continue;
    if (int err = k.ndx->Remove(before[i], n)) return unlock(err);
    if (int err = k.ndx->Insert(after[i], n)) return unlock(err);
  }
  if (f->watched == n) f->watch_copy = raw;
  f->current = n;
  f->cur_raw = raw;
  return unlock(0);
}

int DeleteRecord(Db3Fcb* f) {
  const uint32_t n = f->current;
  if (n == 0) return 33;
  std::vector<uint8_t> raw;
  if (int err = ReadRecord(f, n, &raw)) return err;
  if (raw[0] == '*') return 33;
  const bool lock = !f->locked && f->held != n;
  if (lock && LockRegion(f, f->RecordOffset(n), f->hdr.record_length, true, 0)) return 5;
  int err = 0;
  std::vector<std::string> keys(f->key_blocks.size());
  for (size_t i = 0; i < f->key_blocks.size() && !err; ++i)
    if (f->key_blocks[i].ndx) err = KeyOf(&f->key_blocks[i], raw.data(), n, &keys[i]);
  if (!err) {
    raw[0] = '*';
    err = WriteRecord(f, n, raw.data());
  }
  if (!err) err = WriteHeader(f);
  for (size_t i = 0; i < f->key_blocks.size() && !err; ++i)
    if (f->key_blocks[i].ndx) err = f->key_blocks[i].ndx->Remove(keys[i], n);
  if (lock) UnlockRegion(f, f->RecordOffset(n), f->hdr.record_length);
  if (err) return err;
  f->cur_raw = raw;
  if (!f->ignore_status) f->current = 0;
  return 0;
}

int CountLive(Db3Fcb* f, intptr_t* result) {
  if (int err = FlushAppends(f)) return err;
  const uint32_t rl = f->hdr.record_length;
  const uint32_t per = std::max<uint32_t>(1, (1u << 20) / rl);
  std::vector<uint8_t> buf;
  intptr_t live = 0;
  for (uint32_t n = 1; n <= f->hdr.records; n += per) {
    const uint32_t count = std::min(per, f->hdr.records - n + 1);
    buf.resize(size_t(count) * rl);
    size_t got = 0;
    if (f->dbf->Read(f->RecordOffset(n), buf.data(), buf.size(), &got)) return -202;
    if (got < buf.size()) return -206;
    for (uint32_t i = 0; i < count; ++i)
      if (buf[size_t(i) * rl] != '*') ++live;
  }
  *result = live;
  return 0;
}

int CountKey(Db3Fcb* f, Db3Key* k, intptr_t* result) {
  if (!k->ndx) return k->dynamic ? 0 : 46;
  intptr_t count = 0;
  int err = 0;
  if (int walk = k->ndx->Walk([&](const NdxEntry& e) {
        bool visible = false;
        err = Visible(f, e.record, &visible);
        count += visible;
        return err == 0;
      }))
    return walk;
  *result = count;
  return err;
}

int GetByKey(Db3Fcb* f, Db3Key* k) {
  if (!k->ndx) return 46;
  std::vector<uint8_t> raw;
  std::string key;
  NdxEntry e;
  bool found = false;
  if (int err = SeekBuffer(f, k, &key, &e, &found)) return err;
  while (found && k->ndx->Compare(e.key, key) == 0) {
    bool visible = false;
    if (int err = Visible(f, e.record, &visible)) return err;
    if (visible)
      if (int err = ReadRecord(f, e.record, &raw)) return err;
    if (visible && Live(f, raw)) {
      const uint32_t n = e.record;
      if (int err = Load(f, n, raw)) return err;
      SeqAt(f, n, raw);
      return 0;
    }
    const std::string at = e.key;  // Seek writes the entry it finds over e
    if (int err = k->ndx->Seek(at, e.record + 1, true, &e, &found)) return err;
  }
  return 35;
}

int GetByPointer(Db3Fcb* f, int64_t pointer) {
  if (pointer <= 0 || pointer > int64_t(f->hdr.records)) return 35;
  std::vector<uint8_t> raw;
  if (int err = ReadRecord(f, uint32_t(pointer), &raw)) return err;
  if (!Live(f, raw)) return 35;
  if (int err = Load(f, uint32_t(pointer), raw)) return err;
  SeqAt(f, uint32_t(pointer), raw);
  return 0;
}

int GetByOrdinal(Db3Fcb* f, Db3Key* k, int64_t ordinal) {
  if (!k->ndx) return 46;
  if (ordinal <= 0) return 35;
  int64_t i = 0;
  uint32_t n = 0;
  int err = 0;
  if (int walk = k->ndx->Walk([&](const NdxEntry& e) {
        bool visible = false;
        if ((err = Visible(f, e.record, &visible)) != 0) return false;
        if (!visible || ++i < ordinal) return true;
        n = e.record;
        return false;
      }))
    return walk;
  if (err) return err;
  return n ? GetByPointer(f, n) : 35;
}

int SetFile(Db3Fcb* f, int64_t pointer) {
  f->current_key = nullptr;
  f->seq = Seq{};
  if (pointer > 0) {
    f->seq.mode = SeqMode::kBound;
    f->seq.record = f->seq.record_hi = uint32_t(std::min<int64_t>(pointer, UINT32_MAX));
  }
  return 0;
}

int SetFileFromKey(Db3Fcb* f, Db3Key* k) {
  if (!k->ndx) return 46;
  std::string key;
  NdxEntry e;
  bool found = false;
  if (int err = SeekBuffer(f, k, &key, &e, &found)) return err;
  for (; found && k->ndx->Compare(e.key, key) == 0;) {
    bool visible = false;
    if (int err = Visible(f, e.record, &visible)) return err;
    if (visible) return SetFile(f, e.record);
    const std::string at = e.key;  // Seek writes the entry it finds over e
    if (int err = k->ndx->Seek(at, e.record + 1, true, &e, &found)) return err;
  }
  return 35;
}

int SetKey(Db3Fcb* f, Db3Key* k, bool from_buffer, bool has_pointer, int64_t pointer) {
  if (!k->ndx) return 46;
  f->current_key = k;
  f->seq = Seq{};
  if (!from_buffer) return 0;
  std::vector<uint8_t> raw;
  if (int err = BufferRecord(f, &raw)) return err;
  if (int err = KeyOf(k, raw.data(), 0, &f->seq.key)) return err;
  f->seq.mode = SeqMode::kBound;
  f->seq.record = has_pointer ? uint32_t(std::max<int64_t>(pointer, 0)) : 0;
  f->seq.record_hi = has_pointer ? f->seq.record : UINT32_MAX;
  return 0;
}

int SetKeyPointer(Db3Fcb* f, Db3Key* k, int64_t pointer) {
  if (!k->ndx) return 46;
  if (pointer <= 0 || pointer > int64_t(f->hdr.records)) return 35;
  std::vector<uint8_t> raw;
  if (int err = ReadRecord(f, uint32_t(pointer), &raw)) return err;
  f->current_key = k;
  f->seq = Seq{};
  if (int err = KeyOf(k, raw.data(), uint32_t(pointer), &f->seq.key)) return err;
  f->seq.mode = SeqMode::kBound;
  f->seq.record = f->seq.record_hi = uint32_t(pointer);
  return 0;
}

int Step(Db3Fcb* f, int dir) {
  uint32_t n = 0;
  std::vector<uint8_t> raw;
  NdxEntry e;
  int err = FindNext(f, dir, &n, &raw, &e);
  // A record region another program keeps locked met during the move.
  if (err == -240) return 43;
  if (err) return err;
  if (n == 0) return 33;
  if ((err = Load(f, n, raw)) != 0) return err;
  f->seq.mode = SeqMode::kAt;
  f->seq.record = n;
  if (f->seq_key()) f->seq.key = e.key;
  return 0;
}

int Skip(Db3Fcb* f, int64_t count) {
  const int dir = count < 0 ? -1 : 1;
  for (int64_t i = 0; i < (count < 0 ? -count : count); ++i)
    if (int err = Step(f, dir)) return err;
  return 0;
}

int Peek(Db3Fcb* f, int dir, intptr_t* result) {
  uint32_t n = 0;
  std::vector<uint8_t> raw;
  NdxEntry e;
  if (int err = FindNext(f, dir, &n, &raw, &e)) return err;
  *result = n == 0 ? 1 : 0;
  return 0;
}

int Position(Db3Fcb* f, std::string* text) {
  *text = std::to_string(f->current);
  return 0;
}

int Reset(Db3Fcb* f, Db3Key* k, const std::string& text, bool read) {
  const int64_t n = std::atoll(text.c_str());
  if (k && !k->ndx) return 46;
  if (read) {
    f->current_key = k;
    return GetByPointer(f, n);
  }
  if (n <= 0 || n > int64_t(f->hdr.records)) return 35;
  if (!k) return SetFile(f, n);
  return SetKeyPointer(f, k, n);
}

int LockFile(Db3Fcb* f) {
  if (f->locked) return 0;
  if (int err = LockRegion(f, 0, kWholeTable, true, 0)) return err;
  for (Db3Key& k : f->key_blocks) {
    if (!k.ndx) continue;
    if (k.ndx->file()->Lock(0, kWholeTable, !f->read_only, false)) {
      for (Db3Key& u : f->key_blocks) {
        if (&u == &k) break;
        if (u.ndx) u.ndx->file()->Unlock(0, kWholeTable);
      }
      UnlockRegion(f, 0, kWholeTable);
      f->count_locked = false;
      return -279;
    }
  }
  // The whole-table lock covers the count region: it is not let go alone.
  f->count_locked = false;
  f->locked = true;
  return 0;
}

int UnlockFile(Db3Fcb* f) {
  if (!f->locked) return 0;
  for (Db3Key& k : f->key_blocks)
    if (k.ndx) k.ndx->file()->Unlock(0, kWholeTable);
  UnlockRegion(f, 0, kWholeTable);
  f->locked = false;
  // A record held before the lock stays held.
  if (f->held && LockRegion(f, f->RecordOffset(f->held), f->hdr.record_length, true, 0))
    f->held = 0;
  return 0;
}

int Release(Db3Fcb* f) {
  if (f->held && !f->locked) UnlockRegion(f, f->RecordOffset(f->held), f->hdr.record_length);
  f->held = 0;
  return 0;
}

}  // namespace db3
