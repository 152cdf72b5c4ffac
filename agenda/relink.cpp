#include "agenda/relink.h"

#include <cstring>

#include "agenda/text.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/runtime/decimal.h"
#include "host/runtime/error_state.h"
#include "host/runtime/fixed_string.h"
#include "host/ui/window.h"

namespace agenda {

using nv::dict::CallRecord;
using nv::dict::RE09Record;
using nv::dict::TransferRecord;

namespace {

constexpr size_t kCallNumberWidth = 30;

int32_t Get32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

int32_t GetGroup(const uint8_t* p) {
  int64_t v = 0;
  return nv::DecimalToScaled(p, 3, &v) ? int32_t(v) : 0;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Call files.

CallFileView CallLegView(nv::File& file, std::string_view key_label) {
  return {&file, file.key(key_label), offsetof(CallRecord, NROTEL), offsetof(CallRecord, CODIGO),
          offsetof(CallRecord, GRUAGE)};
}

CallFileView TransferView(nv::File& file, std::string_view key_label) {
  return {&file, file.key(key_label), offsetof(TransferRecord, NROTEL),
          offsetof(TransferRecord, CODIGO), offsetof(TransferRecord, GRUAGE)};
}

CallRelinker::CallRelinker(nv::File& re09, std::vector<CallFileView> calls, std::string_view number)
    : lookup_(re09), calls_(std::move(calls)), number_(nv::Clip(number)) {
  positioned_.assign(calls_.size(), false);
  // Skip files that cannot be read by number.
  for (size_t i = 0; i < calls_.size(); ++i) {
    if (calls_[i].file == nullptr || calls_[i].number_key == nullptr) calls_[i].file = nullptr;
  }
}

CallRelinker::~CallRelinker() {
  Finish();
}

void CallRelinker::Begin() {
  if (begun_) return;
  begun_ = true;
  lookup_.ResetCache();
  for (const CallFileView& v : calls_) {
    if (v.file != nullptr && !before_write_) v.file->Stream();
  }
  // An empty number (or one longer than any call number) reaches no call.
  if (number_.empty() || number_.size() > kCallNumberWidth) {
    current_ = calls_.size();
    return;
  }
  for (size_t i = 0; i < calls_.size(); ++i) Position(i);
  while (current_ < calls_.size() && calls_[current_].file == nullptr) ++current_;
}

void CallRelinker::Position(size_t i) {
  const CallFileView& v = calls_[i];
  if (v.file == nullptr) return;
  v.file->Clear();
  nv::AssignPadded(reinterpret_cast<char*>(v.file->record() + v.nrotel), kCallNumberWidth, number_);
  if (const int err = v.file->Set(v.number_key, v.number_key); err != 0) {
    Failed(v, err);
    calls_[i].file = nullptr;
    return;
  }
  positioned_[i] = true;
}

void CallRelinker::Failed(const CallFileView& v, int code) {
  if (errors_++ == 0) {
    first_error_ = code;
    first_error_label_ = v.label;
  }
}

int CallRelinker::Step(int limit) {
  if (!begun_) Begin();
  int read = 0;
  while (current_ < calls_.size()) {
    if (limit > 0 && read >= limit) break;
    const CallFileView& v = calls_[current_];
    bool next_file = v.file == nullptr;
    if (!next_file) {
      if (v.file->Next() != 0) {
        next_file = true;
      } else {
        uint8_t* rec = v.file->record();
        const std::string_view call_number = nv::Clip(
            std::string_view(reinterpret_cast<const char*>(rec + v.nrotel), kCallNumberWidth));
        if (!StartsWith(call_number, number_)) {
          next_file = true;
        } else {
          ++read;
          ++visited_;
          const CallLink link = lookup_.Find(call_number);
          if (Get32(rec + v.codigo) != link.codigo || GetGroup(rec + v.gruage) != link.gruage) {
            std::memcpy(rec + v.codigo, &link.codigo, sizeof link.codigo);
            nv::DecimalFromInt64(link.gruage, rec + v.gruage, 3, 0);
            if (before_write_) before_write_(*v.file);
            if (const int err = v.file->Put(); err != 0) {
              // Held by another station, say: the call keeps its old link.
              Failed(v, err);
            } else {
              ++changed_;
            }
          }
        }
      }
    }
    if (next_file) {
      ++current_;
      while (current_ < calls_.size() && calls_[current_].file == nullptr) ++current_;
    }
  }
  return read;
}

void CallRelinker::Finish() {
  if (finished_ || !begun_) return;
  finished_ = true;
  if (before_write_) return;
  for (const CallFileView& v : calls_) {
    if (v.file != nullptr) v.file->Flush();
  }
  // Files dropped after an error were streamed too.
}

// ---------------------------------------------------------------------------
// The program's files.

namespace {

struct CallFileName {
  const char* label;
  const char* key;
  bool transfer;
};
constexpr CallFileName kCallFiles[] = {{"FXMO01", "MO01:MO01_C9", false},
                                       {"FXMO02", "MO02:MO02_C9", false},
                                       {"FXTR01", "TR01:TR01_C9", true},
                                       {"FXTR02", "TR02:TR02_C9", true}};

}  // namespace

RelinkFiles::RelinkFiles(nv::dict::Dictionary& dic) : dic_(dic) {
  nv::dict::FileAccess* re09 = dic.Access("FXRE09");
  if (re09 == nullptr || re09->UseFile() != 0) return;
  used_.push_back("FXRE09");
  re09_ = &re09->file();
  saved_re09_.assign(re09_->record(), re09_->record() + re09_->record_length());
  // A missing call file has no calls: no message about it. A call file
  // that exists but cannot be opened (damaged, refused) is left out too,
  // but said, so that its calls are not taken as linked in silence.
  nv::dict::ErrorReporter* reporter = dic.reporter();
  dic.set_reporter(nullptr);
  for (const CallFileName& c : kCallFiles) {
    nv::dict::FileAccess* a = dic.Access(c.label);
    const int err = a == nullptr ? nv::kErrFileNotFound : a->UseFile();
    if (err != 0) {
      if (err != nv::kErrFileNotFound && reporter != nullptr)
        reporter->FileError(c.label, "Open", err, nv::ErrorText());
      calls_.push_back({});
      continue;
    }
    used_.push_back(c.label);
    calls_.push_back(c.transfer ? TransferView(a->file(), c.key) : CallLegView(a->file(), c.key));
    calls_.back().label = c.label;
  }
  dic.set_reporter(reporter);
}

RelinkFiles::~RelinkFiles() {
  if (re09_ != nullptr) {
    // The directory buffer and position go back to the number it held.
    std::memcpy(re09_->record(), saved_re09_.data(), saved_re09_.size());
    auto& r = re09_->As<RE09Record>();
    if (!r.NROTEL.empty()) {
      nv::KeyDecl* k = re09_->key("RE09:RE09_C1");
      if (k == nullptr || re09_->Get(k) != 0)
        std::memcpy(re09_->record(), saved_re09_.data(), saved_re09_.size());
    }
  }
  for (auto it = used_.rbegin(); it != used_.rend(); ++it) dic_.Access(*it)->Close();
}

nv::File& RelinkFiles::re09() {
  return *re09_;
}

std::string ClockPicture(int n) {
  char name[32];
  std::snprintf(name, sizeof name, "RELOJ%02d.ICO", n);
  return name;
}

namespace {

// A run that could not write every call says so once, through the
// dictionary's error reporter (the window would otherwise close as if all
// were linked).
void ReportFailures(nv::dict::Dictionary& dic, const CallRelinker& run) {
  if (run.errors() == 0 || dic.reporter() == nullptr) return;
  dic.reporter()->FileError(run.first_error_label(), "Put", run.first_error(),
                            nv::ErrorTextOf(run.first_error()));
}

}  // namespace

int64_t RelinkCalls(std::string_view number) {
  nv::dict::Dictionary* dic = nv::dict::Dic();
  if (dic == nullptr) return -1;
  RelinkFiles files(*dic);
  if (!files.ok()) return -1;
  CallRelinker run(files.re09(), files.calls(), nv::Clip(number).substr(0, 40));
  run.Begin();
  run.Step(0);
  run.Finish();
  ReportFailures(*dic, run);
  return run.visited();
}

// ---------------------------------------------------------------------------
// The window.

namespace {

enum : nv::ui::ControlId { kActTexto1 = 1, kActTexto2, kActReloj };

nv::ui::WindowDef ActualizandoWindow() {
  using namespace nv::ui;
  return WindowDef(A("Actualizando..."), {Image(kActReloj, ClockPicture(1)),
                                          Prompt(A("Actualizando la base de datos..."), kActTexto1),
                                          Prompt(A("Aguarde un momento por favor."), kActTexto2)})
      .Timer(1);
}

}  // namespace

int64_t Actualizar_MOyTR(std::string_view number) {
  using namespace nv::ui;
  nv::dict::Dictionary* dic = nv::dict::Dic();
  if (dic == nullptr) return -1;
  RelinkFiles files(*dic);
  if (!files.ok()) return -1;
  CallRelinker run(files.re09(), files.calls(), nv::Clip(number).substr(0, 40));
  Window w(ActualizandoWindow());
  int picture = 1;
  bool cut = false;  // the last tick stopped at the limit
  w.Open();
  while (w.Accept()) {
    switch (w.Event()) {
      case Event::kOpenWindow:
        run.Begin();
        break;
      case Event::kTimer: {
        const int read = run.Step(kRecordsPerTick);
        picture = picture % kClockPictures + 1;
        w.SetText(kActReloj, ClockPicture(picture));
        cut = read >= kRecordsPerTick;
        if (!cut) w.Close(kCompleted);
        break;
      }
      case Event::kCloseWindow:
        // The work always finishes: no close while a tick was cut.
        if (cut && !run.done()) w.KeepOpen();
        break;
      default:
        break;
    }
  }
  // A window ended from outside still leaves every call linked.
  if (!run.done()) run.Step(0);
  run.Finish();
  ReportFailures(*dic, run);
  return run.visited();
}

}  // namespace agenda
