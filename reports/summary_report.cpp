#include "reports/summary_report.h"

#include <memory>
#include <vector>

#include "host/dictionary/dictionary.h"
#include "host/dictionary/services.h"
#include "host/report/report.h"
#include "host/runtime/codepage.h"
#include "host/runtime/date_time.h"
#include "host/runtime/driver_interface.h"
#include "host/runtime/env.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "host/runtime/picture.h"
#include "host/runtime/view.h"
#include "host/ui/framework.h"
#include "host/ui/progress.h"
#include "reports/csv_export.h"
#include "reports/fixed_filters.h"
#include "reports/output.h"
#include "reports/params.h"

namespace fxr4 {

namespace {

using nv::dict::CallRecord;
using nv::report::Align;
using nv::report::Band;
using nv::report::Item;
using RValue = nv::report::Value;

std::string A(std::string_view utf8) {
  return nv::AnsiFromUtf8(utf8);
}

constexpr int kEnd = 33;  // the end of the view

// Twelve characters and six lines to the inch, 8-point type.
int32_t X(int col) {
  return col * 1000 / 12;
}
constexpr int32_t kRow = 167;
constexpr nv::report::Font kSmall{8, false};

Item L(int col, int row, std::string_view text, int width = 0, Align align = Align::kLeft) {
  const std::string t = A(text);
  return Item::Label(X(col), row * kRow, X(width > 0 ? width : int(t.size())), t, align, kSmall);
}
Item F(int col, int row, int width, std::string name, std::string picture,
       Align align = Align::kLeft) {
  return Item::Field(X(col), row * kRow, X(width), std::move(name), std::move(picture), align,
                     kSmall);
}

int64_t DecimalValue(const nv::Decimal<3, 0>& d) {
  int64_t v = 0;
  return d.Scaled(&v) ? v : 0;
}

// The family column's value of a call.
RValue ColumnValue(std::string_view field, const CallRecord& r, const nv::File* ma09) {
  if (field == "GRULIN") return RValue::Number(double(DecimalValue(r.GRULIN)));
  if (field == "GRUINT") return RValue::Number(double(DecimalValue(r.GRUINT)));
  if (field == "GRUCTA") return RValue::Number(double(DecimalValue(r.GRUCTA)));
  if (field == "GRUAGE") return RValue::Number(double(DecimalValue(r.GRUAGE)));
  if (field == "CODAGT") return RValue::Number(r.CODAGT);
  if (field == "GRUAGT") return RValue::Number(r.GRUAGT);
  if (field == "MA09:DESCTA" && ma09 != nullptr) {
    return RValue::String(
        std::string(const_cast<nv::File*>(ma09)->As<nv::dict::MA09Record>().DESCTA.clipped()));
  }
  return RValue::String("");
}

std::string ColumnText(const RValue& v) {
  if (v.kind == RValue::Kind::kNumber) return std::to_string(int64_t(v.number));
  return v.text;
}

class SummaryRun {
 public:
  SummaryRun(const SummaryProc& proc, const nv::dict::Dictionary& dict, const RunOptions& options,
             CsvExport* csv, bool select_only = false)
      : p_(proc), dict_(dict), options_(options), csv_(csv), select_only_(select_only) {}

  RunResult Run(std::string_view option, std::string_view block, std::string_view opc);

 private:
  void TakeBlock(std::string_view block);
  void BuildHeadings();
  bool EmptyRange() const;
  bool OpenFiles();
  std::unique_ptr<nv::File> Open(const char* label, bool needed);
  bool SetUpView(nv::View* view);
  // The fields the run reads from the view's buffers; empty: whole records.
  std::vector<std::string> ViewFields() const;
  std::string FilterText() const;
  // Families read by key C1 (leading component the year) whose selection
  // lies within DESFEC..HASFEC: the view walks those years and the run
  // stops past HASFEC.
  bool DateKeyRange() const {
    return p_.kind == SummaryKind::kFree || p_.kind == SummaryKind::kUnrated ||
           p_.kind == SummaryKind::kDirectory || p_.kind == SummaryKind::kDates ||
           p_.kind == SummaryKind::kRequirement;
  }
  bool Fail(const std::string& text_ansi);
  void Stamp();

  const SummaryProc& p_;
  const nv::dict::Dictionary& dict_;
  const RunOptions& options_;
  CsvExport* csv_;
  const bool select_only_;  // no directory texts, no output
  RunResult result_;
  nv::report::Report report_;

  // The local copies of the arguments, and the names the filter binds.
  std::string option_;
  Window window_;  // as the block gives it
  int32_t desfec_ = 0, hasfec_ = 0, deshor_ = 0, hashor_ = 0;
  std::string curtab_, desde_, hasta_;  // clipped texts
  int64_t low_ = 0, high_ = 0;
  nv::String<50> desde50_, hasta50_;
  PARAM_RPT_REQUE reque_{};
  OPC_IMPRESION opc_{};
  std::string loc_tipo_;
  nv::String<kSummaryFilterBufferSize> filter_buffer_;

  std::unique_ptr<nv::File> calls_, ma07_, ma08_, ma09_, ma02_;
  std::unique_ptr<AgendaTexts> agenda_;
  std::unique_ptr<nv::ui::ProgressWindow> progress_;
};

void SummaryRun::TakeBlock(std::string_view block) {
  auto common = [&](const auto& b) {
    window_ = Window{b.DESFEC, b.HASFEC, b.DESHOR, b.HASHOR};
    curtab_ = b.CURTAB.str();
  };
  if (p_.kind == SummaryKind::kRequirement) {
    reque_ = CopiedBlock<PARAM_RPT_REQUE>(block);
    common(reque_);
  } else if (p_.block == BlockKind::kCtas) {
    PARAM_RPT_CTAS b = CopiedBlock<PARAM_RPT_CTAS>(block);
    common(b);
    desde50_ = b.DESDE.view();
    hasta50_ = b.HASTA.view();
    desde_ = b.DESDE.str();
    hasta_ = b.HASTA.str();
  } else if (p_.block == BlockKind::kCod) {
    PARAM_RPT_COD b = CopiedBlock<PARAM_RPT_COD>(block);
    common(b);
    low_ = b.DESDE;
    high_ = b.HASTA;
    desde_ = std::to_string(low_);
    hasta_ = std::to_string(high_);
  } else {
    PARAM_RPT b = CopiedBlock<PARAM_RPT>(block);
    common(b);
    desde_ = b.DESDE.str();
    hasta_ = b.HASTA.str();
  }
  desfec_ = window_.desfec;
  hasfec_ = window_.hasfec;
  deshor_ = window_.deshor;
  hashor_ = window_.hashor;
  // The families that always use the time-window text would, with no times
  // given, keep of HASFEC only the calls stored with time 0: their last
  // instant is then the end of that day.
  if ((p_.kind == SummaryKind::kDates || p_.kind == SummaryKind::kRequirement) &&
      !window_.timed()) {
    hashor_ = kLastInstant;
  }
}

void SummaryRun::BuildHeadings() {
  const SpecialKind special = SpecialOf(p_.name);
  if (special != SpecialKind::kNone) {
    SpecialHeadings(special, p_.direction, option_, window_, curtab_, result_.titles);
  } else {
    FamilyHeadings(SummaryHeadings(p_), window_, curtab_, desde_, hasta_, result_.titles);
  }
}

bool SummaryRun::EmptyRange() const {
  if (p_.range == RangeKind::kText) {
    return nv::CompareClipped(desde_, hasta_) > 0;
  }
  if (p_.range == RangeKind::kNumber) return low_ > high_;
  return false;
}

bool SummaryRun::Fail(const std::string& text_ansi) {
  nv::ui::CurrentErrorReporter().Show(text_ansi);
  result_.status = RunResult::kOpenFailed;
  return false;
}

std::unique_ptr<nv::File> SummaryRun::Open(const char* label, bool needed) {
  std::unique_ptr<nv::File> f = dict_.NewFile(label);
  const int rc = f != nullptr ? f->Open(nv::kReadOnly | nv::kDenyNone) : nv::kErrFileNotFound;
  if (rc == 0) return f;
  if (needed) {
    const std::string why =
        f != nullptr && nv::ErrorCode() == rc ? nv::ErrorText() : nv::ErrorTextOf(rc);
    if (result_.open_error == 0) result_.open_error = rc;
    Fail(A(f == nullptr || std::string_view(label).substr(0, 4) == "FXMO"
               ? "No se puede abrir el archivo de llamadas "
               : "No se puede abrir el archivo ") +
         label + " (" + dict_.EffectiveName(label) + "): " + A(why));
  }
  return nullptr;
}

bool SummaryRun::OpenFiles() {
  calls_ = Open(CallLabel(p_.direction), true);
  if (calls_ == nullptr) return false;
  if (p_.kind == SummaryKind::kAccounts || p_.kind == SummaryKind::kRequirement) {
    if ((ma09_ = Open("FXMA09", true)) == nullptr) return false;
  }
  if (p_.kind == SummaryKind::kRequirement) {
    if ((ma07_ = Open("FXMA07", true)) == nullptr) return false;
    if ((ma08_ = Open("FXMA08", true)) == nullptr) return false;
    if ((ma02_ = Open("FXMA02", true)) == nullptr) return false;
  }
  agenda_ = std::make_unique<AgendaTexts>(dict_);
  return true;
}

std::string SummaryRun::FilterText() const {
  const std::string prefix = CallPrefix(p_.direction);
  const bool typed = !nv::Clip(loc_tipo_).empty();
  const bool timed = window_.timed();
  switch (p_.kind) {
    case SummaryKind::kStandard:
    case SummaryKind::kDirectory:
      return StandardFilter(prefix, timed, typed);
    case SummaryKind::kDates:
      return DateFilter(prefix, typed);
    case SummaryKind::kAccounts:
      return AccountFilter(prefix, timed, typed);
    case SummaryKind::kFree:
      return FreeFilter();
    case SummaryKind::kUnrated:
      return UnratedFilter();
    case SummaryKind::kRequirement:
      return RequirementFilter(prefix, typed);
  }
  return {};
}

bool SummaryRun::SetUpView(nv::View* view) {
  const std::string prefix = CallPrefix(p_.direction);
  nv::expr::Error error;
  auto join = [&](nv::File* f, const char* key, const char* field, bool inner) {
    return view->Join(f, f->key(key), {prefix + ":" + field}, &error, inner);
  };
  bool ok = true;
  if (p_.kind == SummaryKind::kAccounts) {
    // Only calls of an existing account, as the detail form walks them.
    ok = join(ma09_.get(), "MA09:MA09_CP", "NROCTA", true);
  } else if (p_.kind == SummaryKind::kRequirement) {
    ok = join(ma07_.get(), "MA07:MA07_CP", "NROLIN", false) &&
         join(ma08_.get(), "MA08:MA08_CP", "NROINT", false) &&
         join(ma09_.get(), "MA09:MA09_CP", "NROCTA", false) &&
         join(ma02_.get(), "MA02:MA02_CP", "CODAGT", false);
  }
  nv::expr::Bindings& b = view->bindings();
  b.Bind("DesFec", &desfec_);
  b.Bind("HasFec", &hasfec_);
  b.Bind("DesHor", &deshor_);
  b.Bind("HasHor", &hashor_);
  b.Bind("Loc:Tipo", &loc_tipo_);
  if (p_.block == BlockKind::kCtas) {
    b.Bind("Desde", &desde50_);
    b.Bind("Hasta", &hasta50_);
  }
  if (p_.kind == SummaryKind::kRequirement) {
    b.Bind("DesDur", &reque_.DESDUR);
    b.Bind("HasDur", &reque_.HASDUR);
    b.Bind("DesCos", &reque_.DESCOS);
    b.Bind("HasCos", &reque_.HASCOS);
    b.Bind("DesNro", &reque_.DESNRO);
    b.Bind("HasNro", &reque_.HASNRO);
    b.Bind("Opciones_Agenda", &reque_.OPCIONES_AGENDA);
    b.Bind("Opciones_Agentes", &reque_.OPCIONES_AGENTES);
    b.Bind("Opciones_Ctas", &reque_.OPCIONES_CTAS);
    b.BindProcedure("RANGO_STRING",
                    [](const std::string& v, const std::string& first, const std::string& last) {
                      return nv::Value(nv::dict::RANGO_STRING(v, first, last) ? 1 : 0);
                    });
  }
  if (*p_.key_suffix != 0) view->SetKey(calls_->key(OrderKey(prefix, p_.key_suffix)));
  if (p_.range == RangeKind::kText) {
    view->SetRange(nv::Value(desde_), nv::Value(hasta_));
  } else if (p_.range == RangeKind::kNumber) {
    view->SetRange(nv::Value(double(low_)), nv::Value(double(high_)));
  }
  if (p_.kind == SummaryKind::kStandard && p_.key_suffix != std::string_view("_C1")) {
    // The date and time window the filter text tests, also on the key's
    // components under the leading one, so that the walk seeks to it in
    // each value instead of reading every call of the value.
    std::vector<std::string> fields = {prefix + ":FECLLA"};
    std::vector<nv::Value> low = {nv::Value(desfec_)}, high = {nv::Value(hasfec_)};
    if (window_.timed()) {
      fields.push_back(prefix + ":HORLLA");
      low.emplace_back(deshor_);
      high.emplace_back(hashor_);
    }
    ok = view->SetWindow(fields, low, high, &error) && ok;
  }
  if (DateKeyRange()) {
    int y1, y2, m, d;
    if (nv::YmdFromDate(window_.desfec, &y1, &m, &d) &&
        nv::YmdFromDate(window_.hasfec, &y2, &m, &d)) {
      view->SetRange(nv::Value(y1), nv::Value(y2));
    }
  }
  // The chosen text, copied whole into the filter buffer; the clipped
  // buffer becomes the view's filter.
  loc_tipo_ = nv::dict::TIPO_LLAMADAS(curtab_);
  filter_buffer_ = FilterText();
  std::string filter(filter_buffer_.clipped());
  if (p_.kind == SummaryKind::kDirectory) {
    filter += " AND " + DirectoryFilter(prefix, option_);
  }
  if (p_.kind == SummaryKind::kAccounts) ok = ok && view->SetOrder(AccountOrder(prefix), &error);
  ok = ok && view->SetFilter(filter, &error);
  if (!ok) {
    result_.status = RunResult::kBadLayout;
    nv::ui::CurrentErrorReporter().Show(A(error.message));
  }
  return ok;
}

std::vector<std::string> SummaryRun::ViewFields() const {
  if (!options_.project || options_.on_selected) return {};
  const std::string prefix = CallPrefix(p_.direction);
  // The date past the range, the totals; the line of the document; the
  // export's row (CsvExport::Row) adds the type and the description.
  std::vector<std::string> names = {"FECLLA", "DURLLA", "COSLLA"};
  if (!select_only_) {
    for (const char* name : {"HORLLA", "NROLIN", "NROINT", "NROTEL"}) names.push_back(name);
  }
  if (csv_ != nullptr) {
    names.push_back("TIPOLLA");
    names.push_back("DESLLA");
  }
  std::vector<std::string> fields;
  for (const std::string& name : names) fields.push_back(prefix + ":" + name);
  // The family column: a field of the call, or of the accounts joined.
  const std::string column(p_.column_field);
  if (!select_only_ && !column.empty() && (column.find(':') == std::string::npos || ma09_)) {
    fields.push_back(column.find(':') == std::string::npos ? prefix + ":" + column : column);
  }
  return fields;
}

void SummaryRun::Stamp() {
  nv::Env* env = nv::GetEnv();
  report_.Set("LOC:FECHA", RValue::Date(env->Today()));
  report_.Set("LOC:HORA", RValue::Time(env->Clock()));
}

RunResult SummaryRun::Run(std::string_view option, std::string_view block, std::string_view opc) {
  nv::ui::ProcedureScope scope(nv::ui::CurrentErrorReporter(), p_.name);
  option_ = std::string(option.substr(0, 1));
  TakeBlock(block);
  opc_ = CopiedBlock<OPC_IMPRESION>(opc);
  BuildHeadings();
  if (!OpenFiles()) return result_;
  nv::View view(calls_.get());
  if (!SetUpView(&view)) return result_;
  if (!view.Project(ViewFields())) {
    result_.status = RunResult::kBadLayout;
    nv::ui::CurrentErrorReporter().Show(A("La vista no tiene los campos del informe"));
    return result_;
  }
  progress_ = std::make_unique<nv::ui::ProgressWindow>("");
  progress_->Open();
  progress_->SetText("");

  const bool document = csv_ == nullptr && !select_only_;
  if (document) {
    nv::report::Status st = report_.Open(SummaryLayout(p_));
    if (!st.ok()) {
      result_.status = RunResult::kBadLayout;
      progress_->Close();
      return result_;
    }
    report_.set_skip_preview(opc_.VISTA_PREVIA != 1);
    report_.set_copies(opc_.COPIAS);
    report_.set_caption(A(p_.caption));
    for (int i = 0; i < 3; ++i) {
      report_.Set("LOC:TITULO" + std::to_string(i + 1), RValue::String(result_.titles[i]));
    }
    Stamp();
  }

  const CallRecord& r = calls_->As<CallRecord>();
  const int64_t total = calls_->Records();
  bool go = true;
  int err = EmptyRange() ? kEnd : view.Set();
  if (err == 0) {
    while ((err = view.Next()) == 0) {
      if (DateKeyRange()) {
        const int32_t f = r.FECLLA.day();
        if (f > window_.hasfec) {
          err = kEnd;
          break;
        }
        if (f < window_.desfec) continue;
      }
      ++result_.calls;
      result_.duration += r.DURLLA;
      result_.cost += r.COSLLA;
      if (select_only_) {
        // counted and totalled only
      } else if (csv_ != nullptr) {
        csv_->Row(r, agenda_->Of(r.NROTEL.view()),
                  ColumnText(ColumnValue(p_.column_field, r, ma09_.get())));
      } else {
        const std::string& agenda = agenda_->Of(r.NROTEL.view());
        Stamp();
        report_.Print("DETALLE", {{"FECLLA", RValue::Date(r.FECLLA.day())},
                                  {"HORLLA", RValue::Time(r.HORLLA)},
                                  {"NROLIN", RValue::String(std::string(r.NROLIN.clipped()))},
                                  {"NROINT", RValue::String(std::string(r.NROINT.clipped()))},
                                  {"NROTEL", RValue::String(std::string(r.NROTEL.clipped()))},
                                  {"DURLLA", RValue::Time(r.DURLLA)},
                                  {"COSLLA", RValue::Number(r.COSLLA)},
                                  {"LOC:AGENDA", RValue::String(agenda)},
                                  {p_.column_field, ColumnValue(p_.column_field, r, ma09_.get())}});
      }
      if (options_.on_selected) options_.on_selected(r);
      ++result_.printed;
      if ((result_.printed & 255) == 0 && !progress_->Step(result_.printed, total)) {
        go = false;
        break;
      }
    }
  }
  if (go && err != 0 && err != kEnd) {
    // A read that fails half-way is an error, never a shorter report.
    progress_->Close();
    Fail(A("Error al leer el archivo de llamadas ") + CallLabel(p_.direction) + " (" +
         dict_.EffectiveName(CallLabel(p_.direction)) + "): " + A(nv::ErrorTextOf(err)));
    result_.status = RunResult::kReadFailed;
    return result_;
  }
  if (!go || !progress_->Step(result_.printed, total)) {
    result_.status = RunResult::kCancelled;
    progress_->Close();
    return result_;
  }
  TotalsTexts(result_.calls, result_.duration, result_.cost, result_.totals);
  progress_->Close();
  if (!document) return result_;
  Stamp();
  report_.Print("TOTALES", {{"LOC:TIT_CANT", RValue::String(result_.totals[0])},
                            {"LOC:TIT_DURACION", RValue::String(result_.totals[1])},
                            {"LOC:TIT_COSTO", RValue::String(result_.totals[2])}});
  report_.Close();
  result_.pages = report_.page_count();
  if (options_.deliver) {
    options_.deliver(report_.TakeDocument());
  } else {
    Deliver(report_.TakeDocument());
  }
  return result_;
}

}  // namespace

nv::report::ReportLayout SummaryLayout(const SummaryProc& p) {
  const bool lines_in = std::string_view(p.name) == "RPT_ENT_LINEAS_RESUMEN";
  const std::string_view column = p.column_field;
  // The family column's width: an account description or a code.
  const int column_width = column.empty() ? 0 : (column == "MA09:DESCTA" ? 22 : 9);
  const int agenda_col = 79 + column_width;
  nv::report::ReportLayout l;
  std::swap(l.page.width, l.page.height);  // landscape
  std::vector<Item> header = {Item::Field(0, 0, X(110), "LOC:TITULO1", "@s100"),
                              Item::Field(0, kRow, X(110), "LOC:TITULO2", "@s100"),
                              Item::Field(0, 2 * kRow, X(110), "LOC:TITULO3", "@s100"),
                              L(0, 4, "Fecha"),
                              L(11, 4, "Hora"),
                              L(20, 4, lines_in ? "Linea" : "Línea"),
                              L(31, 4, "Interno"),
                              L(42, 4, "Número"),
                              L(59, 4, "Duración", 8, Align::kRight),
                              L(68, 4, "Costo", 10, Align::kRight),
                              L(agenda_col, 4, "Agenda"),
                              Item::Line(0, 5 * kRow + kRow / 4, X(126), 5 * kRow + kRow / 4)};
  if (!column.empty()) header.push_back(L(79, 4, p.column_title));
  l.page_header = {"", 6 * kRow, header};
  l.page_footer = {"",
                   2 * kRow,
                   {Item::PageNumber(0, kRow, X(15), A("Página <<<#")),
                    Item::Field(X(20), kRow, X(10), "LOC:FECHA", "@d6"),
                    Item::Field(X(32), kRow, X(8), "LOC:HORA", "@t4"),
                    Item::Label(X(56), kRow, X(14), "Fonvex Windows")}};
  std::vector<Item> line = {F(0, 0, 10, "FECLLA", "@d6"),
                            F(11, 0, 8, "HORLLA", "@t4"),
                            F(20, 0, 10, "NROLIN", "@s10"),
                            F(31, 0, 10, "NROINT", "@s10"),
                            F(42, 0, 16, "NROTEL", "@s30"),
                            F(59, 0, 8, "DURLLA", "@t4", Align::kRight),
                            F(68, 0, 10, "COSLLA", p.cost_picture, Align::kRight),
                            F(agenda_col, 0, 40, "LOC:AGENDA", "@s40")};
  if (!column.empty()) {
    const bool text = column == "MA09:DESCTA";
    line.push_back(F(79, 0, column_width - 1, std::string(column), p.column_picture,
                     text ? Align::kLeft : Align::kRight));
  }
  l.details.push_back({"DETALLE", kRow, line});
  l.totals = {
      "TOTALES",
      5 * kRow,
      {Item::Box(0, 0, 3600, 5 * kRow), Item::Field(200, kRow, 3000, "LOC:TIT_CANT", "@s30"),
       Item::Field(200, 2 * kRow, 3000, "LOC:TIT_DURACION", "@s30"),
       Item::Field(200, 3 * kRow, 3000, "LOC:TIT_COSTO", "@s30")}};
  return l;
}

void FamilyHeadings(const DetailProc& h, const Window& w, std::string_view curtab,
                    std::string_view desde, std::string_view hasta, std::string titles[3]) {
  const std::string tab(nv::Clip(curtab));
  std::string t1 = tab != "Todas" ? A(h.typed_prefix) + tab + A(h.typed_suffix) : A(h.plain_title);
  std::string t2 = "desde el " + nv::FormatDate("@D6", w.desfec);
  if (w.timed()) t2 += " a las " + nv::FormatTime(h.time_picture, w.deshor);
  t2 += " hasta el " + nv::FormatDate("@D6", w.hasfec);
  if (w.timed()) t2 += " a las " + nv::FormatTime(h.time_picture, w.hashor);
  std::string t3;
  if (h.range != RangeKind::kNone) {
    t3 = A(h.range_label) + std::string(nv::Clip(desde)) + " al: " + std::string(nv::Clip(hasta));
  }
  const std::string* t[3] = {&t1, &t2, &t3};
  for (int i = 0; i < 3; ++i) titles[i] = std::string(nv::String<100>(*t[i]).clipped());
}

void TotalsTexts(int64_t calls, int64_t duration, double cost, std::string out[3]) {
  auto fit = [](const std::string& s) { return std::string(nv::String<30>(s).clipped()); };
  out[0] = fit("Total Llamadas: " + std::string(nv::Clip(nv::LeftJustify(std::to_string(calls)))));
  out[1] =
      fit(A("Total Duración: ") + std::string(nv::Clip(nv::LeftJustify(
                                      nv::String<12>(nv::dict::TIEMPO(duration, calls)).view()))));
  out[2] = fit("Total Costo: " +
               std::string(nv::Clip(nv::LeftJustify(nv::FormatNumber("@N11.2", cost)))));
}

RunResult RunSummary(const SummaryProc& proc, std::string_view option, std::string_view block,
                     std::string_view opc, const RunOptions& options, CsvExport* csv) {
  const nv::dict::Dictionary* dict = options.dict ? options.dict : LibraryDictionary();
  if (dict == nullptr) {
    RunResult r;
    r.status = RunResult::kNoDictionary;
    return r;
  }
  SummaryRun run(proc, *dict, options, csv);
  return run.Run(option, block, opc);
}

RunResult SelectSummary(const SummaryProc& proc, std::string_view option, std::string_view block,
                        const RunOptions& options) {
  const nv::dict::Dictionary* dict = options.dict ? options.dict : LibraryDictionary();
  if (dict == nullptr) {
    RunResult r;
    r.status = RunResult::kNoDictionary;
    return r;
  }
  SummaryRun run(proc, *dict, options, nullptr, true);
  return run.Run(option, block, std::string_view());
}

std::thread StartSummary(const SummaryProc& proc, std::string option, std::string block,
                         std::string opc, RunOptions options) {
  return std::thread(
      [&proc, option = std::move(option), block = std::move(block), opc = std::move(opc),
       options = std::move(options)] { RunSummary(proc, option, block, opc, options); });
}

}  // namespace fxr4
