// Export of a whole report result: every selected call as one row of a CSV
// file (not one page of the document), for summary and detail procedures
// alike. UTF-8 with a byte-order mark so that spreadsheets show accents;
// dates dd/mm/yyyy, times hh:mm:ss, durations in seconds and as h:mm:ss,
// costs with a decimal point whatever the locale; the directory
// description and the family's group column. Fields are separated by
// commas and quoted when they hold a comma, a quote or a line break.
//
// Thread-safety: a CsvExport belongs to one run.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "host/dictionary/records.h"
#include "reports/detail_family.h"

namespace nv {
class File;
}
namespace nv::dict {
class Dictionary;
class DirectoryLookup;
}  // namespace nv::dict

namespace fxr4 {

class CsvExport {
 public:
  // `path` "-" is standard output. `group_title` is the family column's
  // title (UTF-8), "" when the family has none.
  CsvExport(std::string path, std::string group_title);
  ~CsvExport();
  CsvExport(const CsvExport&) = delete;
  CsvExport& operator=(const CsvExport&) = delete;

  // Creates the file and writes the header row; false with error() set.
  bool Open();
  // One call; `agenda` and `group` are Windows-1252 texts as the report
  // shows them.
  void Row(const nv::dict::CallRecord& r, std::string_view agenda, std::string_view group);
  // Flushes and closes; false with error() set when any write failed.
  bool Close();
  const std::string& error() const { return error_; }
  int64_t rows() const { return rows_; }

 private:
  void Field(std::string_view utf8, bool last = false);
  std::string path_, group_title_, error_;
  std::FILE* f_ = nullptr;
  std::string line_;
  int64_t rows_ = 0;
};

// LOC:AGENDA of a number: the text DESCRIPCION_AGENDA answers (the owner's
// name of the longest directory number that is a prefix of it, " - " and
// that number's comment), cut to 40 characters. The directory numbers are
// read once per run into memory, the owners' names on first use, and the
// numbers already described are remembered: a report meets the same numbers
// again and again, and a file lookup per call would cost more than the
// selection.
class AgendaTexts {
 public:
  explicit AgendaTexts(const nv::dict::Dictionary& dict);
  ~AgendaTexts();
  const std::string& Of(std::string_view nrotel);

 private:
  struct Number {
    int32_t code;
    std::string comment;
  };
  std::string Describe(std::string_view number);
  std::unordered_map<std::string, Number> numbers_;  // directory number -> entry
  size_t longest_ = 0;
  std::unique_ptr<nv::File> ma11_;
  std::unordered_map<int32_t, std::string> names_;
  std::unordered_map<std::string, std::string> seen_;
};

// The CSV side of a detail procedure: the directory description and the
// group column of each selected call, looked up through files of its own.
class DetailCsvRows {
 public:
  DetailCsvRows(const nv::dict::Dictionary& dict, const DetailProc& proc);
  ~DetailCsvRows();
  static std::string GroupTitle(const DetailProc& proc);  // UTF-8, "" for none
  void Row(CsvExport& out, const nv::dict::CallRecord& r);

 private:
  const DetailProc& p_;
  AgendaTexts agenda_;
  std::unique_ptr<nv::File> ma09_;
};

}  // namespace fxr4
