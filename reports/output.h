// Library-wide state of FXR4: the dictionary the reports read through, the
// framework objects (error reporter, profile object over "fxr4.INI",
// fuzzy matching) with the current references that FXR4:INIT redirects, and
// where finished report documents go.
//
// Output modes (SetOutput):
//   "gui"        (default) the document goes to the GUI thread, which shows
//                the preview or prints it (needs a QApplication; without one
//                the document is dropped)
//   "pdf:PATH"   written as a PDF file (needs a QGuiApplication)
//   "text:PATH"  written as plain text (UTF-8); "text:-" is standard output
//   "csv:PATH"   no document: every selected call is written to a CSV file
//                (csv_export.h); "csv:-" is standard output
//   "none"       dropped (counting runs, benchmarks)
//
// Thread-safety: every function may be called from any thread.
#pragma once

#include <string>
#include <string_view>

#include "host/report/document.h"
#include "host/report/text_renderer.h"

namespace nv::dict {
class Dictionary;
}
namespace nv::ui {
class ErrorReporter;
class ProfileObject;
}  // namespace nv::ui

namespace fxr4 {

// The dictionary of the program when it has one (FXDATS:INIT), else the
// library's own over "fxr4.INI" in the working folder, made on first use.
const nv::dict::Dictionary* LibraryDictionary();

// False for an unknown mode (the mode in force is kept).
bool SetOutput(std::string_view shape);
// Hands a finished document to the output in force.
void Deliver(nv::report::Document doc);
// The CSV file of the output in force; empty when it is not "csv:PATH".
std::string CsvPath();
// Plain-text options for a document: the landscape summaries are laid out
// twelve characters to the inch.
nv::report::TextOptions TextOptionsFor(const nv::report::Document& doc);

// FXR4:INIT: non-null arguments replace the current references.
void InitLibrary(nv::ui::ErrorReporter* reporter, nv::ui::ProfileObject* profile);
nv::ui::ProfileObject& CurrentProfile();
// Library start-up: the library's own objects become the current ones.
void OnLoad();

}  // namespace fxr4
