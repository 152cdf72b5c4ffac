// PDF output of a report document (QPdfWriter, texts in DejaVu Sans, embedded).
//
// Threads: may be called from any thread, the report's own included, as long
// as a QGuiApplication (or QApplication) exists in the process for the whole
// call; fonts are set up by that object. Several threads may render PDFs at
// once, each its own document.
#pragma once

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

}  // namespace nv::report
