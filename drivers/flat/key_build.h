// BUILD of a flat key: the key file is reset, every live record's entry is
// taken from a RecordSource, sorted through two temporary files into one
// ascending stream and the tree is written bottom-up (root page 1, leaves
// last). Equal values in a key without duplicates are reported to the
// ".BLD" file and end the build with 40 once the tree is complete.
//
// While the pages are written the key header says 0 levels, which no open
// accepts: a build that stops half way (crash, full disk) leaves a key that
// must be rebuilt (46) rather than a tree that is wrong. A failed build that
// can still write resets the key to an empty tree.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drivers/flat/key_codec.h"
#include "drivers/flat/key_file.h"
#include "host/runtime/env.h"

namespace flat {

// Live records of the data file in record order, in the runtime's form
// (unscrambled, converted back from OEM). Implemented by the record layer.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Starts again at the first record (called once at the start of a build).
  virtual int Rewind() { return 0; }
  // The next live record: its number and its record data (valid until the
  // next call). *done is set at the end. Non-zero answers end the build.
  virtual int Next(uint32_t* record, const uint8_t** data, bool* done) = 0;
  // How many records Next() is likely to give (0: not known): the sort
  // takes memory for them at once instead of growing into it.
  virtual uint64_t Expected() { return 0; }
};

// The duplicates report of one build (BUILD(file) and PACK share one over
// all their keys). The file is created on the first duplicate and closed
// when the report is destroyed or Close() is called.
class BuildReport {
 public:
  BuildReport(nv::Env* env, std::string path) : env_(env), path_(std::move(path)) {}
  ~BuildReport() { Close(); }
  // Records one equal pair (first, second) of key `key_name`.
  int Duplicate(const std::string& key_name, uint32_t first, uint32_t second);
  void Close();
  bool opened() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }

 private:
  int Write(const std::string& text);
  nv::Env* env_;
  std::string path_;
  std::unique_ptr<nv::EnvFile> file_;
  uint64_t offset_ = 0;
  std::string current_key_;
  bool key_started_ = false;
  uint32_t last_written_ = 0;
};

struct BuildOptions {
  // Sort buffer in entries; 0 means 0x3F00 / entry length (tests shrink it).
  uint32_t buffer_entries = 0;
  // Allocation failures to simulate before the buffer is granted (tests).
  int fail_allocations = 0;
  // Name of the key in the duplicates report (default: the shape's name).
  std::string key_name;
  // A build of several keys sorts the others' buffers on a second thread
  // while the first key's tree is written; false keeps it to one thread.
  bool sort_ahead = true;
};

// Builds `key` (whose shape is key->shape()) from `source`. Temporary files are
// made in `temp_dir` and always removed. Answers 0, 40 after a complete tree
// with duplicates, 8 without memory for the sort buffer, or an I/O error.
int BuildKey(nv::Env* env, KeyFile* key, RecordSource& source, BuildReport* report,
             const std::string& temp_dir, const BuildOptions& options = {});

// Several keys built from one pass over `source` (BUILD(file), PACK): every
// key is reset first, each record is read once and its entry taken for every
// key, then the trees are written in the order given. (*results)[i] is key
// i's answer as BuildKey gives it; a key that cannot start (no sort buffer,
// no temporary file) or a failed read of the records fails every key, and
// the keys already started are left empty. Answers the first error other than 40, else 40
// when a key had duplicates, else 0. A key's name in the report is its
// `key_name`, else options.key_name, else its shape's name.
struct KeyToBuild {
  KeyFile* key;
  std::string key_name;
};
int BuildKeys(nv::Env* env, const std::vector<KeyToBuild>& keys, RecordSource& source,
              BuildReport* report, const std::string& temp_dir, std::vector<int>* results,
              const BuildOptions& options = {});

// Convenience form with its own report at `bld_path`.
int BuildKey(nv::Env* env, KeyFile* key, const KeySpec& shape, RecordSource& source,
             const std::string& bld_path, const std::string& key_name, const std::string& temp_dir);

// Writes a whole tree from entries already sorted by (value, record):
// `next` yields one entry (record, value) at a time and answers false at the
// end. Used by BuildKey; the duplicate pairs go to `on_duplicate` when the
// key allows no duplicates.
int WriteSortedTree(KeyFile* key, uint64_t count,
                    const std::function<int(uint8_t* entry, bool* done)>& next,
                    const std::function<int(uint32_t first, uint32_t second)>& on_duplicate);

}  // namespace flat
