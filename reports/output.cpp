#include "reports/output.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include <QGuiApplication>

#include "host/dictionary/dictionary.h"
#include "host/platform/platform.h"
#include "host/report/qt/pdf_renderer.h"
#include "host/report/qt/preview.h"
#include "host/report/text_renderer.h"
#include "host/runtime/profile.h"
#include "host/ui/framework.h"

namespace fxr4 {

namespace {

struct Library {
  std::mutex mu;
  nv::ui::ErrorReporter reporter;
  nv::ui::ProfileObject profile;
  nv::ui::FuzzyMatch fuzzy;
  nv::ui::ProfileObject* current_profile = &profile;
  std::unique_ptr<nv::ProfileFile> dict_profile;
  std::unique_ptr<nv::dict::Dictionary> dict;
  std::string mode = "gui";
  std::string path;

  Library() {
    reporter.Init();
    profile.Init("fxr4.INI");
    fuzzy.Init();
    fuzzy.SetOption(1, true);
    fuzzy.SetOption(2, false);
  }
  ~Library() {
    // The framework must not keep pointing at an object of an unloaded library.
    if (&nv::ui::CurrentErrorReporter() == &reporter) nv::ui::SetCurrentErrorReporter(nullptr);
    fuzzy.Kill();
    profile.Kill();
    reporter.Kill();
  }
};

Library& Lib() {
  static Library lib;  // ended when the library is unloaded
  return lib;
}

}  // namespace

const nv::dict::Dictionary* LibraryDictionary() {
  if (nv::dict::Dictionary* d = nv::dict::Dic()) return d;
  Library& lib = Lib();
  std::lock_guard<std::mutex> lock(lib.mu);
  if (lib.dict == nullptr) {
    std::string name = lib.current_profile->file_name();
    if (name.empty()) name = "fxr4.INI";
    lib.dict_profile = std::make_unique<nv::ProfileFile>(name);
    lib.dict = std::make_unique<nv::dict::Dictionary>(lib.dict_profile.get());
  }
  return lib.dict.get();
}

bool SetOutput(std::string_view shape) {
  std::string mode(shape), path;
  const size_t colon = mode.find(':');
  if (colon != std::string::npos) {
    path = mode.substr(colon + 1);
    mode.resize(colon);
  }
  const bool needs_path = mode == "pdf" || mode == "text" || mode == "csv";
  if (!(needs_path || mode == "gui" || mode == "none")) return false;
  if (needs_path == path.empty()) return false;
  Library& lib = Lib();
  std::lock_guard<std::mutex> lock(lib.mu);
  lib.mode = mode;
  lib.path = path;
  return true;
}

void Deliver(nv::report::Document doc) {
  Library& lib = Lib();
  std::string mode, path;
  {
    std::lock_guard<std::mutex> lock(lib.mu);
    mode = lib.mode;
    path = lib.path;
  }
  if (mode == "pdf") {
    nv::report::Status st = nv::report::RenderPdf(doc, path);
    if (!st.ok()) std::fprintf(stderr, "FXR4: %s\n", st.message().c_str());
  } else if (mode == "text") {
    const std::string text = nv::report::RenderText(doc, TextOptionsFor(doc));
    if (path == "-") {
      std::fwrite(text.data(), 1, text.size(), stdout);
      std::fflush(stdout);
    } else if (FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    } else {
      std::fprintf(stderr, "FXR4: no se puede escribir %s\n", path.c_str());
    }
  } else if (mode == "gui") {
    nv::report::PostToGuiThread(std::move(doc),
                                [](const nv::report::Document& d) { nv::report::Present(d); });
  }
}

std::string CsvPath() {
  Library& lib = Lib();
  std::lock_guard<std::mutex> lock(lib.mu);
  return lib.mode == "csv" ? lib.path : std::string();
}

nv::report::TextOptions TextOptionsFor(const nv::report::Document& doc) {
  nv::report::TextOptions o;
  if (doc.paper.width > doc.paper.height) o.chars_per_inch = 12;
  return o;
}

void InitLibrary(nv::ui::ErrorReporter* reporter, nv::ui::ProfileObject* profile) {
  Library& lib = Lib();
  if (reporter != nullptr) nv::ui::SetCurrentErrorReporter(reporter);
  std::lock_guard<std::mutex> lock(lib.mu);
  if (profile != nullptr) lib.current_profile = profile;
}

void OnLoad() {
  Library& lib = Lib();
  nv::ui::SetCurrentErrorReporter(&lib.reporter);
  // Once per process: the file-structure upgrade manager.
  static std::once_flag upgrade_manager;
  std::call_once(upgrade_manager, [] {
    nv::platform::ds_SetOption("BadFile", 0);
    nv::platform::ds_AddDriver("Vtr");
    nv::platform::ds_IgnoreDriver("AllFiles", 1);
    nv::platform::ds_SetOption("SPCreate", 1);
    nv::platform::ds_SetOption("Backup", 1);
  });
}

nv::ui::ProfileObject& CurrentProfile() {
  Library& lib = Lib();
  std::lock_guard<std::mutex> lock(lib.mu);
  return *lib.current_profile;
}

}  // namespace fxr4
