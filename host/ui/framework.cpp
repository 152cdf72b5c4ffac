#include "host/ui/framework.h"

#include <algorithm>
#include <atomic>

#include "host/runtime/error_state.h"
#include "host/runtime/fixed_string.h"
#include "host/ui/backend.h"

namespace nv::ui {

void ErrorReporter::Kill() {
  std::lock_guard<std::mutex> lock(mu_);
  names_.clear();
}

void ErrorReporter::Enter(std::string_view procedure) {
  std::lock_guard<std::mutex> lock(mu_);
  names_.emplace_back(procedure);
}

void ErrorReporter::Leave(std::string_view procedure) {
  std::lock_guard<std::mutex> lock(mu_);
  if (names_.empty()) return;
  if (procedure.empty()) {
    names_.pop_back();
    return;
  }
  for (auto it = names_.rbegin(); it != names_.rend(); ++it) {
    if (*it == procedure) {
      names_.erase(std::next(it).base());
      return;
    }
  }
}

std::string ErrorReporter::procedure() const {
  std::lock_guard<std::mutex> lock(mu_);
  return names_.empty() ? std::string() : names_.back();
}

void ErrorReporter::ShowError() {
  Show(nv::ErrorText());
}

void ErrorReporter::Show(std::string_view text, std::string_view caption) {
  std::string message(text);
  const std::string proc = procedure();
  if (!proc.empty()) message += "||Procedimiento: " + proc;
  {
    std::lock_guard<std::mutex> lock(mu_);
    shown_.push_back(message);
  }
  Message(message, caption, Icon::kError, "&Aceptar", 1);
}

std::vector<std::string> ErrorReporter::shown() const {
  std::lock_guard<std::mutex> lock(mu_);
  return shown_;
}

ProcedureScope::ProcedureScope(ErrorReporter& reporter, std::string_view name)
    : reporter_(reporter), name_(name) {
  reporter_.Enter(name_);
}
ProcedureScope::~ProcedureScope() {
  reporter_.Leave(name_);
}

namespace {
std::atomic<ErrorReporter*> g_reporter{nullptr};
}

ErrorReporter& CurrentErrorReporter() {
  static ErrorReporter default_reporter;
  ErrorReporter* r = g_reporter.load();
  return r ? *r : default_reporter;
}

void SetCurrentErrorReporter(ErrorReporter* reporter) {
  g_reporter.store(reporter);
}

void ProfileObject::Init(std::string_view file_name) {
  file_.set_name(std::string(file_name));
}
void ProfileObject::Kill() {
  file_.set_name("");
}
std::string ProfileObject::Fetch(std::string_view section, std::string_view entry,
                                 std::string_view def) const {
  return file_.GetString(section, entry, def);
}
long ProfileObject::FetchInt(std::string_view section, std::string_view entry, long def) const {
  return file_.GetInt(section, entry, def);
}
bool ProfileObject::Update(std::string_view section, std::string_view entry,
                           std::string_view value) const {
  return file_.WriteString(section, entry, value);
}

std::string FoldAnsi(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == 0xDF || c == 0xD7 || c == 0xF7) {  // sharp s, multiplication, division
      out.push_back(ch);
      continue;
    }
    if (c == 0xFF) c = 0xDD;                                  // y with diaeresis
    if (c >= 0xE0) c = static_cast<unsigned char>(c - 0x20);  // Latin-1 lower to upper
    char base = 0;
    if (c >= 0xC0 && c <= 0xC5)
      base = 'A';
    else if (c == 0xC7)
      base = 'C';
    else if (c >= 0xC8 && c <= 0xCB)
      base = 'E';
    else if (c >= 0xCC && c <= 0xCF)
      base = 'I';
    else if (c == 0xD1)
      base = 'N';
    else if (c >= 0xD2 && c <= 0xD6)
      base = 'O';
    else if (c >= 0xD9 && c <= 0xDC)
      base = 'U';
    else if (c == 0xDD)
      base = 'Y';
    out.push_back(base ? base : nv::UpperChar(static_cast<char>(c)));
  }
  return out;
}

void FuzzyMatch::SetOption(int option, bool on) {
  if (option == 1) fold_ = on;
  if (option == 2) any_order_ = on;
}

bool FuzzyMatch::Option(int option) const {
  if (option == 1) return fold_;
  if (option == 2) return any_order_;
  return false;
}

int FuzzyMatch::Match(std::string_view typed, std::string_view stored) const {
  std::string a(nv::Clip(typed)), b(nv::Clip(stored));
  while (!a.empty() && a.front() == ' ') a.erase(a.begin());
  if (fold_) {
    a = FoldAnsi(a);
    b = FoldAnsi(b);
  }
  if (a.empty()) return 0;
  if (a == b) return 100;
  if (!any_order_) {
    size_t at = b.find(a);
    if (at == std::string::npos) return 0;
    // Longer matches and matches at the start score higher.
    int score = 50 + int(49 * a.size() / std::max<size_t>(b.size(), 1));
    if (at != 0) score -= 10;
    return std::clamp(score, 1, 99);
  }
  size_t words = 0, found = 0, start = 0;
  while (start < a.size()) {
    size_t end = a.find(' ', start);
    if (end == std::string::npos) end = a.size();
    if (end > start) {
      ++words;
      if (b.find(a.substr(start, end - start)) != std::string::npos) ++found;
    }
    start = end + 1;
  }
  if (found != words) return 0;
  return std::clamp(50 + int(49 * a.size() / std::max<size_t>(b.size(), 1)), 1, 99);
}

}  // namespace nv::ui
