// BUILD of a flat key: external sort through two temporary files, then the
// tree written bottom-up.
//
// Sort: entries (record number, key value) fill the sort buffer, which
// grows while memory can be had up to kRunBytes; each full buffer is sorted
// by (key value, record number) and written as a run to the first
// temporary file (entries that fit in one buffer need none: with several
// keys, the buffers of all but the first are sorted on a second thread
// while the first key's tree is written). Merge passes then combine up to
// kFanIn runs at a time into the other file, back and forth, until at most
// kFanIn runs are left; the last merge feeds the tree writer directly.
//
// Tree: with e entries and p entries per page the leaf level has ceil(e/p)
// pages (at least one), each level above ceil(pages below / p), up to a level
// of one page. Pages are numbered from the root (page 1) down, so the leaves
// come last; each page is filled completely but the last of its level.
#include "drivers/flat/key_build.h"

#include <sys/mman.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace flat {

namespace {

constexpr size_t kFanIn = 128;       // runs merged at once
// A run grows past the sort buffer, while memory can be had, up to this
// many bytes with its sorting arrays (entry, key prefix, order): a key of a
// million records sorts in memory, without temporary files.
constexpr size_t kRunBytes = size_t(64) << 20;
constexpr size_t kRunEntriesMost = size_t(1) << 24;  // the order fits in 24 bits
constexpr size_t kIoChunk = 32768;   // writes
constexpr size_t kReadChunk = 8192;  // reads of one run

int IoError(int os_error) {
  return PageIoError(os_error);
}

// Memory for a run: nullptr when it cannot be had. A large one is asked in
// large pages where the system has them (far fewer faults to fill it).
template <typename T>
std::unique_ptr<T[]> RunMemory(size_t n) {
  std::unique_ptr<T[]> p(new (std::nothrow) T[n]);
  constexpr uintptr_t kLarge = uintptr_t(2) << 20;
  if (p && n * sizeof(T) >= 2 * kLarge) {
    const uintptr_t from = (reinterpret_cast<uintptr_t>(p.get()) + kLarge - 1) & ~(kLarge - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(p.get()) + n * sizeof(T)) & ~(kLarge - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
  }
  return p;
}

// Removes the temporary files whatever happens.
struct TempFiles {
  nv::Env* env;
  std::string names[2];
  std::unique_ptr<nv::EnvFile> files[2];
  ~TempFiles() {
    for (int i = 0; i < 2; ++i) {
      files[i].reset();
      if (!names[i].empty()) env->Remove(names[i]);
    }
  }
};

class Writer {
 public:
  Writer(nv::EnvFile* f, uint64_t offset) : f_(f), offset_(offset) { buf_.reserve(kIoChunk); }
  int Put(const uint8_t* p, size_t n) {
    buf_.insert(buf_.end(), p, p + n);
    return buf_.size() >= kIoChunk ? Flush() : 0;
  }
  int Flush() {
    if (buf_.empty()) return 0;
    int rc = f_->Write(offset_, buf_.data(), buf_.size());
    offset_ += buf_.size();
    buf_.clear();
    return rc ? IoError(rc) : 0;
  }
  uint64_t offset() const { return offset_ + buf_.size(); }

 private:
  nv::EnvFile* f_;
  uint64_t offset_;
  std::vector<uint8_t> buf_;
};

struct Run {
  uint64_t offset;
  uint64_t count;
};

// Reads one run entry by entry.
class RunReader {
 public:
  RunReader(nv::EnvFile* f, const Run& run, size_t el)
      : f_(f), pos_(run.offset), left_(run.count), el_(el) {}
  // Answers 0 and sets *e (nullptr at the end of the run).
  int Next(const uint8_t** e) {
    if (at_ == len_) {
      if (left_ == 0) {
        *e = nullptr;
        return 0;
      }
      size_t n = std::min<uint64_t>(left_, std::max<size_t>(1, kReadChunk / el_));
      buf_.resize(n * el_);
      size_t got = 0;
      int rc = f_->Read(pos_, buf_.data(), buf_.size(), &got);
      if (rc != 0) return IoError(rc);
      if (got != buf_.size()) return 5;
      pos_ += got;
      left_ -= n;
      at_ = 0;
      len_ = got;
    }
    *e = buf_.data() + at_;
    at_ += el_;
    return 0;
  }

 private:
  nv::EnvFile* f_;
  uint64_t pos_;
  uint64_t left_;
  size_t el_;
  std::vector<uint8_t> buf_;
  size_t at_ = 0, len_ = 0;
};

int CompareEntries(const uint8_t* a, const uint8_t* b, size_t kl) {
  int c = std::memcmp(a + 4, b + 4, kl);
  if (c != 0) return c;
  uint32_t ra = GetU32(a), rb = GetU32(b);
  return ra < rb ? -1 : ra > rb ? 1 : 0;
}

// K-way merge of runs through a binary heap of the runs' current entries.
class Merger {
 public:
  Merger(nv::EnvFile* f, const std::vector<Run>& runs, size_t el) : el_(el), kl_(el - 4) {
    readers_.reserve(runs.size());
    for (const Run& r : runs) readers_.emplace_back(f, r, el);
    heads_.assign(readers_.size(), nullptr);
  }
  int Start() {
    for (size_t i = 0; i < readers_.size(); ++i) {
      int rc = readers_[i].Next(&heads_[i]);
      if (rc != 0) return rc;
      if (heads_[i]) heap_.push_back(i);
    }
    std::make_heap(heap_.begin(), heap_.end(), Cmp());
    return 0;
  }
  // The next entry in order into out; *done at the end of every run.
  int Next(uint8_t* out, bool* done) {
    *done = heap_.empty();
    if (*done) return 0;
    std::pop_heap(heap_.begin(), heap_.end(), Cmp());
    size_t best = heap_.back();
    std::memcpy(out, heads_[best], el_);
    int rc = readers_[best].Next(&heads_[best]);
    if (rc != 0) return rc;
    if (heads_[best])
      std::push_heap(heap_.begin(), heap_.end(), Cmp());
    else
      heap_.pop_back();
    return 0;
  }

 private:
  struct Greater {
    Merger* m;
    bool operator()(size_t a, size_t b) const {
      return CompareEntries(m->heads_[a], m->heads_[b], m->kl_) > 0;
    }
  };
  Greater Cmp() { return {this}; }

  size_t el_, kl_;
  std::vector<RunReader> readers_;
  std::vector<const uint8_t*> heads_;
  std::vector<size_t> heap_;
};

}  // namespace

int BuildReport::Write(const std::string& text) {
  int rc = file_->Write(offset_, text.data(), text.size());
  if (rc != 0) return rc > 0 ? rc : kErrBuildReport;
  offset_ += text.size();
  return 0;
}

int BuildReport::Duplicate(const std::string& key_name, uint32_t first, uint32_t second) {
  if (!file_) {
    nv::OpenOptions o;
    o.mode = 0x42;
    o.create = true;
    o.truncate = true;
    int rc = (env_ ? env_ : nv::GetEnv())->Open(path_, o, &file_);
    if (rc != 0) {
      file_.reset();
      return rc;
    }
    offset_ = 0;
    key_started_ = false;
  }
  int rc = 0;
  if (!key_started_ || key_name != current_key_) {
    rc = Write("Duplicate record numbers for:\n" + key_name + "\n");
    current_key_ = key_name;
    key_started_ = true;
    last_written_ = 0;
  }
  char line[64];
  if (rc == 0 && first != last_written_) {
    std::snprintf(line, sizeof line, "Record number: %lu\n", static_cast<unsigned long>(first));
    rc = Write(line);
  }
  if (rc == 0) {
    std::snprintf(line, sizeof line, "Record number: %lu\n\n", static_cast<unsigned long>(second));
    rc = Write(line);
    last_written_ = second;
  }
  return rc;
}

void BuildReport::Close() {
  file_.reset();
  key_started_ = false;
}

int WriteSortedTree(KeyFile* key, uint64_t count,
                    const std::function<int(uint8_t* entry, bool* done)>& next,
                    const std::function<int(uint32_t first, uint32_t second)>& on_duplicate) {
  const KeySpec& shape = key->shape();
  const size_t el = shape.entry_length();
  const size_t kl = el - 4;
  const uint64_t pp = shape.entries_per_page();
  // A level of one-entry pages would never narrow to a root.
  if (pp < 2) return kErrKeyTooLong;
  // Pages per level, from the leaves up.
  std::vector<uint64_t> per_level;
  uint64_t n = std::max<uint64_t>(1, (count + pp - 1) / pp);
  per_level.push_back(n);
  while (n > 1) {
    n = (n + pp - 1) / pp;
    per_level.push_back(n);
  }
  const size_t levels = per_level.size();
  if (levels > 255) return kErrKeysMustBeRebuilt;
  // First page of each level (index 0 = leaves): the root is page 1.
  std::vector<uint64_t> first(levels);
  uint64_t page = 1;
  for (size_t l = levels; l-- > 0;) {
    first[l] = page;
    page += per_level[l];
  }
  const uint64_t total = page - 1;
  if (total > 0xFFFFFFFFull) return kErrKeysMustBeRebuilt;

  KeyHeader h = key->header();
  h.root = 1;
  h.entries = uint32_t(count);
  h.pages = uint32_t(total);
  h.free_head = 0;
  h.levels = uint8_t(levels);
  h.first_record = h.last_record = 0;
  h.last_page = uint32_t(first[0] + per_level[0] - 1);
  // Until the tree is complete the header says 0 levels, which no open
  // accepts: a build that stops half way leaves a key to be rebuilt.
  KeyHeader building = key->header();
  building.levels = 0;
  key->set_header(building);
  if (int rc = key->WriteHeader(); rc != 0) return rc;
  key->set_header(h);

  // Pages are numbered in the order they are written: they go to the file
  // in runs of consecutive pages.
  std::vector<uint8_t> batch;
  uint32_t batch_first = 0;
  auto flush = [&] {
    if (batch.empty()) return 0;
    int rc = key->WritePages(batch_first, batch.data(), uint32_t(batch.size() / kPageSize));
    batch.clear();
    return rc;
  };
  auto write_page = [&](uint32_t no, const uint8_t* page) {
    if (!batch.empty() && no != batch_first + batch.size() / kPageSize) {
      if (int rc = flush(); rc != 0) return rc;
    }
    if (batch.empty()) batch_first = no;
    batch.insert(batch.end(), page, page + kPageSize);
    return batch.size() >= kIoChunk * 4 ? flush() : 0;
  };
  // Highest key of every page of the level being written, for the level above.
  std::vector<uint8_t> highs;
  uint8_t buf[kPageSize];
  uint8_t e[kKeyBufferSize + 4];
  uint8_t prev_value[kKeyBufferSize];
  uint32_t prev_record = 0;
  bool have_prev = false;
  const bool unique = !shape.allows_duplicates();
  int report_rc = 0;
  bool duplicates = false;
  auto links = [&](size_t level, uint64_t i) {
    uint64_t no = first[level] + i;
    PutU32(buf + 1, i + 1 < per_level[level] ? uint32_t(no + 1) : 0);
    PutU32(buf + 5, i > 0 ? uint32_t(no - 1) : 0);
    PutU32(buf + 9, level + 1 < levels ? uint32_t(first[level + 1] + i / pp) : 0);
    return uint32_t(no);
  };
  // Leaves.
  uint64_t taken = 0;
  highs.reserve(per_level[0] * kl);
  for (uint64_t i = 0; i < per_level[0]; ++i) {
    std::memset(buf, 0, kPageSize);
    uint32_t no = links(0, i);
    int in_page = 0;
    while (in_page < int(pp) && taken < count) {
      bool done = false;
      int rc = next(e, &done);
      if (rc != 0) return rc;
      if (done) return 5;  // fewer entries than counted
      uint32_t record = GetU32(e);
      if (taken == 0) h.first_record = record;
      h.last_record = record;
      if (have_prev && unique && std::memcmp(prev_value, e + 4, kl) == 0) {
        duplicates = true;
        if (report_rc == 0 && on_duplicate) report_rc = on_duplicate(prev_record, record);
      }
      std::memcpy(prev_value, e + 4, kl);
      prev_record = record;
      have_prev = true;
      std::memcpy(buf + kPageHeaderSize + in_page * el, e, el);
      ++in_page;
      ++taken;
    }
    buf[0] = uint8_t(in_page);
    if (in_page > 0)
      highs.insert(highs.end(), buf + kPageHeaderSize + (in_page - 1) * el + 4,
                   buf + kPageHeaderSize + in_page * el);
    else
      highs.insert(highs.end(), kl, 0);
    int rc = write_page(no, buf);
    if (rc != 0) return rc;
  }
  {
    bool done = false;
    int rc = next(e, &done);
    if (rc != 0) return rc;
    if (!done) return 5;  // more entries than counted
  }
  // Upper levels: each entry is a child page and the child's highest key.
  for (size_t level = 1; level < levels; ++level) {
    std::vector<uint8_t> up_highs;
    const uint64_t children = per_level[level - 1];
    for (uint64_t i = 0; i < per_level[level]; ++i) {
      std::memset(buf, 0, kPageSize);
      uint32_t no = links(level, i);
      int in_page = 0;
      for (uint64_t c = i * pp; c < children && in_page < int(pp); ++c, ++in_page) {
        uint8_t* at = buf + kPageHeaderSize + in_page * el;
        PutU32(at, uint32_t(first[level - 1] + c));
        std::memcpy(at + 4, highs.data() + c * kl, kl);
      }
      buf[0] = uint8_t(in_page);
      up_highs.insert(up_highs.end(), buf + kPageHeaderSize + (in_page - 1) * el + 4,
                      buf + kPageHeaderSize + in_page * el);
      int rc = write_page(no, buf);
      if (rc != 0) return rc;
    }
    highs.swap(up_highs);
  }
  if (int rc = flush(); rc != 0) return rc;
  key->set_header(h);
  int rc = key->WriteHeader();
  if (rc == 0) {
    rc = key->file()->Truncate((total + 1) * kPageSize);
    if (rc != 0) rc = IoError(rc);
  }
  if (rc != 0) return rc;
  if (report_rc != 0) return report_rc;
  return duplicates ? kErrDuplicateKey : 0;
}

namespace {

// The build of one key: its sort buffer, runs and temporary files. Start()
// resets the key file and takes the buffer, Add() takes each record's entry,
// Finish() merges and writes the tree.
class KeySorter {
 public:
  KeySorter(nv::Env* env, KeyFile* key, const std::string& temp_dir, const BuildOptions& options)
      : env_(env),
        key_(key),
        shape_(key->shape()),
        el_(shape_.entry_length()),
        kl_(el_ - 4),
        temp_dir_(temp_dir),
        options_(options),
        temp_{env, {}, {}} {}

  // expected: the records the source expects to give (0: not known).
  int Start(uint64_t expected) {
    int rc = key_->Reset();
    if (rc != 0) return rc;
    for (int i = 0; i < 2; ++i) {
      rc = env_->TempName(temp_dir_, "KB", &temp_.names[i]);
      if (rc != 0) return IoError(rc);
      nv::OpenOptions o;
      o.mode = 0x12;
      rc = env_->Open(temp_.names[i], o, &temp_.files[i]);
      if (rc != 0) return IoError(rc);
    }
    // The sort buffer shrinks by 4 entries until it can be had.
    entries_ = options_.buffer_entries ? options_.buffer_entries : 0x3F00 / el_;
    int failures = options_.fail_allocations;
    for (;;) {
      if (entries_ < 4 || entries_ * el_ <= size_t(kPageSize)) return kErrNoMemory;
      if (failures > 0) {
        --failures;
      } else {
        buffer_.reset(new (std::nothrow) uint8_t[entries_ * el_]);
        if (buffer_) break;
      }
      entries_ -= 4;
    }
    out_ = std::make_unique<Writer>(temp_.files[0].get(), 0);
    // A sort buffer the caller sized stays as it is (tests of the merge).
    most_ = options_.buffer_entries
                ? entries_
                : std::max(entries_, std::min(kRunEntriesMost, kRunBytes / (el_ + 20)));
    if (expected > entries_) Grow(size_t(std::min<uint64_t>(expected, most_)));
    return 0;
  }

  int Add(uint32_t record, const uint8_t* data) {
    // A full buffer grows, or goes out as a run, only when another entry
    // comes: one just full at the end stays in memory as it is.
    if (filled_ == entries_ && !Grow(entries_ * 2)) {
      if (int rc = FlushRun(); rc != 0) return rc;
    }
    uint8_t* e = buffer_.get() + filled_ * el_;
    if (!EncodeKey(shape_, data, e + 4)) return 0;
    PutU32(e, record);
    ++count_;
    ++filled_;
    return 0;
  }

  int Finish(BuildReport* report) {
    // Entries that fit in one buffer need no temporary file.
    const bool in_memory = runs_.empty();
    int rc = 0;
    if (in_memory) {
      // Sorted ahead on another thread, unless that found no memory (which
      // the keys built before this one may have held then).
      rc = sorted_ahead_ == 0 ? 0 : SortBuffer();
      if (rc != 0) return rc;
    } else {
      rc = FlushRun();
      if (rc == 0) rc = out_->Flush();
      if (rc != 0) return rc;
    }

    // Merge passes between the two files until one pass can feed the tree.
    int cur = 0;
    while (runs_.size() > kFanIn) {
      std::vector<Run> merged;
      Writer w(temp_.files[1 - cur].get(), 0);
      for (size_t g = 0; g < runs_.size(); g += kFanIn) {
        std::vector<Run> group(runs_.begin() + g,
                               runs_.begin() + std::min(runs_.size(), g + kFanIn));
        Merger m(temp_.files[cur].get(), group, el_);
        rc = m.Start();
        Run r{w.offset(), 0};
        uint8_t e[kKeyBufferSize + 4];
        for (bool done = false; rc == 0;) {
          rc = m.Next(e, &done);
          if (rc != 0 || done) break;
          rc = w.Put(e, el_);
          ++r.count;
        }
        if (rc != 0) return rc;
        merged.push_back(r);
      }
      rc = w.Flush();
      if (rc != 0) return rc;
      runs_.swap(merged);
      cur = 1 - cur;
    }

    std::function<int(uint8_t*, bool*)> next;
    std::unique_ptr<Merger> merger;
    size_t at = 0;
    if (in_memory) {
      // The entries are taken in sorted order, all over the buffer: those a
      // little ahead are fetched meanwhile.
      constexpr size_t kAhead = 16;
      next = [&](uint8_t* e, bool* done) {
        *done = at == filled_;
        if (*done) return 0;
        if (at + kAhead < filled_) {
          const uint8_t* ahead = buffer_.get() + Place(at + kAhead) * el_;
          __builtin_prefetch(ahead);
          __builtin_prefetch(ahead + el_ - 1);
        }
        std::memcpy(e, buffer_.get() + Place(at++) * el_, el_);
        return 0;
      };
    } else {
      merger = std::make_unique<Merger>(temp_.files[cur].get(), runs_, el_);
      rc = merger->Start();
      if (rc != 0) return rc;
      next = [&](uint8_t* e, bool* done) { return merger->Next(e, done); };
    }
    const std::string key_name = options_.key_name.empty() ? shape_.name : options_.key_name;
    std::function<int(uint32_t, uint32_t)> on_dup;
    int report_error = 0;
    if (report)
      on_dup = [&](uint32_t a, uint32_t b) {
        return report_error = report->Duplicate(key_name, a, b);
      };
    rc = WriteSortedTree(key_, count_, next, on_dup);
    if (rc != 0 && rc != kErrDuplicateKey && rc != report_error) Abandon();
    return rc;
  }

  // Sorts a buffer that stayed in memory, on another thread than the one
  // that adds and writes: touches nothing but this sorter's own memory.
  void SortAhead() {
    if (runs_.empty()) sorted_ahead_ = SortBuffer();
  }
  size_t InMemory() const { return runs_.empty() ? filled_ : 0; }

  // A tree written in part must not stand: the key is left empty (OPEN then
  // finds its entries short of the records).
  void Abandon() { key_->Reset(); }

 private:
  // The buffer made larger, to `want` entries at most and most_: false when
  // it is as large as it may be or the memory cannot be had (a full buffer
  // is then written as a run).
  bool Grow(size_t want) {
    if (entries_ >= most_ || want <= entries_) return false;
    const size_t more = std::min(most_, want);
    std::unique_ptr<uint8_t[]> bigger = RunMemory<uint8_t>(more * el_);
    if (!bigger) return false;
    std::memcpy(bigger.get(), buffer_.get(), filled_ * el_);
    buffer_ = std::move(bigger);
    entries_ = more;
    return true;
  }

  // The buffer's entries ordered by (key value, record number); Place(i) is
  // then the place in the buffer of the i-th. Sorted by 5 bytes of the value
  // (the first 5 after those all values share) with a radix sort of (those
  // bytes, place) pairs (each byte a pass, passes whose byte is the same in
  // every entry skipped), then each group of pairs equal in those bytes by
  // the whole entry. Answers 8 when there is no memory for the order at all.
  int SortBuffer() {
    const size_t n = filled_;
    sorted_ = nullptr;
    auto less = [this](size_t a, size_t b) {
      return CompareEntries(buffer_.get() + a * el_, buffer_.get() + b * el_, kl_) < 0;
    };
    if (n > kRunEntriesMost || !RadixRoom(n)) {
      // No memory for the radix sort (or too many entries for its places):
      // the comparison sort alone.
      order_ = RunMemory<uint32_t>(std::max<size_t>(n, 1));
      if (!order_) return kErrNoMemory;
      for (size_t i = 0; i < n; ++i) order_[i] = uint32_t(i);
      std::sort(order_.get(), order_.get() + n, less);
      return 0;
    }
    // Leading bytes that every value shares (a common start of names,
    // numbers or dates) tell nothing: the 5 bytes after them are taken.
    size_t from = n > 0 ? kl_ : 0;
    for (size_t i = 1; i < n && from > 0; ++i) {
      const uint8_t* v = buffer_.get() + i * el_ + 4;
      const uint8_t* v0 = buffer_.get() + 4;
      size_t j = 0;
      while (j < from && v[j] == v0[j]) ++j;
      from = j;
    }
    const size_t pl = std::min<size_t>(kl_ - from, 5);
    uint64_t* keys = keys_.get();
    uint64_t* other = other_.get();
    for (size_t i = 0; i < n; ++i) {
      const uint8_t* v = buffer_.get() + i * el_ + 4 + from;
      uint64_t k = 0;
      for (size_t j = 0; j < 5; ++j) k = k << 8 | (j < pl ? v[j] : 0);
      keys[i] = k << 24 | i;
    }
    for (int shift = 24; shift < 64 && n > 0; shift += 8) {
      size_t count[257] = {};
      for (size_t i = 0; i < n; ++i) ++count[((keys[i] >> shift) & 0xFF) + 1];
      if (count[((keys[0] >> shift) & 0xFF) + 1] == n) continue;
      for (int d = 0; d < 256; ++d) count[d + 1] += count[d];
      for (size_t i = 0; i < n; ++i) other[count[(keys[i] >> shift) & 0xFF]++] = keys[i];
      std::swap(keys, other);
    }
    auto pair_less = [&less](uint64_t a, uint64_t b) { return less(a & 0xFFFFFF, b & 0xFFFFFF); };
    for (size_t a = 0; a < n;) {
      size_t b = a + 1;
      while (b < n && (keys[b] >> 24) == (keys[a] >> 24)) ++b;
      if (b - a > 1 && !std::is_sorted(keys + a, keys + b, pair_less))
        std::sort(keys + a, keys + b, pair_less);
      a = b;
    }
    sorted_ = keys;
    return 0;
  }

  size_t Place(size_t i) const { return sorted_ ? size_t(sorted_[i] & 0xFFFFFF) : order_[i]; }

  // The radix sort's two arrays for n entries, kept for the next run: false
  // when the memory cannot be had.
  bool RadixRoom(size_t n) {
    if (sort_room_ >= n) return true;
    keys_.reset();
    other_.reset();
    keys_ = RunMemory<uint64_t>(n);
    other_ = RunMemory<uint64_t>(n);
    sort_room_ = keys_ && other_ ? n : 0;
    return sort_room_ != 0;
  }

  int FlushRun() {
    if (filled_ == 0) return 0;
    if (int rc = SortBuffer(); rc != 0) return rc;
    Run r{out_->offset(), filled_};
    for (size_t i = 0; i < filled_; ++i) {
      int rc = out_->Put(buffer_.get() + Place(i) * el_, el_);
      if (rc != 0) return rc;
    }
    runs_.push_back(r);
    filled_ = 0;
    return 0;
  }

  nv::Env* env_;
  KeyFile* key_;
  const KeySpec& shape_;
  const size_t el_;
  const size_t kl_;
  std::string temp_dir_;
  BuildOptions options_;
  TempFiles temp_;
  size_t entries_ = 0;
  size_t most_ = 0;  // entries the buffer may grow to
  std::unique_ptr<uint8_t[]> buffer_;
  // The radix sort's two arrays of (prefix, place), for sort_room_ entries.
  std::unique_ptr<uint64_t[]> keys_, other_;
  size_t sort_room_ = 0;
  std::unique_ptr<Writer> out_;
  const uint64_t* sorted_ = nullptr;  // the radix sort's result, else order_
  std::unique_ptr<uint32_t[]> order_;
  std::vector<Run> runs_;
  size_t filled_ = 0;
  uint64_t count_ = 0;
  int sorted_ahead_ = -1;  // SortAhead()'s answer; -1 before it
};

// Entries below which sorting ahead is not worth a thread.
constexpr size_t kSortAheadEntries = size_t(1) << 15;

// The buffers of the keys after the first, sorted on a thread of its own
// while this one sorts and writes the first key's tree. Every write, and so
// every error answer, crash point and byte written, stays on the calling
// thread in the same order. Wait(i) waits for key i's buffer; the thread is
// joined before the build ends, however it ends.
class SortAhead {
 public:
  SortAhead(std::vector<std::unique_ptr<KeySorter>>& sorters, bool on) : ready_(sorters.size()) {
    size_t entries = 0;
    for (size_t i = 1; i < sorters.size(); ++i) entries += sorters[i]->InMemory();
    if (!on || entries < kSortAheadEntries) return;
    ready_ = 1;
    try {
      thread_ = std::thread([this, &sorters] {
        for (size_t i = 1; i < sorters.size(); ++i) {
          sorters[i]->SortAhead();
          std::lock_guard<std::mutex> lock(mu_);
          ready_ = i + 1;
          done_.notify_one();
        }
      });
    } catch (const std::system_error&) {
      ready_ = sorters.size();  // no thread: each key sorts its own buffer
    }
  }
  ~SortAhead() {
    if (thread_.joinable()) thread_.join();
  }
  void Wait(size_t i) {
    std::unique_lock<std::mutex> lock(mu_);
    done_.wait(lock, [&] { return ready_ > i; });
  }

 private:
  std::mutex mu_;
  std::condition_variable done_;
  size_t ready_;
  std::thread thread_;
};

}  // namespace

int BuildKeys(nv::Env* env, const std::vector<KeyToBuild>& keys, RecordSource& source,
              BuildReport* report, const std::string& temp_dir, std::vector<int>* results,
              const BuildOptions& options) {
  if (!env) env = nv::GetEnv();
  results->assign(keys.size(), 0);
  std::vector<std::unique_ptr<KeySorter>> sorters;
  sorters.reserve(keys.size());
  for (const KeyToBuild& k : keys) {
    BuildOptions o = options;
    if (!k.key_name.empty()) o.key_name = k.key_name;
    sorters.push_back(std::make_unique<KeySorter>(env, k.key, temp_dir, o));
  }
  // Every key is reset and ready before the records are read.
  for (size_t i = 0; i < sorters.size(); ++i) {
    if (int rc = sorters[i]->Start(source.Expected()); rc != 0) {
      results->assign(keys.size(), rc);
      for (size_t j = 0; j < i; ++j) sorters[j]->Abandon();
      return rc;
    }
  }
  // One pass over the records feeds every key.
  int rc = source.Rewind();
  while (rc == 0) {
    uint32_t record = 0;
    const uint8_t* data = nullptr;
    bool done = false;
    rc = source.Next(&record, &data, &done);
    if (rc != 0 || done) break;
    for (auto& s : sorters)
      if ((rc = s->Add(record, data)) != 0) break;
  }
  if (rc != 0) {
    // -1: the program closed the file while the build told its progress;
    // the key files are closed with it and must not be touched.
    for (size_t i = 0; i < sorters.size(); ++i) {
      if (rc != -1) sorters[i]->Abandon();
      (*results)[i] = rc;
    }
    return rc;
  }
  // The trees in key order, so that the report lists the keys in that order.
  int first = 0;
  SortAhead ahead(sorters, options.sort_ahead);
  for (size_t i = 0; i < sorters.size(); ++i) {
    ahead.Wait(i);
    (*results)[i] = sorters[i]->Finish(report);
    sorters[i].reset();  // its temporary files go at once
    if ((*results)[i] != 0 && (*results)[i] != kErrDuplicateKey && first == 0)
      first = (*results)[i];
  }
  if (first != 0) return first;
  for (int r : *results)
    if (r == kErrDuplicateKey) return kErrDuplicateKey;
  return 0;
}

int BuildKey(nv::Env* env, KeyFile* key, RecordSource& source, BuildReport* report,
             const std::string& temp_dir, const BuildOptions& options) {
  std::vector<int> results;
  BuildKeys(env, {KeyToBuild{key, std::string()}}, source, report, temp_dir, &results, options);
  return results[0];
}

int BuildKey(nv::Env* env, KeyFile* key, const KeySpec& shape, RecordSource& source,
             const std::string& bld_path, const std::string& key_name,
             const std::string& temp_dir) {
  (void)shape;  // the key file's own shape is built
  BuildReport report(env, bld_path);
  BuildOptions options;
  options.key_name = key_name;
  return BuildKey(env, key, source, &report, temp_dir, options);
}

}  // namespace flat
