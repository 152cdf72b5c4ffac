// The dBase III index file: pages, descent, splits and walks (see
// ndx_file.h for the layout and the invariants).
#include "drivers/dbase3/ndx_file.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace db3 {

namespace {

constexpr int kCorrupted = -206;
constexpr int kWriteFailure = -201;
constexpr int kReadFailure = -202;
constexpr int kMaxDepth = 32;

uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Get16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
void Put32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

double AsDouble(const std::string& k) {
  double d = 0;
  if (k.size() >= 8) std::memcpy(&d, k.data(), 8);
  return d;
}

}  // namespace

int NdxFile::Create(const std::string& path, const std::string& expr, bool numeric,
                    uint16_t key_length, bool unique, std::unique_ptr<NdxFile>* out) {
  if (key_length == 0 || key_length > 100 || (numeric && key_length != 8)) return -223;
  if (expr.size() >= kNdxPage - 24) return -207;
  std::unique_ptr<nv::EnvFile> file;
  nv::OpenOptions o;
  o.mode = 0x22;
  o.create = true;
  o.truncate = true;
  if (int err = nv::GetEnv()->Open(path, o, &file)) return err == 2 || err == 3 ? -239 : -246;
  auto n = std::unique_ptr<NdxFile>(new NdxFile);
  n->file_ = std::move(file);
  n->expr_ = expr;
  n->numeric_ = numeric;
  n->unique_ = unique;
  n->key_length_ = key_length;
  n->item_size_ = uint16_t((key_length + 8 + 3) & ~3);
  n->per_page_ = uint16_t((kNdxPage - 4) / n->item_size_);
  n->root_ = 1;
  n->pages_ = 2;
  if (int err = n->WriteHeader()) return err;
  uint8_t empty[kNdxPage] = {};
  if (int err = n->Store(1, empty)) return err;
  if (int err = n->Flush()) return err;
  *out = std::move(n);
  return 0;
}

int NdxFile::Open(const std::string& path, bool read_only, std::unique_ptr<NdxFile>* out) {
  std::unique_ptr<nv::EnvFile> file;
  nv::OpenOptions o;
  o.mode = read_only ? 0x40 : 0x42;
  if (int err = nv::GetEnv()->Open(path, o, &file)) return err == 2 || err == 3 ? -250 : -246;
  return Attach(std::move(file), out);
}

int NdxFile::Attach(std::unique_ptr<nv::EnvFile> file, std::unique_ptr<NdxFile>* out) {
  auto n = std::unique_ptr<NdxFile>(new NdxFile);
  n->file_ = std::move(file);
  if (int err = n->ReadHeader()) return err;
  *out = std::move(n);
  return 0;
}

int NdxFile::ReadHeader() {
  uint8_t h[kNdxPage] = {};
  size_t got = 0;
  if (file_->Read(0, h, kNdxPage, &got) != 0) return kReadFailure;
  if (got < 24) return kCorrupted;
  root_ = Get32(h);
  pages_ = Get32(h + 4);
  key_length_ = Get16(h + 12);
  per_page_ = Get16(h + 14);
  numeric_ = Get16(h + 16) != 0;
  item_size_ = Get16(h + 18);
  unique_ = h[23] != 0;
  const char* e = reinterpret_cast<const char*>(h + 24);
  expr_.assign(e, strnlen(e, std::min<size_t>(got, kNdxPage) - 24));
  while (!expr_.empty() && expr_.back() == ' ') expr_.pop_back();
  if (key_length_ == 0 || key_length_ > 100 || (numeric_ && key_length_ != 8)) return -223;
  if (item_size_ < key_length_ + 8 || item_size_ > kNdxPage - 4) return -224;
  if (per_page_ < 2 || size_t(per_page_) * item_size_ + 4 > kNdxPage) return -226;
  if (root_ == 0 || root_ >= pages_) return -225;
  uint64_t size = 0;
  if (file_->Size(&size) != 0) return kReadFailure;
  if (uint64_t(pages_) * kNdxPage > size + kNdxPage) return kCorrupted;
  header_dirty_ = false;
  return 0;
}

int NdxFile::WriteHeader() {
  uint8_t h[kNdxPage] = {};
  Put32(h, root_);
  Put32(h + 4, pages_);
  Put16(h + 12, key_length_);
  Put16(h + 14, per_page_);
  Put16(h + 16, numeric_ ? 1 : 0);
  Put16(h + 18, item_size_);
  h[23] = unique_ ? 1 : 0;
  std::memcpy(h + 24, expr_.data(), std::min(expr_.size(), kNdxPage - 25));
  if (defer_) {
    header_dirty_ = true;
    return 0;
  }
  header_dirty_ = false;
  return WriteAt(0, h);
}

int NdxFile::WriteAt(uint64_t offset, const uint8_t* bytes) {
  if (guard_)
    if (int err = guard_()) return err;
  return file_->Write(offset, bytes, kNdxPage) ? kWriteFailure : 0;
}

void NdxFile::DropPages() {
  for (uint32_t n : cached_)
    if (n < cache_.size()) cache_[n].reset();
  cached_.clear();
  dirty_.clear();
  ++version_;
}

int NdxFile::Fetch(uint32_t page, Page** out) {
  if (page == 0 || page >= pages_) return kCorrupted;
  if (page < cache_.size() && cache_[page]) {
    *out = cache_[page].get();
    return 0;
  }
  if (cached_.size() >= max_pages_) {
    if (int err = Flush()) return err;
    DropPages();
  }
  auto p = std::make_unique<Page>();
  size_t got = 0;
  if (file_->Read(uint64_t(page) * kNdxPage, p->b, kNdxPage, &got) != 0) return kReadFailure;
  if (got != kNdxPage) {
    // The last page of a file may end early (its tail is zeros).
    if (got < 4) return kCorrupted;
    std::memset(p->b + got, 0, kNdxPage - got);
  }
  if (page >= cache_.size()) cache_.resize(size_t(page) + 1 + page / 2);
  *out = p.get();
  cache_[page] = std::move(p);
  cached_.push_back(page);
  return 0;
}

int NdxFile::Store(uint32_t page, const uint8_t* bytes) {
  ++version_;
  if (page >= cache_.size()) cache_.resize(size_t(page) + 1 + page / 2);
  if (!cache_[page]) {
    if (cached_.size() >= max_pages_) {
      if (int err = Flush()) return err;
      DropPages();
    }
    cache_[page] = std::make_unique<Page>();
    cached_.push_back(page);
  }
  Page& p = *cache_[page];
  if (bytes != p.b) std::memcpy(p.b, bytes, kNdxPage);
  if (defer_) {
    if (!p.dirty) dirty_.push_back(page);
    p.dirty = true;
    return 0;
  }
  p.dirty = false;
  return WriteAt(uint64_t(page) * kNdxPage, p.b);
}

int NdxFile::Flush() {
  for (uint32_t n : dirty_) {
    if (n >= cache_.size() || !cache_[n] || !cache_[n]->dirty) continue;
    if (int err = WriteAt(uint64_t(n) * kNdxPage, cache_[n]->b)) return err;
    cache_[n]->dirty = false;
  }
  dirty_.clear();
  if (header_dirty_) {
    const bool d = defer_;
    defer_ = false;
    int err = WriteHeader();
    defer_ = d;
    if (err) return err;
  }
  return 0;
}

int NdxFile::Forget() {
  if (int err = Flush()) return err;
  if (keep_) return 0;
  DropPages();
  return ReadHeader();
}

int NdxFile::Sync() {
  if (int err = Flush()) return err;
  return file_->Sync(false) ? kWriteFailure : 0;
}

int NdxFile::Shape(uint32_t page, const Page** out, int* items, bool* leaf) {
  Page* p = nullptr;
  if (int err = Fetch(page, &p)) return err;
  const uint32_t count = Get32(p->b);
  *leaf = Get32(p->b + 4) == 0;
  const uint64_t n = *leaf ? uint64_t(count) : uint64_t(count) + 1;
  if (n * item_size_ + 4 > kNdxPage) return kCorrupted;
  *items = int(n);
  *out = p;
  return 0;
}

int NdxFile::CompareAt(const uint8_t* item, const std::string& key) const {
  if (numeric_) {
    double x;
    std::memcpy(&x, item + 8, 8);
    const double y = AsDouble(key);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  const size_t n = std::min<size_t>(key_length_, key.size());
  const int c = std::memcmp(item + 8, key.data(), n);
  if (c) return c;
  return key_length_ < key.size() ? -1 : key_length_ > key.size() ? 1 : 0;
}

int NdxFile::ReadNode(uint32_t page, Node* n) {
  Page* p = nullptr;
  if (int err = Fetch(page, &p)) return err;
  const uint32_t count = Get32(p->b);
  n->page = page;
  n->items.clear();
  const uint8_t* first = p->b + 4;
  n->leaf = Get32(first) == 0;
  const size_t items = n->leaf ? count : size_t(count) + 1;
  if (items * item_size_ + 4 > kNdxPage) return kCorrupted;
  n->items.reserve(items + 1);
  for (size_t i = 0; i < items; ++i) {
    const uint8_t* q = first + i * item_size_;
    Item it{Get32(q), Get32(q + 4), {}};
    if ((it.below == 0) != n->leaf || (it.below != 0 && it.below >= pages_)) return kCorrupted;
    if (n->leaf || i + 1 < items) it.key.assign(reinterpret_cast<const char*>(q + 8), key_length_);
    n->items.push_back(std::move(it));
  }
  return 0;
}

int NdxFile::WriteNode(const Node& n) {
  uint8_t b[kNdxPage] = {};
  const size_t count = n.leaf ? n.items.size() : n.items.size() - 1;
  Put32(b, uint32_t(count));
  for (size_t i = 0; i < n.items.size(); ++i) {
    uint8_t* q = b + 4 + i * item_size_;
    Put32(q, n.items[i].below);
    Put32(q + 4, n.items[i].record);
    std::memcpy(q + 8, n.items[i].key.data(), std::min<size_t>(n.items[i].key.size(), key_length_));
  }
  return Store(n.page, b);
}

int NdxFile::NewPage(uint32_t* page) {
  *page = pages_++;
  return WriteHeader();
}

int NdxFile::Compare(const std::string& a, const std::string& b) const {
  if (numeric_) {
    const double x = AsDouble(a), y = AsDouble(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  if (c) return c;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool NdxFile::Less(const std::string& k1, uint32_t r1, const std::string& k2, uint32_t r2) const {
  const int c = Compare(k1, k2);
  return c < 0 || (c == 0 && r1 < r2);
}

int NdxFile::Descend(const std::string& key, uint32_t record, Path* path) {
  path->clear();
  uint32_t page = root_;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) return kCorrupted;
    const Page* p = nullptr;
    int items = 0;
    bool leaf = false;
    if (int err = Shape(page, &p, &items, &leaf)) return err;
    if (leaf) {
      int i = 0;
      for (; i < items; ++i) {
        const uint8_t* it = ItemAt(p, i);
        const int c = CompareAt(it, key);
        if (c > 0 || (c == 0 && Get32(it + 4) >= record)) break;
      }
      path->emplace_back(page, i);
      return 0;
    }
    int i = 0;
    for (; i < items - 1; ++i) {
      const uint8_t* it = ItemAt(p, i);
      const int c = CompareAt(it, key);
      const uint32_t r = Get32(it + 4);
      if (c > 0 || (c == 0 && (r == 0 || r >= record))) break;
    }
    path->emplace_back(page, i);
    page = Get32(ItemAt(p, i));
    if (page == 0 || page >= pages_) return kCorrupted;
  }
}

int NdxFile::Edge(uint32_t page, bool forward, Path* path) {
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth || path->size() > kMaxDepth) return kCorrupted;
    const Page* p = nullptr;
    int items = 0;
    bool leaf = false;
    if (int err = Shape(page, &p, &items, &leaf)) return err;
    const int i = forward ? 0 : items - 1;
    path->emplace_back(page, i);
    if (leaf) return 0;
    page = Get32(ItemAt(p, i));
    if (page == 0 || page >= pages_) return kCorrupted;
  }
}

int NdxFile::At(const Path& path, NdxEntry* out) {
  const Page* p = nullptr;
  int items = 0;
  bool leaf = false;
  if (int err = Shape(path.back().first, &p, &items, &leaf)) return err;
  const int i = path.back().second;
  if (!leaf || i < 0 || i >= items) return kCorrupted;
  const uint8_t* it = ItemAt(p, i);
  out->key.assign(reinterpret_cast<const char*>(it + 8), key_length_);
  out->record = Get32(it + 4);
  return 0;
}

// Leaf index in range [0, n): moves on over page ends and empty leaves.
int NdxFile::Normalize(Path* path, bool* ok) {
  for (int guard = 0; guard < 1 << 20; ++guard) {
    const Page* p = nullptr;
    int items = 0;
    bool leaf = false;
    if (int err = Shape(path->back().first, &p, &items, &leaf)) return err;
    if (!leaf) return kCorrupted;
    if (path->back().second >= 0 && path->back().second < items) {
      *ok = true;
      return 0;
    }
    const bool forward = path->back().second >= 0;
    // Up to the first level with a further child in that direction.
    path->pop_back();
    while (!path->empty()) {
      const Page* up = nullptr;
      int up_items = 0;
      bool up_leaf = false;
      if (int err = Shape(path->back().first, &up, &up_items, &up_leaf)) return err;
      int& i = path->back().second;
      i += forward ? 1 : -1;
      if (i >= 0 && i < up_items) {
        const uint32_t below = Get32(ItemAt(up, i));
        if (below == 0 || below >= pages_) return kCorrupted;
        if (int err = Edge(below, forward, path)) return err;
        break;
      }
      path->pop_back();
    }
    if (path->empty()) {
      *ok = false;
      return 0;
    }
  }
  return kCorrupted;
}

int NdxFile::Step(Path* path, bool forward, bool* ok) {
  path->back().second += forward ? 1 : -1;
  return Normalize(path, ok);
}

int NdxFile::Locate(const std::string& key, uint32_t record, Path* path, NdxEntry* out,
                    bool* ok) {
  if (int err = Descend(key, record, path)) return err;
  if (int err = Normalize(path, ok)) return err;
  // Equal keys over several pages: walk on to the exact place.
  while (*ok) {
    if (int err = At(*path, out)) return err;
    if (!Less(out->key, out->record, key, record)) break;
    if (int err = Step(path, true, ok)) return err;
  }
  return 0;
}

int NdxFile::Seek(const std::string& key, uint32_t record, bool forward, NdxEntry* out,
                  bool* found) {
  Path path;
  bool ok = false;
  // A walk in order: one step from the entry found last.
  if (hint_version_ == version_ && !hint_.empty()) {
    const bool before = Less(hint_entry_.key, hint_entry_.record, key, record);
    if (forward ? before : Less(key, record, hint_entry_.key, hint_entry_.record)) {
      path = hint_;
      if (int err = Step(&path, forward, &ok)) return err;
      if (!ok) {
        *found = false;
        return 0;
      }
      if (int err = At(path, out)) return err;
      const bool done = forward ? !Less(out->key, out->record, key, record)
                                : !Less(key, record, out->key, out->record);
      if (done) {
        *found = true;
        hint_ = path;
        hint_entry_ = *out;
        return 0;
      }
    }
  }
  if (int err = Locate(key, record, &path, out, &ok)) return err;
  if (!forward) {
    // Backward: the last entry <= (key, record).
    if (!ok || Less(key, record, out->key, out->record)) {
      if (!ok) {
        path.clear();
        if (int err = Edge(root_, false, &path)) return err;
        if (int err = Normalize(&path, &ok)) return err;
      } else if (int err = Step(&path, false, &ok)) {
        return err;
      }
      if (ok)
        if (int err = At(path, out)) return err;
    }
  }
  *found = ok;
  if (ok) {
    hint_ = path;
    hint_entry_ = *out;
    hint_version_ = version_;
  }
  return 0;
}

int NdxFile::First(bool forward, NdxEntry* out, bool* found) {
  Path path;
  if (int err = Edge(root_, forward, &path)) return err;
  if (int err = Normalize(&path, found)) return err;
  return *found ? At(path, out) : 0;
}

int NdxFile::Walk(const std::function<bool(const NdxEntry&)>& visit) {
  Path path;
  if (int err = Edge(root_, true, &path)) return err;
  bool ok = false;
  if (int err = Normalize(&path, &ok)) return err;
  NdxEntry e;
  uint64_t guard = 0;
  while (ok) {
    if (++guard > uint64_t(pages_) * kNdxPage) return kCorrupted;
    if (int err = At(path, &e)) return err;
    if (!visit(e)) return 0;
    if (int err = Step(&path, true, &ok)) return err;
  }
  return 0;
}

int NdxFile::Insert(const std::string& key, uint32_t record) {
  std::string k = key;
  k.resize(key_length_, numeric_ ? '\0' : ' ');
  // The new entry goes just before the first entry >= (key, record): the
  // inner items carry no record numbers, so equal keys are walked over.
  Path path;
  NdxEntry e;
  bool ok = false;
  if (int err = Locate(k, record, &path, &e, &ok)) return err;
  Node leaf;
  if (!ok) {
    path.clear();
    if (int err = Edge(root_, false, &path)) return err;
    if (int err = ReadNode(path.back().first, &leaf)) return err;
    path.back().second = int(leaf.items.size());
  } else if (int err = ReadNode(path.back().first, &leaf)) {
    return err;
  }
  leaf.items.insert(leaf.items.begin() + path.back().second, Item{0, record, k});
  const size_t cap = size_t(per_page_) - 1;
  if (leaf.items.size() <= cap) return WriteNode(leaf);
  // Split: the lower half stays, the upper half goes to a new page.
  Node right;
  right.leaf = true;
  if (int err = NewPage(&right.page)) return err;
  const size_t half = leaf.items.size() / 2;
  right.items.assign(leaf.items.begin() + long(half), leaf.items.end());
  leaf.items.resize(half);
  if (int err = WriteNode(right)) return err;
  if (int err = WriteNode(leaf)) return err;
  return InsertUp(&path, path.size() - 1, Item{leaf.page, 0, leaf.items.back().key}, right.page);
}

// The page at path[level] was split: `item` (pointing at it, with its new
// greatest key) goes into its parent before the item that pointed at it,
// which now points at `right`.
int NdxFile::InsertUp(Path* path, size_t level, Item item, uint32_t right) {
  if (level == 0) {
    Node root;
    root.leaf = false;
    if (int err = NewPage(&root.page)) return err;
    root.items.push_back(item);
    root.items.push_back(Item{right, 0, {}});
    if (int err = WriteNode(root)) return err;
    root_ = root.page;
    return WriteHeader();
  }
  Node up;
  const int at = (*path)[level - 1].second;
  if (int err = ReadNode((*path)[level - 1].first, &up)) return err;
  up.items[size_t(at)].below = right;
  up.items.insert(up.items.begin() + at, item);
  if (up.items.size() <= per_page_) return WriteNode(up);
  // Inner split: the item in the middle keeps its key as the left page's
  // greatest and becomes the left page's last (keyless) item.
  Node rnode;
  rnode.leaf = false;
  if (int err = NewPage(&rnode.page)) return err;
  const size_t mid = up.items.size() / 2;
  Item promoted{up.page, 0, up.items[mid - 1].key};
  rnode.items.assign(up.items.begin() + long(mid), up.items.end());
  up.items.resize(mid);
  up.items.back().key.clear();
  up.items.back().record = 0;
  if (int err = WriteNode(rnode)) return err;
  if (int err = WriteNode(up)) return err;
  return InsertUp(path, level - 1, promoted, rnode.page);
}

int NdxFile::Remove(const std::string& key, uint32_t record) {
  std::string k = key;
  k.resize(key_length_, numeric_ ? '\0' : ' ');
  Path path;
  NdxEntry e;
  bool ok = false;
  if (int err = Locate(k, record, &path, &e, &ok)) return err;
  if (!ok || e.record != record || Compare(e.key, k) != 0) return 0;
  Node n;
  if (int err = ReadNode(path.back().first, &n)) return err;
  n.items.erase(n.items.begin() + path.back().second);
  // A leaf left empty is unhooked from its parent (up the tree while pages
  // become empty); the separators above stay valid bounds.
  size_t level = path.size() - 1;
  while (n.items.empty() && level > 0) {
    Node up;
    if (int err = ReadNode(path[level - 1].first, &up)) return err;
    const size_t at = size_t(path[level - 1].second);
    if (up.items.size() == 1) {
      n = up;
      n.items.clear();
      --level;
      continue;
    }
    if (at + 1 == up.items.size()) {
      // The last (keyless) item goes: the one before it loses its key.
      up.items.pop_back();
      up.items.back().key.clear();
      up.items.back().record = 0;
    } else {
      up.items.erase(up.items.begin() + long(at));
    }
    n = up;
    --level;
    break;
  }
  if (n.items.empty()) {
    // The whole tree is empty: one empty leaf as root.
    n.leaf = true;
    if (int err = WriteNode(n)) return err;
    if (root_ != n.page) {
      root_ = n.page;
      return WriteHeader();
    }
    return 0;
  }
  if (int err = WriteNode(n)) return err;
  // An inner root left with one child hands the root down.
  if (!n.leaf && n.page == root_ && n.items.size() == 1) {
    root_ = n.items[0].below;
    return WriteHeader();
  }
  return 0;
}

int NdxFile::Clear() {
  DropPages();
  root_ = 1;
  pages_ = 2;
  uint8_t empty[kNdxPage] = {};
  if (int err = Store(1, empty)) return err;
  if (int err = WriteHeader()) return err;
  if (!defer_ && file_->Truncate(2 * kNdxPage)) return kWriteFailure;
  return 0;
}

int NdxFile::Load(const std::vector<NdxEntry>& sorted) {
  if (int err = Clear()) return err;
  if (sorted.empty()) return 0;
  // Leaves filled to three quarters, then each level above.
  const size_t fill = std::max<size_t>(2, (size_t(per_page_) - 1) * 3 / 4);
  std::vector<Item> level;  // (page, greatest entry) of the level below
  pages_ = 1;
  for (size_t i = 0; i < sorted.size(); i += fill) {
    Node n;
    n.leaf = true;
    if (int err = NewPage(&n.page)) return err;
    for (size_t j = i; j < std::min(sorted.size(), i + fill); ++j) {
      std::string k = sorted[j].key;
      k.resize(key_length_, numeric_ ? '\0' : ' ');
      n.items.push_back(Item{0, sorted[j].record, k});
    }
    if (int err = WriteNode(n)) return err;
    level.push_back(Item{n.page, 0, n.items.back().key});
  }
  while (level.size() > 1) {
    std::vector<Item> next;
    for (size_t i = 0; i < level.size(); i += fill + 1) {
      Node n;
      n.leaf = false;
      if (int err = NewPage(&n.page)) return err;
      const size_t end = std::min(level.size(), i + fill + 1);
      n.items.assign(level.begin() + long(i), level.begin() + long(end));
      Item top = n.items.back();
      n.items.back().key.clear();
      n.items.back().record = 0;
      if (int err = WriteNode(n)) return err;
      next.push_back(Item{n.page, 0, top.key});
    }
    level.swap(next);
  }
  root_ = level[0].below;
  return WriteHeader();
}

}  // namespace db3
