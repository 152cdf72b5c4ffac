// PDF output of a report document (QPdfWriter, texts in DejaVu Sans, embedded).
//
// Threads: may be called from any thread, the report's own included, as long
// as a QGuiApplication (or QApplication) exists in the process for the whole
// call; fonts are set up by that object. Several threads may render PDFs at
// once, each its own document.
#pragma once

#include <memory>
#include <string>

#include "host/report/document.h"
#include "host/report/status.h"
#include "host/runtime/export.h"

namespace nv::report {

// Writes every page of `doc` to the file `path` (UTF-8 file name). The file
// is written under a temporary name and renamed when complete, so a failed
// run leaves no partial PDF behind and an existing file untouched.
// Fails with kNothingToPrint for a document without pages, kNoApplication
// without a QGuiApplication and kOutputFailed when the file cannot be written.
NV_API Status RenderPdf(const Document& doc, const std::string& path);

// A PDF written page by page as a report prints (a report's page sink), so
// a long report never holds more than one page. Same file rules and
// threads as RenderPdf: nothing is left at `path` unless Finish succeeds.
class NV_API PdfStream {
 public:
  PdfStream();
  ~PdfStream();  // abandons an unfinished file
  PdfStream(const PdfStream&) = delete;
  PdfStream& operator=(const PdfStream&) = delete;

  // `shape` gives the paper and the title (its pages are not read).
  Status Begin(const Document& shape, const std::string& path);
  Status Add(const Page& page);
  // kNothingToPrint when no page was added (and no file is written).
  Status Finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace nv::report
