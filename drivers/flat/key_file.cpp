// The key file tree (see key_file.h for the layout and its invariants).
#include "drivers/flat/key_file.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>

namespace flat {

int PageIoError(int os_error) {
  return os_error <= 18 ? os_error : 5;
}

void KeyHeader::Encode(uint8_t* p) const {
  std::memset(p, 0, kKeyHeaderSize);
  PutU32(p + 0, root);
  PutU32(p + 4, entries);
  PutU32(p + 8, pages);
  PutU32(p + 12, last_page);
  PutU32(p + 16, last_record);
  PutU32(p + 20, first_record);
  PutU32(p + 24, free_head);
  p[28] = attributes;
  p[29] = per_page;
  p[30] = components;
  p[31] = uint8_t(entry_length);
  p[32] = uint8_t(entry_length >> 8);
  p[33] = levels;
  p[34] = 0;
}

void KeyHeader::Decode(const uint8_t* p) {
  root = GetU32(p + 0);
  entries = GetU32(p + 4);
  pages = GetU32(p + 8);
  last_page = GetU32(p + 12);
  last_record = GetU32(p + 16);
  first_record = GetU32(p + 20);
  free_head = GetU32(p + 24);
  attributes = p[28];
  per_page = p[29];
  components = p[30];
  entry_length = uint16_t(p[31] | p[32] << 8);
  levels = p[33];
}

namespace {

constexpr size_t kCacheLimit = 16384;  // pages kept in memory at most (8 MB)
// Pages kept within one operation of a file other opens may write: the walk
// of one operation, not a copy of the file.
constexpr size_t kOperationCacheLimit = 256;
// Pages read together by a walk that misses consecutive pages.
constexpr uint32_t kReadAheadPages = 16;

// One tree page in memory. `height` is 0 for a leaf.
struct Page {
  uint32_t no = 0;
  int height = 0;
  uint8_t b[kPageSize];

  int count() const { return b[0]; }
  void set_count(int n) { b[0] = uint8_t(n); }
  uint32_t next() const { return GetU32(b + 1); }
  void set_next(uint32_t v) { PutU32(b + 1, v); }
  uint32_t prev() const { return GetU32(b + 5); }
  void set_prev(uint32_t v) { PutU32(b + 5, v); }
  uint32_t parent() const { return GetU32(b + 9); }
  void set_parent(uint32_t v) { PutU32(b + 9, v); }
};

// A page read in place, for reading only: its bytes lie in the view, the
// cache or the held-back pages, valid until the next page is read or
// written (KeyFile::PageBytes).
struct PageRef {
  uint32_t no = 0;
  const uint8_t* b = nullptr;

  int count() const { return b[0]; }
  uint32_t next() const { return GetU32(b + 1); }
  uint32_t prev() const { return GetU32(b + 5); }
  uint32_t parent() const { return GetU32(b + 9); }
};

// Tree generations are drawn from one counter for every key file of the
// process, so that a cursor made on one open (or before a file was opened
// again) is never taken for one of another.
std::atomic<uint64_t> g_generations{1};

}  // namespace

uint64_t KeyFile::NewGeneration() {
  return g_generations.fetch_add(1, std::memory_order_relaxed) + 1;
}

// The tree algorithms, over one KeyFile.
struct KeyFile::Impl {
  KeyFile* k;
  int el;  // entry length
  int kl;  // key length
  int pp;  // entries per page

  explicit Impl(KeyFile* f)
      : k(f),
        el(f->header_.entry_length),
        kl(f->header_.entry_length - 4),
        pp(f->header_.per_page) {}

  KeyHeader& h() { return k->header_; }
  uint8_t* At(Page& p, int i) { return p.b + kPageHeaderSize + i * el; }
  const uint8_t* At(const Page& p, int i) { return p.b + kPageHeaderSize + i * el; }
  const uint8_t* At(const PageRef& p, int i) { return p.b + kPageHeaderSize + i * el; }

  // Reads a page expected at `height` (0 for a leaf). Page numbers beyond
  // the file and heights beyond the tree are refused, so that a damaged
  // file cannot lead a walk in circles or out of the file.
  int Load(uint32_t no, int height, Page* p) {
    if (no == 0 || no > h().pages || height < 0 || height >= h().levels)
      return kErrKeysMustBeRebuilt;
    int rc = k->ReadPage(no, p->b);
    if (rc != 0) return rc;
    p->no = no;
    p->height = height;
    if (p->count() > pp) return kErrKeysMustBeRebuilt;
    return 0;
  }

  // The same, read in place.
  int Load(uint32_t no, int height, PageRef* p) {
    if (no == 0 || no > h().pages || height < 0 || height >= h().levels)
      return kErrKeysMustBeRebuilt;
    int rc = k->PageBytes(no, &p->b);
    if (rc != 0) return rc;
    p->no = no;
    if (p->count() > pp) return kErrKeysMustBeRebuilt;
    return 0;
  }

  // Notes the first and last entries of the key when a leaf at an end of
  // the leaf level is written.
  void NoteLeaf(const Page& p) {
    if (p.height != 0) return;
    if (p.prev() == 0) h().first_record = p.count() ? GetU32(At(p, 0)) : 0;
    if (p.next() == 0) {
      h().last_page = p.no;
      h().last_record = p.count() ? GetU32(At(p, p.count() - 1)) : 0;
    }
  }

  int Store(const Page& p) {
    int rc = k->WritePage(p.no, p.b);
    if (rc == 0) NoteLeaf(p);
    return rc;
  }

  int CompareLeaf(const uint8_t* e, const uint8_t* value, uint32_t record) {
    int c = std::memcmp(e + 4, value, kl);
    if (c != 0) return c;
    uint32_t r = GetU32(e);
    return r < record ? -1 : r > record ? 1 : 0;
  }

  template <class P>
  int LowerBound(const P& p, const uint8_t* value, uint32_t record) {
    int lo = 0, hi = p.count();
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      if (CompareLeaf(At(p, mid), value, record) < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  }

  // Child of an upper page for a value: the first entry whose value is >=
  // the value, else the last.
  template <class P>
  int ChildIndex(const P& p, const uint8_t* value) {
    int lo = 0, hi = p.count();
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      if (std::memcmp(At(p, mid) + 4, value, kl) < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo < p.count() ? lo : p.count() - 1;
  }

  template <class P>
  int Descend(const uint8_t* value, P* p) {
    int rc = Load(h().root, h().levels - 1, p);
    for (int height = h().levels - 1; rc == 0 && height > 0; --height) {
      if (p->count() == 0) return kErrKeysMustBeRebuilt;
      uint32_t child = GetU32(At(*p, ChildIndex(*p, value)));
      rc = Load(child, height - 1, p);
    }
    return rc;
  }

  // Leaf and place of (value, record): for a search the first entry >= it
  // (pos == count at the end of the last leaf); for an insertion the place
  // where it belongs, staying at the end of a leaf rather than moving to the
  // front of the next one.
  // (A search reads the pages in place, PageRef; an insertion copies them.)
  template <class P>
  int FindLeaf(const uint8_t* value, uint32_t record, bool for_insert, P* p, int* pos) {
    int rc = Descend(value, p);
    if (rc != 0) return rc;
    *pos = LowerBound(*p, value, record);
    uint32_t guard = h().pages;
    while (*pos == p->count() && p->next() != 0) {
      if (guard-- == 0) return kErrKeysMustBeRebuilt;
      P n;
      rc = Load(p->next(), 0, &n);
      if (rc != 0) return rc;
      if (n.count() == 0) return kErrKeysMustBeRebuilt;
      if (for_insert && CompareLeaf(At(n, 0), value, record) > 0) break;
      *p = n;
      *pos = LowerBound(*p, value, record);
    }
    return 0;
  }

  int IndexInParent(const Page& parent, uint32_t child) {
    for (int i = 0; i < parent.count(); ++i)
      if (GetU32(At(parent, i)) == child) return i;
    return -1;
  }

  void PutEntry(Page& p, int pos, const uint8_t* e) {
    uint8_t* at = At(p, pos);
    std::memmove(at + el, at, size_t(p.count() - pos) * el);
    std::memcpy(at, e, el);
    p.set_count(p.count() + 1);
  }

  void EraseEntry(Page& p, int pos) {
    uint8_t* at = At(p, pos);
    std::memmove(at, at + el, size_t(p.count() - pos - 1) * el);
    p.set_count(p.count() - 1);
    std::memset(At(p, p.count()), 0, el);
  }

  // The entries of the levels above that carry page `no`'s highest key are
  // replaced, level by level, as long as the changed entry is the last one.
  int UpdateUpper(uint32_t no, int height) {
    for (;;) {
      Page x;
      int rc = Load(no, height, &x);
      if (rc != 0) return rc;
      if (x.parent() == 0 || x.count() == 0) return 0;
      Page q;
      rc = Load(x.parent(), height + 1, &q);
      if (rc != 0) return rc;
      int idx = IndexInParent(q, no);
      if (idx < 0) return kErrKeysMustBeRebuilt;
      uint8_t* slot = At(q, idx) + 4;
      const uint8_t* last = At(x, x.count() - 1) + 4;
      if (std::memcmp(slot, last, kl) == 0) return 0;
      std::memcpy(slot, last, kl);
      rc = Store(q);
      if (rc != 0 || idx != q.count() - 1) return rc;
      no = q.no;
      ++height;
    }
  }

  // Sets the parent field of a child page.
  int FixParent(uint32_t child, int height, uint32_t parent) {
    Page c;
    int rc = Load(child, height, &c);
    if (rc != 0 || c.parent() == parent) return rc;
    c.set_parent(parent);
    return Store(c);
  }

  int Alloc(int height, Page* p) {
    uint32_t no;
    if (h().free_head != 0) {
      Page f;
      int rc = Load(h().free_head, height, &f);
      if (rc != 0) return rc;
      if (f.next() > h().pages) return kErrKeysMustBeRebuilt;
      no = h().free_head;
      h().free_head = f.next();
    } else {
      no = ++h().pages;
    }
    std::memset(p->b, 0, kPageSize);
    p->no = no;
    p->height = height;
    return 0;
  }

  // Inserts entry e at pos of page p (of any level). For an upper page, the
  // child named by e already has p as its parent.
  int InsertAt(Page& p, int pos, const uint8_t* e) {
    const bool upper = p.height > 0;
    const int n = p.count();
    int rc;
    if (n < pp) {
      PutEntry(p, pos, e);
      rc = Store(p);
      if (rc == 0 && pos == p.count() - 1) rc = UpdateUpper(p.no, p.height);
      return rc;
    }
    // Full page: the left sibling first (not for an entry past the last one,
    // nor, on upper levels, for an entry that would go first).
    if (p.prev() != 0 && pos != n && !(upper && pos == 0)) {
      Page left;
      rc = Load(p.prev(), p.height, &left);
      if (rc != 0) return rc;
      if (left.count() < pp) {
        if (pos == 0) {
          // The new entry falls between the two pages: it becomes the left
          // sibling's last entry.
          PutEntry(left, left.count(), e);
          rc = Store(left);
        } else {
          PutEntry(left, left.count(), At(p, 0));
          EraseEntry(p, 0);
          PutEntry(p, pos - 1, e);
          rc = Store(left);
          if (rc == 0) rc = Store(p);
          if (rc == 0 && upper)
            rc = FixParent(GetU32(At(left, left.count() - 1)), p.height - 1, left.no);
          if (rc == 0 && upper) rc = FixParent(GetU32(e), p.height - 1, p.no);
        }
        if (rc == 0) rc = UpdateUpper(left.no, left.height);
        return rc;
      }
    }
    if (p.next() != 0) {
      Page right;
      rc = Load(p.next(), p.height, &right);
      if (rc != 0) return rc;
      if (right.count() < pp && right.count() > 0) {
        if (pos == n) {
          PutEntry(right, 0, e);
          rc = Store(right);
          if (rc == 0 && upper) rc = FixParent(GetU32(e), p.height - 1, right.no);
          return rc;
        }
        PutEntry(right, 0, At(p, n - 1));
        EraseEntry(p, n - 1);
        PutEntry(p, pos, e);
        rc = Store(right);
        if (rc == 0) rc = Store(p);
        if (rc == 0 && upper) rc = FixParent(GetU32(At(right, 0)), p.height - 1, right.no);
        if (rc == 0) rc = UpdateUpper(p.no, p.height);
        return rc;
      }
    }
    return Split(p, pos, e);
  }

  int Split(Page& p, int pos, const uint8_t* e) {
    const bool upper = p.height > 0;
    const int n = p.count();
    int rc;
    if (p.parent() == 0) {
      if (p.no != h().root || h().levels == 255) return kErrKeysMustBeRebuilt;
      // The root gets a new root above it holding one entry for it.
      Page root;
      rc = Alloc(p.height + 1, &root);
      if (rc != 0) return rc;
      uint8_t entry[kKeyBufferSize + 4];
      PutU32(entry, p.no);
      std::memcpy(entry + 4, At(p, n - 1) + 4, kl);
      PutEntry(root, 0, entry);
      rc = Store(root);
      if (rc != 0) return rc;
      p.set_parent(root.no);
      h().root = root.no;
      ++h().levels;
    }
    Page fresh;
    rc = Alloc(p.height, &fresh);
    if (rc != 0) return rc;
    fresh.set_parent(p.parent());
    uint8_t up[kKeyBufferSize + 4];
    bool right = pos == n && p.next() == 0;
    if (right) {
      // Past the last entry of the level: an empty right sibling takes it, so
      // entries added in key order fill their pages completely.
      fresh.set_prev(p.no);
      p.set_next(fresh.no);
      PutEntry(fresh, 0, e);
      rc = Store(p);
      if (rc == 0) rc = Store(fresh);
      if (rc == 0 && upper) rc = FixParent(GetU32(e), p.height - 1, fresh.no);
    } else {
      // A new left sibling takes the first half of the entries.
      std::vector<uint8_t> all(size_t(n + 1) * el);
      std::memcpy(all.data(), At(p, 0), size_t(pos) * el);
      std::memcpy(all.data() + size_t(pos) * el, e, el);
      std::memcpy(all.data() + size_t(pos + 1) * el, At(p, pos), size_t(n - pos) * el);
      int half = std::max(1, n / 2 + (pos < n / 2 ? 1 : 0));
      std::memcpy(At(fresh, 0), all.data(), size_t(half) * el);
      fresh.set_count(half);
      std::memset(At(p, 0), 0, size_t(pp) * el);
      std::memcpy(At(p, 0), all.data() + size_t(half) * el, size_t(n + 1 - half) * el);
      p.set_count(n + 1 - half);
      fresh.set_prev(p.prev());
      fresh.set_next(p.no);
      if (p.prev() != 0) {
        Page left;
        rc = Load(p.prev(), p.height, &left);
        if (rc != 0) return rc;
        left.set_next(fresh.no);
        rc = Store(left);
        if (rc != 0) return rc;
      }
      p.set_prev(fresh.no);
      rc = Store(fresh);
      if (rc == 0) rc = Store(p);
      for (int i = 0; rc == 0 && upper && i < fresh.count(); ++i)
        rc = FixParent(GetU32(At(fresh, i)), p.height - 1, fresh.no);
      if (rc == 0 && upper && pos >= half) rc = FixParent(GetU32(e), p.height - 1, p.no);
    }
    if (rc != 0) return rc;
    // The parent receives the new page's entry next to the split page's.
    Page q;
    rc = Load(p.parent(), p.height + 1, &q);
    if (rc != 0) return rc;
    int idx = IndexInParent(q, p.no);
    if (idx < 0) return kErrKeysMustBeRebuilt;
    PutU32(up, fresh.no);
    std::memcpy(up + 4, At(fresh, fresh.count() - 1) + 4, kl);
    const uint32_t p_no = p.no;
    const int p_height = p.height;
    const bool p_last_changed = !right && pos == n;
    rc = InsertAt(q, right ? idx + 1 : idx, up);
    if (rc == 0 && p_last_changed) rc = UpdateUpper(p_no, p_height);
    return rc;
  }

  int RemoveAt(Page& p, int pos) {
    EraseEntry(p, pos);
    if (p.count() > 0) {
      int rc = Store(p);
      if (rc == 0 && pos == p.count()) rc = UpdateUpper(p.no, p.height);
      return rc;
    }
    // The only leaf of the tree stays, empty; so do the pages above it.
    if (p.parent() == 0 && p.no != h().root) return kErrKeysMustBeRebuilt;
    if ((p.prev() == 0 && p.next() == 0) || p.parent() == 0) return Store(p);
    int rc;
    if (p.prev() != 0) {
      Page left;
      rc = Load(p.prev(), p.height, &left);
      if (rc != 0) return rc;
      left.set_next(p.next());
      rc = Store(left);
      if (rc != 0) return rc;
    }
    if (p.next() != 0) {
      Page right;
      rc = Load(p.next(), p.height, &right);
      if (rc != 0) return rc;
      right.set_prev(p.prev());
      rc = Store(right);
      if (rc != 0) return rc;
    }
    const uint32_t parent = p.parent();
    // To the head of the free chain.
    std::memset(p.b, 0, kPageSize);
    p.set_next(h().free_head);
    rc = k->WritePage(p.no, p.b);
    if (rc != 0) return rc;
    h().free_head = p.no;
    Page q;
    rc = Load(parent, p.height + 1, &q);
    if (rc != 0) return rc;
    int idx = IndexInParent(q, p.no);
    if (idx < 0) return kErrKeysMustBeRebuilt;
    return RemoveAt(q, idx);
  }

  template <class P>
  int FirstLeaf(P* p) {
    int rc = Load(h().root, h().levels - 1, p);
    for (int height = h().levels - 1; rc == 0 && height > 0; --height) {
      if (p->count() == 0) return kErrKeysMustBeRebuilt;
      rc = Load(GetU32(At(*p, 0)), height - 1, p);
    }
    return rc;
  }

  template <class P>
  int LastLeaf(P* p) {
    int rc = Load(h().root, h().levels - 1, p);
    for (int height = h().levels - 1; rc == 0 && height > 0; --height) {
      if (p->count() == 0) return kErrKeysMustBeRebuilt;
      rc = Load(GetU32(At(*p, p->count() - 1)), height - 1, p);
    }
    return rc;
  }

  // Moves a cursor that names an entry by one in direction dir, past the
  // ends to at_end(); *p is then the leaf it names.
  int Step(KeyCursor* c, int dir, PageRef* p) {
    int rc = Load(c->page, 0, p);
    if (rc != 0) return rc;
    if (dir > 0 ? c->index + 1 < p->count() : c->index > 0) {
      c->index = dir > 0 ? c->index + 1 : std::min(c->index, p->count()) - 1;
      return 0;
    }
    uint32_t beside = dir > 0 ? p->next() : p->prev();
    for (uint32_t guard = h().pages; beside != 0; --guard) {
      if (guard == 0) return kErrKeysMustBeRebuilt;
      rc = Load(beside, 0, p);
      if (rc != 0) return rc;
      if (p->count() > 0) {
        *c = KeyCursor{p->no, dir > 0 ? 0 : p->count() - 1};
        return 0;
      }
      beside = dir > 0 ? p->next() : p->prev();
    }
    *c = KeyCursor();
    return 0;
  }

  // The entry at c of its leaf p, which becomes the finger.
  int TakeEntry(const PageRef& p, const KeyCursor& c, uint32_t* record, std::string* value) {
    if (c.index < 0 || c.index >= p.count()) return kErrKeysMustBeRebuilt;
    const uint8_t* e = At(p, c.index);
    if (record) *record = GetU32(e);
    if (value) value->assign(reinterpret_cast<const char*>(e + 4), size_t(kl));
    Finger& f = k->finger_;
    f.set = true;
    f.page = c.page;
    f.index = c.index;
    f.parent = p.parent();
    f.record = GetU32(e);
    f.generation = c.generation == k->generation_ ? k->generation_ : 0;
    f.value.assign(reinterpret_cast<const char*>(e + 4), size_t(kl));
    return 0;
  }
};

KeyFile::KeyFile(nv::Env*, std::unique_ptr<nv::EnvFile> file, const KeySpec& shape)
    : file_(std::move(file)), spec_(shape) {}

KeyFile::~KeyFile() = default;

// Pages may be cached when no other open can write the file: share modes
// compatibility (0x00), deny all (0x10) and deny write (0x20).
static bool OthersCannotWrite(uint32_t mode) {
  uint32_t share = mode & 0x70;
  return share == 0x00 || share == 0x10 || share == 0x20;
}

static KeyHeader EmptyHeader(const KeySpec& shape) {
  KeyHeader h;
  h.attributes = shape.stored_attributes();
  h.per_page = shape.entries_per_page();
  h.components = uint8_t(shape.components.size());
  h.entry_length = shape.entry_length();
  return h;
}

int KeyFile::Create(nv::Env* env, const std::string& path, const KeySpec& shape,
                    std::unique_ptr<KeyFile>* out, const nv::OpenOptions& options) {
  if (!env) env = nv::GetEnv();
  int rc = shape.Validate(kKeyBufferSize - 5);
  if (rc != 0) return rc;
  nv::OpenOptions o = options;
  o.create = true;
  o.truncate = true;
  std::unique_ptr<nv::EnvFile> f;
  rc = env->Open(path, o, &f);
  if (rc != 0) return PageIoError(rc);
  std::unique_ptr<KeyFile> k(new KeyFile(env, std::move(f), shape));
  k->cache_on_ = OthersCannotWrite(o.mode);
  rc = k->Reset();
  if (rc != 0) return rc;
  *out = std::move(k);
  return 0;
}

int KeyFile::Open(nv::Env* env, const std::string& path, const nv::OpenOptions& options,
                  const KeySpec& shape, std::unique_ptr<KeyFile>* out) {
  if (!env) env = nv::GetEnv();
  if (shape.Validate(kKeyBufferSize - 5) != 0) return kErrKeysMustBeRebuilt;
  nv::OpenOptions o = options;
  o.create = false;
  o.truncate = false;
  o.exclusive = false;
  std::unique_ptr<nv::EnvFile> f;
  int rc = env->Open(path, o, &f);
  if (rc == nv::kOsFileNotFound || rc == nv::kOsPathNotFound) return kErrKeysMustBeRebuilt;
  if (rc != 0) return rc;
  std::unique_ptr<KeyFile> k(new KeyFile(env, std::move(f), shape));
  k->cache_on_ = OthersCannotWrite(o.mode);
  rc = k->ReRead();
  if (rc != 0) return rc;
  const KeyHeader& h = k->header_;
  const uint8_t want = shape.stored_attributes();
  const uint8_t flags = kAttrDup | kAttrNoCase | kAttrRequired;
  if (h.components != shape.components.size() || h.entry_length != shape.entry_length() ||
      (h.attributes & flags) != (want & flags))
    return kErrKeysMustBeRebuilt;
  *out = std::move(k);
  return 0;
}

void KeyFile::set_cache(bool on) {
  cache_on_ = on;
  if (!on) {
    viewed_ = false;
    Forget();
  }
}

static int ReadAt(nv::EnvFile* f, uint64_t offset, uint8_t* buf, size_t n) {
  size_t got = 0;
  int rc = f->Read(offset, buf, n, &got);
  if (rc != 0) return PageIoError(rc);
  if (got != n) return kErrKeysMustBeRebuilt;
  return 0;
}

const uint8_t* KeyFile::ViewedPage(uint32_t page) {
  if (!cache_on_ || no_view_) return nullptr;
  const uint64_t at = uint64_t(page) * kPageSize;
  const uint8_t* base = nullptr;
  uint64_t length = 0;
  if (!file_->View(false, &base, &length)) {
    no_view_ = true;
    return nullptr;
  }
  viewed_ = true;
  if (at + kPageSize > length && !file_->View(true, &base, &length)) return nullptr;
  if (at + kPageSize > length) return nullptr;
  return base + at;
}

bool KeyFile::FromView(uint32_t page, uint8_t* buf) {
  const uint8_t* p = ViewedPage(page);
  if (p) std::memcpy(buf, p, kPageSize);
  return p != nullptr;
}

int KeyFile::PageBytes(uint32_t page, const uint8_t** out) {
  if (!held_pages_.empty()) {
    if (auto held = held_pages_.find(page); held != held_pages_.end()) {
      *out = held->second.data();
      return 0;
    }
  }
  if (const uint8_t* p = ViewedPage(page)) {
    *out = p;
    return 0;
  }
  if (auto it = cache_.find(page); it != cache_.end()) {
    *out = it->second.data();
    return 0;
  }
  // Read (and kept, as ReadPage keeps what it reads) into this open's own
  // page: the cache may be cleared by the next read.
  int rc = ReadPage(page, peeked_);
  *out = peeked_;
  return rc;
}

int KeyFile::ReadPage(uint32_t page, uint8_t* buf) {
  if (auto held = held_pages_.find(page); held != held_pages_.end()) {
    std::memcpy(buf, held->second.data(), kPageSize);
    return 0;
  }
  if (FromView(page, buf)) return 0;
  auto it = cache_.find(page);
  if (it != cache_.end()) {
    std::memcpy(buf, it->second.data(), kPageSize);
    return 0;
  }
  // Pages missed one after the other (a walk along the leaves of a built
  // tree, which lie in order) are read several at a time in the walk's
  // direction; any other page is read alone.
  uint32_t first = page, count = 1;
  if (page == missed_ + 1) {
    count = kReadAheadPages;
  } else if (page + 1 == missed_) {
    first = page >= kReadAheadPages ? page - kReadAheadPages + 1 : 1;
    count = page - first + 1;
  }
  missed_ = page;
  if (count == 1) {
    int rc = ReadAt(file_.get(), uint64_t(page) * kPageSize, buf, kPageSize);
    if (rc != 0) return rc;
    if (cache_.size() >= (cache_on_ ? kCacheLimit : kOperationCacheLimit)) cache_.clear();
    cache_[page].assign(buf, buf + kPageSize);
    return 0;
  }
  std::vector<uint8_t> block(size_t(count) * kPageSize);
  size_t got = 0;
  int rc = file_->Read(uint64_t(first) * kPageSize, block.data(), block.size(), &got);
  if (rc != 0) return PageIoError(rc);
  // A block cut short by the end of the file keeps its whole pages.
  const uint32_t whole = uint32_t(got / kPageSize);
  if (page - first >= whole) return kErrKeysMustBeRebuilt;
  for (uint32_t i = 0; i < whole; ++i) {
    if (cache_.size() >= (cache_on_ ? kCacheLimit : kOperationCacheLimit)) cache_.clear();
    cache_[first + i].assign(block.begin() + ptrdiff_t(i) * kPageSize,
                             block.begin() + ptrdiff_t(i + 1) * kPageSize);
  }
  std::memcpy(buf, block.data() + size_t(page - first) * kPageSize, kPageSize);
  return 0;
}

int KeyFile::WritePage(uint32_t page, const uint8_t* buf) {
  if (sticky_error_ != 0) return sticky_error_;
  generation_ = NewGeneration();
  if (hold_back_) {
    held_pages_[page].assign(buf, buf + kPageSize);
    return 0;
  }
  const uint64_t offset = uint64_t(page) * kPageSize;
  // The hook's own error (journalling) is answered as it is.
  int rc = write_hook_ ? write_hook_(offset, kPageSize) : 0;
  if (rc == 0) {
    rc = file_->Write(offset, buf, kPageSize);
    if (rc != 0) rc = PageIoError(rc);
  }
  if (rc != 0) {
    sticky_error_ = rc;
    cache_.clear();
    return rc;
  }
  if (viewed_) return 0;  // read back from the view
  if (cache_.size() >= (cache_on_ ? kCacheLimit : kOperationCacheLimit)) cache_.clear();
  cache_[page].assign(buf, buf + kPageSize);
  return 0;
}

int KeyFile::WritePages(uint32_t first, const uint8_t* pages, uint32_t count) {
  if (sticky_error_ != 0) return sticky_error_;
  if (hold_back_) {
    for (uint32_t i = 0; i < count; ++i)
      if (int rc = WritePage(first + i, pages + size_t(i) * kPageSize); rc != 0) return rc;
    return 0;
  }
  generation_ = NewGeneration();
  const uint64_t offset = uint64_t(first) * kPageSize;
  const size_t n = size_t(count) * kPageSize;
  int rc = write_hook_ ? write_hook_(offset, n) : 0;
  if (rc == 0) {
    rc = file_->Write(offset, pages, n);
    if (rc != 0) rc = PageIoError(rc);
  }
  if (rc != 0) {
    sticky_error_ = rc;
    cache_.clear();
    return rc;
  }
  // Pages written in bulk (BUILD) are read back from the file when needed.
  if (!cache_.empty()) cache_.clear();
  return 0;
}

int KeyFile::WriteHeader() {
  if (sticky_error_ != 0) return sticky_error_;
  // A stale header is the file's, not this open's: nothing to write.
  if (stale_) return 0;
  if (hold_back_) {
    held_header_ = true;
    return 0;
  }
  uint8_t b[kKeyHeaderSize];
  header_.Encode(b);
  int rc = write_hook_ ? write_hook_(0, kKeyHeaderSize) : 0;
  if (rc == 0) {
    rc = file_->Write(0, b, kKeyHeaderSize);
    if (rc != 0) rc = PageIoError(rc);
  }
  if (rc != 0) sticky_error_ = rc;
  on_disk_valid_ = rc == 0;
  if (rc == 0) std::memcpy(on_disk_, b, sizeof b);
  return rc;
}

int KeyFile::ReRead() {
  Forget();
  return ReadHeaderAt(true);
}

void KeyFile::MarkStale() {
  Forget();
  // Held-back writes are newer than the file: the header stays this open's.
  if (held_header_ || !held_pages_.empty()) return;
  stale_ = true;
}

KeyFile::Ranges KeyFile::HeldBackRanges() const {
  Ranges ranges;
  if (held_header_) ranges.emplace_back(0, kKeyHeaderSize);
  for (const auto& [page, bytes] : held_pages_)
    ranges.emplace_back(uint64_t(page) * kPageSize, kPageSize);
  return ranges;
}

int KeyFile::WriteHeldBack() {
  if (!held_header_ && held_pages_.empty()) return 0;
  if (sticky_error_ != 0) return sticky_error_;
  int rc = batch_hook_ ? batch_hook_(HeldBackRanges()) : 0;
  // Pages that follow each other on disk go in one write (a split puts its
  // new page at the end of the file, so a batch of inserts makes such runs).
  std::vector<uint8_t> run;
  for (auto it = held_pages_.begin(); rc == 0 && it != held_pages_.end();) {
    const uint32_t first = it->first;
    run.clear();
    for (uint32_t next = first;
         it != held_pages_.end() && it->first == next && run.size() < 64 * kPageSize;
         ++it, ++next) {
      run.insert(run.end(), it->second.begin(), it->second.end());
      // The copy read before the page was changed must not come back.
      cache_.erase(it->first);
    }
    rc = file_->Write(uint64_t(first) * kPageSize, run.data(), run.size());
    if (rc != 0) rc = PageIoError(rc);
  }
  if (rc == 0 && held_header_) {
    uint8_t b[kKeyHeaderSize];
    header_.Encode(b);
    rc = file_->Write(0, b, kKeyHeaderSize);
    if (rc != 0) rc = PageIoError(rc);
    // What the file now holds: a FLUSH right after writes nothing more.
    on_disk_valid_ = rc == 0;
    if (rc == 0) std::memcpy(on_disk_, b, sizeof b);
  }
  held_pages_.clear();
  held_header_ = false;
  if (rc != 0) {
    sticky_error_ = rc;
    cache_.clear();
  }
  return rc;
}

void KeyFile::DropPages() {
  Forget();
}

int KeyFile::Refresh() {
  if (!stale_) return 0;
  // The pages were dropped when the header was marked stale. The file's
  // size was checked against the header at open; a page beyond the end of
  // the file still answers 46 when it is read.
  return ReadHeaderAt(false);
}

int KeyFile::ReadHeaderAt(bool check_size) {
  uint8_t b[kKeyHeaderSize];
  int rc = ReadAt(file_.get(), 0, b, kKeyHeaderSize);
  if (rc != 0) return rc;
  KeyHeader h;
  h.Decode(b);
  std::memcpy(on_disk_, b, sizeof b);
  on_disk_valid_ = true;
  uint64_t size = UINT64_MAX;
  if (check_size) {
    rc = file_->Size(&size);
    if (rc != 0) return PageIoError(rc);
  }
  // A header that cannot describe a tree of this file is not used.
  if (h.entry_length < 5 || h.entry_length > kKeyBufferSize || h.per_page != 499 / h.entry_length ||
      h.levels == 0 || h.root == 0 || h.root > h.pages || h.last_page == 0 ||
      h.last_page > h.pages || h.free_head > h.pages || (uint64_t(h.pages) + 1) * kPageSize > size)
    return kErrKeysMustBeRebuilt;
  header_ = h;
  stale_ = false;
  return 0;
}

int KeyFile::Flush(bool sync) {
  // Held back, the header is among the held-back writes when it changed.
  // Otherwise it is written when it differs from the file's as last read
  // or written (a flush after APPENDs alone writes nothing here).
  uint8_t now[kKeyHeaderSize];
  header_.Encode(now);
  const bool same = on_disk_valid_ && std::memcmp(now, on_disk_, sizeof now) == 0;
  int rc = hold_back_ ? WriteHeldBack() : same ? 0 : WriteHeader();
  if (rc == 0 && sync) {
    rc = file_->Sync(false);
    if (rc != 0) rc = PageIoError(rc);
  }
  return rc;
}

int KeyFile::Reset() {
  // What is held back goes first (and is announced), then the file is cut.
  if (int rc = EndHoldBack(); rc != 0) return rc;
  if (sticky_error_ != 0) return sticky_error_;
  header_ = EmptyHeader(spec_);
  stale_ = false;
  finger_.set = false;
  cache_.clear();
  uint8_t page[kPageSize] = {};
  int rc = WriteHeader();
  if (rc == 0) rc = WritePage(1, page);
  if (rc == 0) {
    // Page 0 beyond the header is zero.
    uint8_t zeros[kPageSize - kKeyHeaderSize] = {};
    rc = write_hook_ ? write_hook_(kKeyHeaderSize, sizeof zeros) : 0;
    if (rc == 0) {
      rc = file_->Write(kKeyHeaderSize, zeros, sizeof zeros);
      if (rc == 0) rc = file_->Truncate(2 * kPageSize);
      if (rc != 0) rc = PageIoError(rc);
    }
    if (rc != 0) sticky_error_ = rc;
  }
  return rc;
}

int KeyFile::Insert(uint32_t record, const uint8_t* value) {
  if (sticky_error_ != 0) return sticky_error_;
  if (int rc = Fresh(); rc != 0) return rc;
  Impl t(this);
  uint8_t e[kKeyBufferSize + 4];
  PutU32(e, record);
  std::memcpy(e + 4, value, t.kl);
  Page p;
  int pos;
  int rc = t.FindLeaf(value, record, true, &p, &pos);
  if (rc != 0) return rc;
  rc = t.InsertAt(p, pos, e);
  if (rc != 0) return rc;
  ++header_.entries;
  return WriteHeader();
}

int KeyFile::Remove(uint32_t record, const uint8_t* value, bool* removed) {
  if (removed) *removed = false;
  if (sticky_error_ != 0) return sticky_error_;
  if (int rc = Fresh(); rc != 0) return rc;
  Impl t(this);
  Page p;
  int pos;
  int rc = t.FindLeaf(value, record, false, &p, &pos);
  if (rc != 0) return rc;
  if (pos >= p.count() || t.CompareLeaf(t.At(p, pos), value, record) != 0) return 0;
  rc = t.RemoveAt(p, pos);
  if (rc != 0) return rc;
  if (header_.entries > 0) --header_.entries;
  if (removed) *removed = true;
  return WriteHeader();
}

int KeyFile::Contains(const uint8_t* value, uint32_t except_record, bool* found) {
  *found = false;
  KeyCursor c;
  int rc = Seek(value, 0, &c);  // reads a stale header first
  if (rc != 0) return rc;
  Impl t(this);
  uint64_t guard = uint64_t(header_.pages) * header_.per_page + 1;
  while (rc == 0 && !c.at_end()) {
    if (guard-- == 0) return kErrKeysMustBeRebuilt;
    PageRef p;
    rc = t.Load(c.page, 0, &p);
    if (rc != 0) return rc;
    const uint8_t* e = t.At(p, c.index);
    if (std::memcmp(e + 4, value, t.kl) != 0) return 0;
    if (GetU32(e) != except_record || except_record == 0) {
      *found = true;
      return 0;
    }
    rc = Next(&c);
  }
  return rc;
}

int KeyFile::FirstAt(KeyCursor* c) {
  Impl t(this);
  PageRef p;
  *c = KeyCursor();
  int rc = t.FirstLeaf(&p);
  if (rc == 0 && p.count() > 0) *c = KeyCursor{p.no, 0};
  return rc;
}

int KeyFile::LastAt(KeyCursor* c) {
  Impl t(this);
  PageRef p;
  *c = KeyCursor();
  int rc = t.LastLeaf(&p);
  if (rc == 0 && p.count() > 0) *c = KeyCursor{p.no, p.count() - 1};
  return rc;
}

int KeyFile::SeekAt(const uint8_t* value, uint32_t record, KeyCursor* c) {
  Impl t(this);
  PageRef p;
  int pos;
  *c = KeyCursor();
  int rc = t.FindLeaf(value, record, false, &p, &pos);
  if (rc == 0 && pos < p.count()) *c = KeyCursor{p.no, pos};
  return rc;
}

int KeyFile::NextAt(KeyCursor* c) {
  if (c->at_end()) return First(c);
  Impl t(this);
  PageRef p;
  return t.Step(c, +1, &p);
}

int KeyFile::PrevAt(KeyCursor* c) {
  if (c->at_end()) return Last(c);
  Impl t(this);
  PageRef p;
  return t.Step(c, -1, &p);
}

int KeyFile::SeekOrdinalAt(uint32_t n, KeyCursor* c) {
  *c = KeyCursor();
  if (n == 0 || n > header_.entries) return 0;
  Impl t(this);
  PageRef p;
  uint32_t guard = header_.pages + 1;
  if (n <= header_.entries / 2 + 1) {
    int rc = t.FirstLeaf(&p);
    uint32_t before = 0;
    while (rc == 0) {
      if (n <= before + p.count()) {
        *c = KeyCursor{p.no, int(n - before - 1)};
        return 0;
      }
      before += p.count();
      if (p.next() == 0 || --guard == 0) return kErrKeysMustBeRebuilt;
      rc = t.Load(p.next(), 0, &p);
    }
    return rc;
  }
  // Nearer the end: walk back from the last leaf.
  uint32_t after = header_.entries - n;  // entries behind the one sought
  int rc = t.LastLeaf(&p);
  while (rc == 0) {
    if (after < uint32_t(p.count())) {
      *c = KeyCursor{p.no, int(p.count() - 1 - after)};
      return 0;
    }
    after -= p.count();
    if (p.prev() == 0 || --guard == 0) return kErrKeysMustBeRebuilt;
    rc = t.Load(p.prev(), 0, &p);
  }
  return rc;
}

bool KeyFile::FingerAt(const uint8_t* value, uint32_t record, KeyCursor* c) {
  if (!finger_.set || finger_.record != record ||
      std::memcmp(finger_.value.data(), value, finger_.value.size()) != 0)
    return false;
  if (finger_.generation != generation_) {
    // Written or possibly changed by another open since: the leaf must still
    // hold the entry at the kept place. A failed read falls back to the
    // descent, which answers the error.
    Impl t(this);
    PageRef p;
    if (t.Load(finger_.page, 0, &p) != 0) return false;
    if (finger_.index >= p.count() || p.parent() != finger_.parent ||
        t.CompareLeaf(t.At(p, finger_.index), value, record) != 0)
      return false;
    finger_.generation = generation_;
  }
  *c = KeyCursor{finger_.page, finger_.index};
  return true;
}

// The walks read a stale header first and stamp their cursor with the
// generation of the tree they saw.
int KeyFile::First(KeyCursor* c) {
  if (int rc = Fresh(); rc != 0) return rc;
  return Stamp(FirstAt(c), c);
}
int KeyFile::Last(KeyCursor* c) {
  if (int rc = Fresh(); rc != 0) return rc;
  return Stamp(LastAt(c), c);
}
int KeyFile::Seek(const uint8_t* value, uint32_t record, KeyCursor* c) {
  if (int rc = Fresh(); rc != 0) return rc;
  if (record != 0 && FingerAt(value, record, c)) return Stamp(0, c);
  return Stamp(SeekAt(value, record, c), c);
}
int KeyFile::Next(KeyCursor* c) {
  if (int rc = Fresh(); rc != 0) return rc;
  return Stamp(NextAt(c), c);
}
int KeyFile::Prev(KeyCursor* c) {
  if (int rc = Fresh(); rc != 0) return rc;
  return Stamp(PrevAt(c), c);
}
int KeyFile::SeekOrdinal(uint32_t n, KeyCursor* c) {
  if (int rc = Fresh(); rc != 0) return rc;
  return Stamp(SeekOrdinalAt(n, c), c);
}

int KeyFile::Ordinal(const KeyCursor& c, uint32_t* n) {
  *n = 0;
  if (c.at_end()) return 0;
  if (int rc = Fresh(); rc != 0) return rc;
  Impl t(this);
  PageRef p;
  int rc = t.Load(c.page, 0, &p);
  uint32_t count = uint32_t(c.index) + 1;
  uint32_t guard = header_.pages + 1;
  while (rc == 0 && p.prev() != 0) {
    if (--guard == 0) return kErrKeysMustBeRebuilt;
    rc = t.Load(p.prev(), 0, &p);
    count += p.count();
  }
  if (rc == 0) *n = count;
  return rc;
}

int KeyFile::Entry(const KeyCursor& c, uint32_t* record, std::string* value) {
  if (c.at_end()) return kErrKeysMustBeRebuilt;
  if (int rc = Fresh(); rc != 0) return rc;
  Impl t(this);
  PageRef p;
  int rc = t.Load(c.page, 0, &p);
  if (rc != 0) return rc;
  return t.TakeEntry(p, c, record, value);
}

int KeyFile::StepEntry(KeyCursor* c, int dir, uint32_t* record, std::string* value) {
  if (c->at_end()) {
    int rc = dir > 0 ? First(c) : Last(c);
    return rc != 0 || c->at_end() ? rc : Entry(*c, record, value);
  }
  if (int rc = Fresh(); rc != 0) return rc;
  Impl t(this);
  PageRef p;
  int rc = Stamp(t.Step(c, dir, &p), c);
  if (rc != 0 || c->at_end()) return rc;
  return t.TakeEntry(p, *c, record, value);
}

int KeyFile::Following(const KeyCursor& c, int dir, size_t max, std::vector<uint32_t>* out) {
  if (c.at_end() || max == 0) return 0;
  if (int rc = Fresh(); rc != 0) return rc;
  Impl t(this);
  PageRef p;
  int rc = t.Load(c.page, 0, &p);
  if (rc != 0) return rc;
  const size_t want = out->size() + max;
  int i = c.index;
  for (uint32_t guard = header_.pages; out->size() < want;) {
    i += dir;
    if (i >= 0 && i < p.count()) {
      out->push_back(GetU32(t.At(p, i)));
      continue;
    }
    const uint32_t beside = dir > 0 ? p.next() : p.prev();
    if (beside == 0) break;
    if (guard-- == 0) return kErrKeysMustBeRebuilt;
    if ((rc = t.Load(beside, 0, &p)) != 0) return rc;
    i = dir > 0 ? -1 : p.count();
  }
  return 0;
}

int KeyFile::Check(std::string* report) {
  if (int rc = Fresh(); rc != 0) {
    if (report) *report = "header: unreadable (" + std::to_string(rc) + ")\n";
    return rc;
  }
  std::string out;
  auto fault = [&out](const std::string& s) { out += s + "\n"; };
  Impl t(this);
  const KeyHeader& h = header_;
  std::set<uint32_t> seen;
  // Walk each level from its first page, checking it against the level above.
  std::vector<uint32_t> above;  // children named by the level above, in order
  std::vector<uint32_t> above_parent;
  std::vector<std::string> above_value;
  uint32_t level_first = h.root;
  uint64_t leaf_entries = 0;
  uint32_t first_rec = 0, last_rec = 0, last_leaf = 0;
  for (int height = h.levels - 1; height >= 0 && out.empty(); --height) {
    std::vector<uint32_t> children, children_parent;
    std::vector<std::string> children_value;
    size_t at = 0;
    uint32_t prev = 0;
    std::string last_key;
    uint32_t last_record = 0;
    bool any = false;
    for (uint32_t no = level_first; no != 0;) {
      Page p;
      int rc = t.Load(no, height, &p);
      if (rc != 0) {
        fault("page " + std::to_string(no) + ": unreadable (" + std::to_string(rc) + ")");
        break;
      }
      if (!seen.insert(no).second) {
        fault("page " + std::to_string(no) + ": reached twice");
        break;
      }
      if (p.prev() != prev) fault("page " + std::to_string(no) + ": wrong previous link");
      if (height == int(h.levels) - 1) {
        if (p.parent() != 0 || p.next() != 0 || p.prev() != 0)
          fault("root " + std::to_string(no) + ": has links");
      } else {
        if (at >= above.size() || above[at] != no)
          fault("page " + std::to_string(no) + ": not named in order by the level above");
        else {
          if (p.parent() != above_parent[at])
            fault("page " + std::to_string(no) + ": wrong parent");
          if (p.count() > 0 &&
              std::memcmp(above_value[at].data(), t.At(p, p.count() - 1) + 4, t.kl) != 0)
            fault("page " + std::to_string(no) + ": upper entry is not its highest key");
        }
        ++at;
      }
      if (p.count() == 0 && !(height == 0 && h.entries == 0))
        fault("page " + std::to_string(no) + ": empty");
      for (int i = 0; i < p.count(); ++i) {
        const uint8_t* e = t.At(p, i);
        std::string key(reinterpret_cast<const char*>(e + 4), size_t(t.kl));
        uint32_t r = GetU32(e);
        if (any) {
          int cmp = std::memcmp(last_key.data(), key.data(), t.kl);
          if (cmp > 0 || (height == 0 && cmp == 0 && last_record >= r))
            fault("page " + std::to_string(no) + ": entries out of order");
        }
        any = true;
        last_key = key;
        last_record = r;
        if (height > 0) {
          children.push_back(r);
          children_parent.push_back(no);
          children_value.push_back(key);
        } else {
          if (leaf_entries == 0) first_rec = r;
          last_rec = r;
          ++leaf_entries;
        }
      }
      if (height == 0) last_leaf = no;
      prev = no;
      no = p.next();
      if (!out.empty()) break;
    }
    if (height != int(h.levels) - 1 && at != above.size())
      fault("level " + std::to_string(height) + ": fewer pages than the level above names");
    above = std::move(children);
    above_parent = std::move(children_parent);
    above_value = std::move(children_value);
    level_first = above.empty() ? 0 : above[0];
    if (height > 0 && above.empty()) fault("level " + std::to_string(height) + ": no children");
  }
  if (out.empty()) {
    if (leaf_entries != h.entries) fault("header: wrong number of entries");
    if (h.entries > 0 && (h.first_record != first_rec || h.last_record != last_rec))
      fault("header: wrong first or last record");
    if (h.entries == 0 && (h.first_record != 0 || h.last_record != 0))
      fault("header: first or last record of an empty key");
    if (h.last_page != last_leaf) fault("header: wrong last page");
  }
  // The free chain: empty pages not in the tree, every page accounted for.
  uint32_t free_count = 0;
  for (uint32_t no = h.free_head; no != 0 && out.empty();) {
    Page p;
    int rc = t.Load(no, 0, &p);
    if (rc != 0 || !seen.insert(no).second || p.count() != 0) {
      fault("free page " + std::to_string(no) + ": unreadable, in use or reached twice");
      break;
    }
    ++free_count;
    no = p.next();
  }
  if (out.empty() && seen.size() != h.pages)
    fault("header: " + std::to_string(h.pages) + " pages, " + std::to_string(seen.size()) +
          " in the tree and the free chain");
  if (report) *report = out;
  return out.empty() ? 0 : kErrKeysMustBeRebuilt;
}

}  // namespace flat
