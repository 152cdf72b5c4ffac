#include "reports/csv_export.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "host/dictionary/dictionary.h"
#include "host/dictionary/services.h"
#include "host/runtime/codepage.h"
#include "host/runtime/date_time.h"
#include "host/runtime/driver_interface.h"
#include "host/runtime/file.h"

namespace fxr4 {

namespace {

constexpr size_t kAgendaWidth = 40;  // LOC:AGENDA
constexpr size_t kRememberedNumbers = 200000;

void Two(std::string* out, int v) {
  out->push_back(char('0' + v / 10 % 10));
  out->push_back(char('0' + v % 10));
}

std::string DateText(int32_t day) {
  int y, m, d;
  if (day <= 0 || !nv::YmdFromDate(day, &y, &m, &d)) return {};
  std::string s;
  Two(&s, d);
  s += '/';
  Two(&s, m);
  s += '/';
  s += std::to_string(y);
  return s;
}

std::string TimeText(int32_t time) {
  int h, m, sec, hs;
  if (!nv::HmsFromTime(time, &h, &m, &sec, &hs)) return {};
  std::string s;
  Two(&s, h);
  s += ':';
  Two(&s, m);
  s += ':';
  Two(&s, sec);
  return s;
}

std::string DurationText(int64_t seconds) {
  std::string s = std::to_string(seconds / 3600) + ":";
  Two(&s, int(seconds / 60 % 60));
  s += ':';
  Two(&s, int(seconds % 60));
  return s;
}

std::string Number(double v, int places) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, places);
  return res.ec == std::errc() ? std::string(buf, res.ptr) : std::string();
}

}  // namespace

CsvExport::CsvExport(std::string path, std::string group_title)
    : path_(std::move(path)), group_title_(std::move(group_title)) {}

CsvExport::~CsvExport() {
  if (f_ != nullptr && f_ != stdout) std::fclose(f_);
}

bool CsvExport::Open() {
  f_ = path_ == "-" ? stdout : std::fopen(path_.c_str(), "wb");
  if (f_ == nullptr) {
    error_ = "no se puede escribir " + path_ + ": " + std::strerror(errno);
    return false;
  }
  if (f_ != stdout) std::setvbuf(f_, nullptr, _IOFBF, 1 << 16);
  line_ = "\xEF\xBB\xBF";  // the byte-order mark
  for (const char* t : {"Fecha", "Hora", "Línea", "Interno", "Número", "Duración (segundos)",
                        "Duración", "Costo", "Tipo", "Origen/Destino"}) {
    Field(t);
  }
  Field("Agenda", group_title_.empty());
  if (!group_title_.empty()) Field(group_title_, true);
  line_ += "\r\n";
  return std::fwrite(line_.data(), 1, line_.size(), f_) == line_.size();
}

void CsvExport::Field(std::string_view utf8, bool last) {
  if (utf8.find_first_of(",\"\r\n") != std::string_view::npos) {
    line_ += '"';
    for (char c : utf8) {
      if (c == '"') line_ += '"';
      line_ += c;
    }
    line_ += '"';
  } else {
    line_ += utf8;
  }
  if (!last) line_ += ',';
}

void CsvExport::Row(const nv::dict::CallRecord& r, std::string_view agenda,
                    std::string_view group) {
  if (f_ == nullptr) return;
  line_.clear();
  const int64_t seconds = r.DURLLA > 0 ? r.DURLLA / 100 : 0;
  Field(DateText(r.FECLLA.day()));
  Field(TimeText(r.HORLLA));
  Field(nv::Utf8FromAnsi(r.NROLIN.clipped()));
  Field(nv::Utf8FromAnsi(r.NROINT.clipped()));
  Field(nv::Utf8FromAnsi(r.NROTEL.clipped()));
  Field(std::to_string(seconds));
  Field(DurationText(seconds));
  Field(Number(r.COSLLA, 2));
  Field(nv::Utf8FromAnsi(r.TIPOLLA.clipped()));
  Field(nv::Utf8FromAnsi(r.DESLLA.clipped()));
  const bool has_group = !group_title_.empty();
  Field(nv::Utf8FromAnsi(nv::Clip(agenda)), !has_group);
  if (has_group) Field(nv::Utf8FromAnsi(nv::Clip(group)), true);
  line_ += "\r\n";
  std::fwrite(line_.data(), 1, line_.size(), f_);
  ++rows_;
}

bool CsvExport::Close() {
  if (f_ == nullptr) return error_.empty();
  bool ok = std::fflush(f_) == 0 && !std::ferror(f_);
  if (f_ != stdout) ok = std::fclose(f_) == 0 && ok;
  f_ = nullptr;
  if (!ok && error_.empty()) error_ = "no se pudo escribir " + path_ + ": " + std::strerror(errno);
  return ok;
}

AgendaTexts::AgendaTexts(const nv::dict::Dictionary& dict) : ma11_(dict.NewFile("FXMA11")) {
  std::unique_ptr<nv::File> re09 = dict.NewFile("FXRE09");
  if (re09 == nullptr || re09->Open(nv::kReadOnly | nv::kDenyNone) != 0) return;
  const auto& r = re09->As<nv::dict::RE09Record>();
  if (re09->Set() == 0) {
    while (re09->Next() == 0) {
      std::string number(r.NROTEL.clipped());
      if (number.empty()) continue;
      int64_t code = 0;
      r.CODIGO.Scaled(&code);
      longest_ = std::max(longest_, number.size());
      numbers_.emplace(std::move(number), Number{int32_t(code), r.COMENT.str()});
    }
  }
  re09->Close();
  if (ma11_ != nullptr && ma11_->Open(nv::kReadOnly | nv::kDenyNone) != 0) ma11_.reset();
}

AgendaTexts::~AgendaTexts() = default;

std::string AgendaTexts::Describe(std::string_view x) {
  // From the longest possible prefix down: the first found is the longest.
  for (size_t len = std::min(longest_, x.size()); len > 0; --len) {
    auto it = numbers_.find(std::string(x.substr(0, len)));
    if (it == numbers_.end()) continue;
    const Number& n = it->second;
    auto name = names_.find(n.code);
    if (name == names_.end()) {
      std::string text;
      if (ma11_ != nullptr) {
        auto& e = ma11_->As<nv::dict::MA11Record>();
        e = {};
        e.CODIGO = n.code;
        if (ma11_->Get(ma11_->key("MA11:MA11_CP")) == 0) text = e.NOMBRE.str();
      }
      name = names_.emplace(n.code, std::move(text)).first;
    }
    if (name->second.empty()) return n.comment;
    if (n.comment.empty()) return name->second;
    return name->second + " - " + n.comment;
  }
  return {};
}

const std::string& AgendaTexts::Of(std::string_view nrotel) {
  std::string key(nv::Clip(nrotel));
  auto it = seen_.find(key);
  if (it != seen_.end()) return it->second;
  if (seen_.size() >= kRememberedNumbers) seen_.clear();
  std::string text = Describe(key);
  if (text.size() > kAgendaWidth) text.resize(kAgendaWidth);
  text = std::string(nv::Clip(text));
  return seen_.emplace(std::move(key), std::move(text)).first->second;
}

DetailCsvRows::DetailCsvRows(const nv::dict::Dictionary& dict, const DetailProc& proc)
    : p_(proc), agenda_(dict) {
  if (proc.field == GroupField::kNROCTA) {
    ma09_ = dict.NewFile("FXMA09");
    if (ma09_ != nullptr && ma09_->Open(nv::kReadOnly | nv::kDenyNone) != 0) ma09_.reset();
  }
}
DetailCsvRows::~DetailCsvRows() = default;

std::string DetailCsvRows::GroupTitle(const DetailProc& proc) {
  switch (proc.field) {
    case GroupField::kNROCTA:
      return "Cuenta";
    case GroupField::kCODAGT:
      return "Agentes";
    case GroupField::kGRULIN:
    case GroupField::kGRUINT:
    case GroupField::kGRUCTA:
    case GroupField::kGRUAGE:
    case GroupField::kGRUAGT:
      return "Grupo";
    default:
      return "";
  }
}

void DetailCsvRows::Row(CsvExport& out, const nv::dict::CallRecord& r) {
  auto dec = [](const nv::Decimal<3, 0>& d) {
    int64_t v = 0;
    return d.Scaled(&v) ? v : 0;
  };
  std::string group;
  switch (p_.field) {
    case GroupField::kNROCTA:
      if (ma09_ != nullptr) {
        auto& a = ma09_->As<nv::dict::MA09Record>();
        a = {};
        a.NROCTA = r.NROCTA.view();
        if (ma09_->Get(ma09_->key("MA09:MA09_CP")) == 0) group = a.DESCTA.str();
      }
      break;
    case GroupField::kGRULIN:
      group = std::to_string(dec(r.GRULIN));
      break;
    case GroupField::kGRUINT:
      group = std::to_string(dec(r.GRUINT));
      break;
    case GroupField::kGRUCTA:
      group = std::to_string(dec(r.GRUCTA));
      break;
    case GroupField::kGRUAGE:
      group = std::to_string(dec(r.GRUAGE));
      break;
    case GroupField::kCODAGT:
      group = std::to_string(r.CODAGT);
      break;
    case GroupField::kGRUAGT:
      group = std::to_string(r.GRUAGT);
      break;
    default:
      break;
  }
  out.Row(r, agenda_.Of(r.NROTEL.view()), group);
}

}  // namespace fxr4
