// The line file reader.
#include "host/dictionary/line_file.h"

#include "host/dictionary/dictionary.h"

namespace nv::dict {

namespace {
constexpr size_t kChunk = 8192;
constexpr int kEndOfFile = 33;
}  // namespace

LineFile::LineFile() = default;
LineFile::~LineFile() = default;

int LineFile::Open(std::string_view name) {
  Close();
  OpenOptions o;
  o.mode = 0x40;  // read only, deny none
  std::unique_ptr<EnvFile> f;
  if (int err = GetEnv()->Open(NativePath(name), o, &f)) return err;
  uint64_t size = 0;
  if (int err = f->Size(&size)) return err;
  file_ = std::move(f);
  size_ = size;
  return 0;
}

int LineFile::Open(const Dictionary& dict) {
  return Open(dict.EffectiveName("SALIDA"));
}

void LineFile::Close() {
  file_.reset();
  buffer_.clear();
  buffer_pos_ = 0;
  read_offset_ = offset_ = size_ = last_length_ = 0;
  truncated_ = at_end_ = false;
  line_.clear();
  full_.clear();
  full_truncated_ = false;
  record_.LINEA.Clear();
}

int LineFile::Fill() {
  buffer_.erase(0, buffer_pos_);
  buffer_pos_ = 0;
  std::string chunk(kChunk, '\0');
  size_t got = 0;
  if (int err = file_->Read(read_offset_, chunk.data(), chunk.size(), &got)) return err;
  if (got == 0) at_end_ = true;
  read_offset_ += got;
  buffer_.append(chunk.data(), got);
  return 0;
}

int LineFile::Next() {
  last_length_ = 0;
  truncated_ = full_truncated_ = false;
  line_.clear();
  full_.clear();
  record_.LINEA.Clear();
  if (file_ == nullptr) return kEndOfFile;
  constexpr size_t kWidth = sizeof(SALRecord);
  uint64_t count = 0;  // characters of the line, line end excluded
  char last = 0;
  bool ended = false;
  while (!ended) {
    if (buffer_pos_ >= buffer_.size()) {
      if (at_end_) break;
      if (int err = Fill()) return err;
      continue;
    }
    char c = buffer_[buffer_pos_++];
    ++last_length_;
    if (c == '\n') {
      ended = true;
    } else {
      if (full_.size() <= kFullLineBytes) full_.push_back(c);  // one more for a "\r"
      last = c;
      ++count;
    }
  }
  if (last_length_ == 0) return kEndOfFile;
  offset_ += last_length_;
  // A "\r" before the line end belongs to the line end.
  if (ended && last == '\r') --count;
  truncated_ = count > kWidth;
  full_truncated_ = count > kFullLineBytes;
  full_.resize(size_t(count < kFullLineBytes ? count : kFullLineBytes));
  line_.assign(full_, 0, kWidth);
  record_.LINEA = line_;
  return 0;
}

}  // namespace nv::dict
