#include "host/ui/progress.h"

#include <algorithm>

#include "host/runtime/file.h"
#include "host/ui/backend.h"

namespace nv::ui {

namespace {

WindowDef ProgressDef(std::string_view user_text, std::string_view caption) {
  return WindowDef(std::string(caption),
                   {Progress(ProgressWindow::kThermometer),
                    Prompt(std::string(user_text), ProgressWindow::kUserText),
                    Prompt("0 %", ProgressWindow::kPercent),
                    Button(ProgressWindow::kCancelar, "Cancelar")})
      .Size(240, 80);
}

}  // namespace

ProgressWindow::ProgressWindow(std::string_view user_text, std::string_view caption)
    : window_(ProgressDef(user_text, caption)) {
  window_.SetProgressRange(kThermometer, 0, 100);
}

void ProgressWindow::Open() {
  window_.Open();
  Poll();
}

void ProgressWindow::Close() {
  if (!window_.is_open()) return;
  window_.Close(cancelled_ ? kCancelled : kCompleted);
  // Drain: the close comes through as the last event.
  while (window_.Accept()) {
  }
}

void ProgressWindow::SetText(std::string_view text) {
  window_.SetText(kUserText, text);
}

void ProgressWindow::SetPercentSuffix(std::string_view suffix) {
  percent_suffix_ = std::string(suffix);
  window_.SetText(kPercent, std::to_string(percent_ < 0 ? 0 : percent_) + percent_suffix_);
}

void ProgressWindow::Poll() {
  while (window_.Poll()) {
    if ((window_.Event() == Event::kAccepted && window_.Field() == kCancelar) ||
        window_.Event() == Event::kCloseWindow) {
      cancelled_ = true;
    }
  }
}

bool ProgressWindow::Step(int64_t done, int64_t total) {
  int p = 0;
  if (total > 0) p = int(std::clamp<int64_t>(done, 0, total) * 100 / total);
  if (p != percent_) {
    percent_ = p;
    window_.SetProgress(kThermometer, p);
    window_.SetText(kPercent, std::to_string(p) + percent_suffix_);
  }
  Poll();
  return !cancelled_;
}

void TellNoRecords() {
  Message(kNoRecordsText, "Atenci\xF3n", Icon::kInformation);
}

int64_t RunProcess(nv::File& file, nv::KeyDecl* key, const std::function<bool()>& filter,
                   const std::function<bool()>& each, ProgressWindow* progress) {
  const int64_t total = key ? file.Records(key) : file.Records();
  if (key) {
    file.Set(key);
  } else {
    file.Set();
  }
  int64_t read = 0, handed = 0;
  while (file.Next() == 0) {
    ++read;
    if (!filter || filter()) {
      ++handed;
      if (!each()) break;
    }
    if (progress && !progress->Step(read, total)) return -1;
  }
  if (progress && !progress->Step(total, total)) return -1;
  return handed;
}

}  // namespace nv::ui
