// The line file SALIDA: a text file read one line at a time into the
// 255-character record SAL:LINEA. The importers set SALIDA's file-name
// variable (DIC:NOMBRE_ARCH) and open it through this reader.
//
// Lines end at "\n"; a "\r" before it is dropped. The last line needs no
// line end. A line longer than the record is cut to 255 characters and the
// rest of it skipped (truncated() tells). Bytes are kept as they are
// (Windows-1252 text). A reader that decodes another encoding (UTF-8, where
// one character may take up to four bytes) reads full_line(): the same line
// with up to kFullLineBytes bytes. Every byte of the file, line ends included, is
// counted in consumed(), so that progress reaches size() at the end.
//
// Thread-safety: one reader belongs to one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "host/dictionary/records.h"
#include "host/runtime/env.h"
#include "host/runtime/export.h"

namespace nv::dict {

class Dictionary;

class NV_API LineFile {
 public:
  LineFile();
  ~LineFile();
  LineFile(const LineFile&) = delete;
  LineFile& operator=(const LineFile&) = delete;

  // Opens a file by its declared name ('\' or '/'); the runtime's OS error
  // number on failure (2 not found ...).
  int Open(std::string_view name);
  // Opens SALIDA under the name its file-name variable holds now.
  int Open(const Dictionary& dict);
  void Close();
  bool is_open() const { return file_ != nullptr; }

  // Reads the next line into record(); 0, or 33 at the end of the file, or
  // an OS error number when reading fails.
  int Next();
  SALRecord& record() { return record_; }
  // The line just read, without its line end (at most 255 characters).
  std::string_view line() const { return std::string_view(line_); }
  // The line just read with up to kFullLineBytes bytes; full_truncated()
  // when it had more.
  static constexpr size_t kFullLineBytes = 4 * 255;
  std::string_view full_line() const { return std::string_view(full_); }
  bool full_truncated() const { return full_truncated_; }
  // Bytes of the file the last Next consumed (line end included).
  uint64_t last_length() const { return last_length_; }
  bool truncated() const { return truncated_; }
  uint64_t consumed() const { return offset_; }
  // Size of the file in bytes (the importers' progress range).
  uint64_t size() const { return size_; }

 private:
  int Fill();

  std::unique_ptr<EnvFile> file_;
  SALRecord record_;
  std::string line_;
  std::string full_;
  std::string buffer_;
  size_t buffer_pos_ = 0;
  uint64_t read_offset_ = 0;  // next byte of the file to read into the buffer
  uint64_t offset_ = 0;       // bytes consumed by Next
  uint64_t size_ = 0;
  uint64_t last_length_ = 0;
  bool truncated_ = false;
  bool full_truncated_ = false;
  bool at_end_ = false;
};

}  // namespace nv::dict
