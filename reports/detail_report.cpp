#include "reports/detail_report.h"

#include <sys/resource.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "host/dictionary/dictionary.h"
#include "host/dictionary/services.h"
#include "host/report/report.h"
#include "host/runtime/codepage.h"
#include "host/runtime/driver_interface.h"
#include "host/runtime/env.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "host/runtime/picture.h"
#include "host/runtime/view.h"
#include "host/ui/framework.h"
#include "host/ui/progress.h"
#include "reports/output.h"
#include "reports/params.h"

namespace fxr4 {

namespace {

using nv::dict::CallRecord;
using nv::dict::MA02Record;
using nv::dict::MA07Record;
using nv::dict::MA08Record;
using nv::dict::MA09Record;
using nv::dict::MA11Record;
using nv::dict::TA03Record;
using nv::dict::TA09Record;
using nv::dict::TA13Record;
using nv::dict::TA14Record;
using nv::dict::TA15Record;
using nv::dict::TransferRecord;
using nv::report::Align;
using nv::report::Band;
using nv::report::Item;
using nv::report::NamedValue;
using RValue = nv::report::Value;

std::string A(std::string_view utf8) {
  return nv::AnsiFromUtf8(utf8);
}

// ---------------------------------------------------------------------------
// Layout. Positions on a grid of 10 characters and 6 lines to the inch.

constexpr int32_t kCol = 100;
constexpr int32_t kRow = 167;

Item L(int col, int row, std::string_view text) {
  return Item::Label(col * kCol, row * kRow, int32_t(text.size()) * kCol, A(text));
}
Item F(int col, int row, int width, std::string name, std::string picture,
       Align align = Align::kLeft) {
  return Item::Field(col * kCol, row * kRow, width * kCol, std::move(name), std::move(picture),
                     align);
}
Band B(std::string name, int rows, std::vector<Item> items) {
  return Band{std::move(name), rows * kRow, std::move(items)};
}

}  // namespace

nv::report::ReportLayout DetailLayout(Direction d) {
  const bool in = d == Direction::kIncoming;
  const std::string cost_pic = in ? "@n10.2" : "@N10.`4";
  const std::string gruint_pic = in ? "@n-6.0" : "@N6B";
  nv::report::ReportLayout l;
  l.page_header = B("", 4,
                    {F(0, 0, 72, "LOC:TITULO1", "@s100"), F(0, 1, 72, "LOC:TITULO2", "@s100"),
                     F(0, 2, 72, "LOC:TITULO3", "@s100")});
  l.page_footer =
      B("", 2,
        {Item::PageNumber(0, kRow, 15 * kCol, A("Página <<<#")), F(20, 1, 10, "LOC:FECHA", "@d6"),
         F(32, 1, 8, "LOC:HORA", "@t4"), L(56, 1, "Fonvex Windows")});
  l.details.push_back(B("CUERPOMO", 7,
                        {L(0, 0, "Número:"),
                         F(9, 0, 30, "NROTEL", "@s30"),
                         L(44, 0, "Ringing:"),
                         F(53, 0, 8, "RINLLA", "@T4"),
                         L(0, 1, "Origen/Destino:"),
                         F(16, 1, 50, "DESLLA", "@s50"),
                         L(0, 2, "Grupo:"),
                         F(16, 2, 50, "TA14:DESGRU", "@s50"),
                         L(0, 3, "Interno:"),
                         F(9, 3, 10, "NROINT", "@s10"),
                         F(20, 3, 50, "MA08:DESINT", "@s50"),
                         L(0, 4, "Grupo:"),
                         F(9, 4, 6, "GRUINT", gruint_pic),
                         F(20, 4, 50, "TA15:DESGRU", "@s50"),
                         L(0, 5, "Línea:"),
                         F(9, 5, 10, "NROLIN", "@s10"),
                         F(20, 5, 40, "MA07:DESLIN", "@s50"),
                         F(62, 5, 6, "GRULIN", "@N6B"),
                         L(0, 6, "Fecha:"),
                         F(7, 6, 10, "FECLLA", "@d6"),
                         L(19, 6, "Hora:"),
                         F(25, 6, 8, "HORLLA", "@t4"),
                         L(35, 6, "Duración:"),
                         F(45, 6, 8, "DURLLA", "@t4"),
                         L(55, 6, "Costo:"),
                         F(62, 6, 10, "COSLLA", cost_pic)}));
  l.details.push_back(B("CUERPOTR", 6,
                        {L(0, 0, "Número:"),
                         F(9, 0, 30, "TR:NROTEL", "@s30"),
                         L(44, 0, "Ringing:"),
                         F(53, 0, 8, "RINLLA", "@T4"),
                         L(0, 1, "Origen/Destino:"),
                         F(16, 1, 50, "TR:DESLLA", "@s50"),
                         L(0, 2, "Grupo:"),
                         F(16, 2, 50, "TA14:DESGRU", "@s50"),
                         L(0, 3, "Línea:"),
                         F(9, 3, 10, "TR:NROLIN", "@s10"),
                         F(20, 3, 40, "MA07:DESLIN", "@s50"),
                         F(62, 3, 6, "TR:GRULIN", "@N6B"),
                         L(0, 4, "Fecha:"),
                         F(7, 4, 10, "TR:FECLLA", "@d06"),
                         L(19, 4, "Hora:"),
                         F(25, 4, 8, "TR:HORLLA", "@t04"),
                         L(35, 4, "Duración:"),
                         F(45, 4, 8, "TR:DURLLA", "@t04"),
                         L(55, 5, "Costo:"),
                         F(62, 5, 10, "TR:COSLLA", "@N10.`4")}));
  l.details.push_back(B("CUENTA", 2,
                        {L(0, 0, "Cuenta:"), F(9, 0, 50, "MA09:DESCTA", "@s50"), L(0, 1, "Grupo:"),
                         F(9, 1, 6, "GRUCTA", "@N6B"), F(20, 1, 50, "TA13:DESGRU", "@s50")}));
  l.details.push_back(
      B("AGENTE", 2,
        {L(0, 0, "Agente:"), F(9, 0, 14, "CODAGT", "@n-14"), F(25, 0, 47, "MA02:DESCRI", "@s100"),
         L(0, 1, "Grupo:"), F(9, 1, 14, "GRUAGT", "@n-14"), F(25, 1, 30, "TA03:DESGRU", "@s30")}));
  l.details.push_back(
      B("AGENDA", 4,
        {L(0, 0, "Datos de la Agenda"), L(0, 1, "Contacto:"), F(14, 1, 50, "LOC:CONTACTO", "@s50"),
         L(0, 2, "Empresa:"), F(14, 2, 50, "LOC:EMPRESA", "@s50"), L(0, 3, "Descripción:"),
         F(14, 3, 30, "LOC:DESCTEL", "@s30"), L(46, 3, "Grupo:"),
         F(53, 3, 6, "LOC:GRPAGENDA", "@s10"), F(60, 3, 12, "LOC:DESCGRUPO", "@s50")}));
  l.details.push_back(B("TITTRANSFERENCIAS", 1, {L(0, 0, "Datos de Transferencias")}));
  const std::vector<Item> leg = {L(2, 0, "Fecha:"),
                                 F(9, 0, 10, "LEG:FECLLA", "@d06"),
                                 L(21, 0, "Hora:"),
                                 F(27, 0, 8, "LEG:HORLLA", "@t04"),
                                 L(37, 0, "Duración:"),
                                 F(47, 0, 8, "LEG:DURLLA", "@t04"),
                                 L(56, 0, "Costo:"),
                                 F(62, 0, 10, "LEG:COSLLA", "@N10.`4"),
                                 L(2, 1, "Interno:"),
                                 F(11, 1, 10, "LEG:NROINT", "@s10"),
                                 F(22, 1, 50, "MA08:DESINT", "@s50"),
                                 L(2, 2, "Grupo:"),
                                 F(11, 2, 6, "LEG:GRUINT", "@N6B"),
                                 F(22, 2, 50, "TA15:DESGRU", "@s50")};
  std::vector<Item> with_agent = leg;
  for (Item it : {L(2, 3, "Agente:"), F(11, 3, 14, "LEG:CODAGT", "@n-14"),
                  F(27, 3, 45, "MA02:DESCRI", "@s100"), L(2, 4, "Grupo:"),
                  F(11, 4, 6, "LEG:GRUAGT", "@N6B"), F(22, 4, 30, "TA03:DESGRU", "@s30")}) {
    with_agent.push_back(it);
  }
  l.details.push_back(B("TRANSFERENCIACONAGT", 5, with_agent));
  l.details.push_back(B("TRANSFERENCIA", 3, leg));
  l.details.push_back(B("FIN", 2,
                        {Item::Line(0, kRow / 4, 72 * kCol, kRow / 4),
                         Item::Line(0, kRow + kRow / 4, 72 * kCol, kRow + kRow / 4)}));
  l.totals = B("TOTALES", 5,
               {Item::Box(0, 0, 36 * kCol, 5 * kRow), F(2, 1, 30, "LOC:TIT_CANT", "@s30"),
                F(2, 2, 30, "LOC:TIT_DURACION", "@s30"), F(2, 3, 30, "LOC:TIT_COSTO", "@s30")});
  return l;
}

namespace {

// ---------------------------------------------------------------------------
// The run.

int64_t DecimalValue(const nv::Decimal<3, 0>& d) {
  int64_t v = 0;
  return d.Scaled(&v) ? v : 0;
}

// Processor time of the calling thread, in seconds.
double ThreadCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// What follows the percentage in the progress window.
constexpr const char* kCompleto = "% Completo";

// The next record of a walk.
int Advance(nv::File& f) {
  return f.Next();
}

// The fields of a call that the walks over a view read (the view fetches
// only those; nv::RecordProjection): the selection (type, date and time
// window) ...
constexpr const char* kSelectionFields[] = {"TIPOLLA", "FECLLA", "HORLLA"};
// ... the pre-scan's totals ...
constexpr const char* kTotalFields[] = {"DURLLA", "COSLLA"};
// ... and what PrintRecord, PrintPlain and PrintTransferred read (the
// group value, whichever field groups, among them).
constexpr const char* kPrintFields[] = {"CODLLA", "TRANSF", "NROLIN", "GRULIN", "NROINT",
                                        "GRUINT", "NROTEL", "DESLLA", "RINLLA", "COSLLA",
                                        "FECLLA", "HORLLA", "DURLLA", "NROCTA", "GRUCTA",
                                        "CODAGT", "GRUAGT", "CODIGO", "GRUAGE"};

RValue S(std::string_view text) {
  return RValue::String(std::string(text));
}
RValue N(double v) {
  return RValue::Number(v);
}

class DetailRun {
 public:
  DetailRun(const DetailProc& proc, const nv::dict::Dictionary& dict, const RunOptions& options)
      : p_(proc), dict_(dict), options_(options), layout_(DetailLayout(proc.direction)) {}

  RunResult Run(std::string_view block, std::string_view opc);

 private:
  using Visit = std::function<bool(const CallRecord&)>;

  void TakeBlock(std::string_view block);
  void BuildHeadings();
  void SetHeadings();  // into the open report
  bool OpenFiles();    // false when the call file cannot be opened (told)
  std::unique_ptr<nv::File> OpenRead(const char* label);
  // GET by `key` of the record the buffer names; false when there is none.
  // With `memo` the answer is remembered for the run: lookups of lines,
  // extensions, accounts, agents, groups and directory entries come back
  // call after call, and their files are read once per code.
  bool Fetch(nv::File* f, const char* key, bool memo = true);
  template <class R>
  void ClearRec(nv::File* f) {
    if (f != nullptr) f->As<R>() = R{};
  }

  // Walks the selected records in the family's order (`counting`: the
  // pre-scan's order, which differs for the number family). Answers false
  // when `visit` stopped the walk.
  bool WalkSelected(bool counting, const Visit& visit);
  // The fields a walk's view projects; empty: whole records.
  std::vector<std::string> WalkFields(bool counting) const;
  bool WalkKeyRange(const Visit& visit);
  bool WalkDates(const Visit& visit);
  bool WalkAll(const Visit& visit);
  bool WalkAccounts(const Visit& visit);
  // A walk over a view by key (range set), seeking to the time window of
  // each value of the key's leading field.
  bool WalkView(nv::View& v, const Visit& visit);
  std::string GroupValue(const CallRecord& r) const;
  bool Selects(const CallRecord& r) const {
    return options_.selects ? options_.selects(loc_tipo_, window_, r)
                            : CallSelects(loc_tipo_, window_, r);
  }
  int64_t LeadingNumber(const CallRecord& r) const;

  bool PrintRecord(const CallRecord& r);
  void PrintPlain(const CallRecord& r);
  void PrintTransferred(const CallRecord& r);
  void FetchLine(std::string_view nrolin, int64_t grulin);
  void FetchExtension(std::string_view nroint, int64_t gruint);
  void FetchAccount(std::string_view nrocta, int64_t gructa);
  void FetchAgent(int32_t codagt, int32_t gruagt);
  void DirectoryTexts(int32_t codigo, std::string_view nrotel, int64_t gruage);
  bool Step();
  void Stamp();
  // A read that failed (neither found nor the end): noted once, and false
  // to stop the walk; true for 0, 33 and 35.
  bool Read(const nv::File& f, int err);
  RunResult ReadFailed();

  const DetailProc& p_;
  const nv::dict::Dictionary& dict_;
  const RunOptions& options_;
  nv::report::ReportLayout layout_;
  nv::report::Report report_;
  RunResult result_;

  // The local copies of the arguments.
  Window window_;
  std::string curtab_, desde_, hasta_;  // clipped texts
  int64_t desde_num_ = 0, hasta_num_ = 0;
  OPC_IMPRESION opc_{};
  std::string loc_tipo_;

  std::unique_ptr<nv::File> calls_, alias_, transfers_, ma07_, ma08_, ma09_, ma09_walk_, ma02_,
      ma11_, ama11_, ta03_, ta09_, ta13_, ta14_, ta15_;
  std::unique_ptr<nv::dict::DirectoryLookup> directory_;
  std::unique_ptr<nv::ui::ProgressWindow> progress_;
  int64_t progress_max_ = 0, progress_counter_ = 0;
  int last_percent_ = -1;

  std::string last_group_;
  std::unordered_set<int32_t> transfer_queue_;
  std::vector<std::string> walk_fields_;  // of the walk under way
  int read_error_ = 0;
  std::string read_label_;  // of the file whose read failed
  // Fetch's answers by file: buffer as prepared -> record found ("": none).
  static constexpr size_t kMemoPerFile = 4096;
  std::unordered_map<const nv::File*, std::unordered_map<std::string, std::string>> memo_;
};

void DetailRun::TakeBlock(std::string_view block) {
  auto common = [&](const auto& b) {
    window_.desfec = b.DESFEC;
    window_.hasfec = b.HASFEC;
    window_.deshor = b.DESHOR;
    window_.hashor = b.HASHOR;
    curtab_ = b.CURTAB.str();
  };
  switch (p_.block) {
    case BlockKind::kRpt: {
      PARAM_RPT b = CopiedBlock<PARAM_RPT>(block);
      common(b);
      desde_ = b.DESDE.str();
      hasta_ = b.HASTA.str();
      break;
    }
    case BlockKind::kCtas: {
      PARAM_RPT_CTAS b = CopiedBlock<PARAM_RPT_CTAS>(block);
      common(b);
      desde_ = b.DESDE.str();
      hasta_ = b.HASTA.str();
      break;
    }
    case BlockKind::kCod: {
      PARAM_RPT_COD b = CopiedBlock<PARAM_RPT_COD>(block);
      common(b);
      desde_num_ = b.DESDE;
      hasta_num_ = b.HASTA;
      desde_ = std::to_string(desde_num_);
      hasta_ = std::to_string(hasta_num_);
      break;
    }
  }
}

void DetailRun::BuildHeadings() {
  if (options_.headings) {
    options_.headings(window_, curtab_, result_.titles);
    return;
  }
  std::string t1;
  if (curtab_ != "Todas") {
    t1 = A(p_.typed_prefix) + curtab_ + A(p_.typed_suffix);
  } else {
    t1 = A(p_.plain_title);
  }
  std::string t2;
  if (window_.timed()) {
    t2 = "desde el " + nv::FormatDate("@D6", window_.desfec) + " a las " +
         nv::FormatTime(p_.time_picture, window_.deshor) + " hasta el " +
         nv::FormatDate("@D6", window_.hasfec) + " a las " +
         nv::FormatTime(p_.time_picture, window_.hashor);
  } else {
    t2 = "desde el " + nv::FormatDate("@D6", window_.desfec) + " hasta el " +
         nv::FormatDate("@D6", window_.hasfec);
  }
  std::string t3;
  if (p_.range != RangeKind::kNone) t3 = A(p_.range_label) + desde_ + " al: " + hasta_;
  const std::string* t[3] = {&t1, &t2, &t3};
  for (int i = 0; i < 3; ++i) {
    // The heading variables hold 100 characters.
    result_.titles[i] = std::string(nv::String<100>(*t[i]).clipped());
  }
}

void DetailRun::SetHeadings() {
  for (int i = 0; i < 3; ++i) {
    report_.Set("LOC:TITULO" + std::to_string(i + 1), S(result_.titles[i]));
  }
}

std::unique_ptr<nv::File> DetailRun::OpenRead(const char* label) {
  std::unique_ptr<nv::File> f = dict_.NewFile(label);
  if (f == nullptr) return nullptr;
  const int rc = f->Open(nv::kReadOnly | nv::kDenyNone);
  if (rc != 0) return nullptr;
  return f;
}

bool DetailRun::OpenFiles() {
  const char* label = CallLabel(p_.direction);
  calls_ = dict_.NewFile(label);
  result_.open_error =
      calls_ != nullptr ? calls_->Open(nv::kReadOnly | nv::kDenyNone) : nv::kErrFileNotFound;
  if (result_.open_error != 0) {
    const std::string why = calls_ != nullptr && nv::ErrorCode() == result_.open_error
                                ? nv::ErrorText()
                                : nv::ErrorTextOf(result_.open_error);
    calls_.reset();
    nv::ui::CurrentErrorReporter().Show(A("No se puede abrir el archivo de llamadas ") + label +
                                        " (" + dict_.EffectiveName(label) + "): " + A(why));
    return false;
  }
  alias_ = OpenRead(AliasLabel(p_.direction));
  transfers_ = OpenRead(TransferLabel(p_.direction));
  ma07_ = OpenRead("FXMA07");
  ma08_ = OpenRead("FXMA08");
  ma09_ = OpenRead("FXMA09");
  if (p_.walk == Walk::kAccounts) ma09_walk_ = OpenRead("FXMA09");
  ma02_ = OpenRead("FXMA02");
  ma11_ = OpenRead("FXMA11");
  ama11_ = OpenRead("ALMA11");
  ta03_ = OpenRead("FXTA03");
  ta09_ = OpenRead("FXTA09");
  ta13_ = OpenRead("FXTA13");
  ta14_ = OpenRead("FXTA14");
  ta15_ = OpenRead("FXTA15");
  directory_ = std::make_unique<nv::dict::DirectoryLookup>(dict_);
  return true;
}

bool DetailRun::Fetch(nv::File* f, const char* key, bool memo) {
  if (f == nullptr) return false;
  nv::KeyDecl* k = f->key(key);
  if (k == nullptr) return false;
  if (!memo) {
    const int err = f->Get(k);
    return Read(*f, err) && err == 0;
  }
  // The buffer as the caller prepared it for the GET (cleared, then the
  // code set) names the record wanted.
  const size_t n = f->record_length();
  char* rec = reinterpret_cast<char*>(f->record());
  std::unordered_map<std::string, std::string>& known = memo_[f];
  std::string wanted(rec, n);
  if (auto it = known.find(wanted); it != known.end()) {
    if (it->second.empty()) return false;
    std::memcpy(rec, it->second.data(), n);
    return true;
  }
  const int err = f->Get(k);
  const bool found = err == 0;
  if (!Read(*f, err)) return false;
  if (known.size() < kMemoPerFile) {
    known.emplace(std::move(wanted), found ? std::string(rec, n) : std::string());
  }
  return found;
}

// --- walks

int64_t DetailRun::LeadingNumber(const CallRecord& r) const {
  switch (p_.field) {
    case GroupField::kGRULIN:
      return DecimalValue(r.GRULIN);
    case GroupField::kGRUINT:
      return DecimalValue(r.GRUINT);
    case GroupField::kGRUCTA:
      return DecimalValue(r.GRUCTA);
    case GroupField::kGRUAGE:
      return DecimalValue(r.GRUAGE);
    case GroupField::kCODAGT:
      return r.CODAGT;
    case GroupField::kGRUAGT:
      return r.GRUAGT;
    default:
      return 0;
  }
}

std::string DetailRun::GroupValue(const CallRecord& r) const {
  switch (p_.field) {
    case GroupField::kNone:
      return {};
    case GroupField::kNROLIN:
      return r.NROLIN.str();
    case GroupField::kNROINT:
      return r.NROINT.str();
    case GroupField::kNROCTA:
      return r.NROCTA.str();
    default:
      return std::to_string(LeadingNumber(r));
  }
}

std::vector<std::string> DetailRun::WalkFields(bool counting) const {
  // The selection of the free, unrated, directory and requirement reports,
  // or the export of whole records, may read any field.
  if (!options_.project || options_.selects || (!counting && options_.on_selected)) return {};
  std::vector<std::string> fields;
  auto add = [&](const auto& names) {
    for (const char* name : names)
      fields.push_back(std::string(CallPrefix(p_.direction)) + ":" + name);
  };
  add(kSelectionFields);
  if (counting) {
    add(kTotalFields);
  } else {
    add(kPrintFields);
  }
  return fields;
}

bool DetailRun::WalkSelected(bool counting, const Visit& visit) {
  if (calls_ == nullptr) return true;
  walk_fields_ = WalkFields(counting);
  switch (p_.walk) {
    case Walk::kKeyRange:
      return WalkKeyRange(visit);
    case Walk::kDates:
      return WalkDates(visit);
    case Walk::kNumbers:
      return counting ? WalkDates(visit) : WalkAll(visit);
    case Walk::kAccounts:
      return WalkAccounts(visit);
  }
  return true;
}

bool DetailRun::WalkKeyRange(const Visit& visit) {
  nv::KeyDecl* k = calls_->key(OrderKey(CallPrefix(p_.direction), p_.key_suffix));
  if (k == nullptr) return true;
  nv::View v(calls_.get());
  v.SetKey(k);
  if (p_.range == RangeKind::kText) {
    v.SetRange(nv::Value(desde_), nv::Value(hasta_));
  } else {
    // A 3-byte packed decimal holds 5 digits: the walk starts at the
    // lowest value the field can hold.
    constexpr int64_t kDecimalMax = 99999;
    const bool decimal = p_.field != GroupField::kCODAGT && p_.field != GroupField::kGRUAGT;
    if (desde_num_ > hasta_num_ ||
        (decimal && (desde_num_ > kDecimalMax || hasta_num_ < -kDecimalMax))) {
      return true;
    }
    const int64_t start = decimal && desde_num_ < -kDecimalMax ? -kDecimalMax : desde_num_;
    v.SetRange(nv::Value(static_cast<long long>(start)),
               nv::Value(static_cast<long long>(hasta_num_)));
  }
  return WalkView(v, visit);
}

bool DetailRun::WalkView(nv::View& v, const Visit& visit) {
  if (options_.seek) {
    // The key's components after the grouping field are the date and time:
    // each group value is read only within the window.
    const std::string prefix = CallPrefix(p_.direction);
    nv::expr::Error error;
    v.SetWindow({prefix + ":FECLLA", prefix + ":HORLLA"},
                {nv::Value(window_.desfec), nv::Value(window_.deshor)},
                {nv::Value(window_.hasfec), nv::Value(window_.hashor)}, &error);
  }
  // Labels of the call file's own fields: never refused.
  v.Project(walk_fields_);
  const CallRecord& r = calls_->As<CallRecord>();
  int err = v.Set();
  while (err == 0 && (err = v.Next()) == 0) {
    if (Selects(r) && !visit(r)) return false;
  }
  return Read(*calls_, err);
}

bool DetailRun::WalkDates(const Visit& visit) {
  nv::File& f = *calls_;
  nv::KeyDecl* k = f.key(OrderKey(CallPrefix(p_.direction), "_C1"));
  if (k == nullptr) return true;
  CallRecord& r = f.As<CallRecord>();
  r = CallRecord{};
  r.FECLLA.set_day(window_.desfec);
  r.HORLLA = window_.deshor;
  int err = f.Set(k, k);
  while (err == 0 && (err = Advance(f)) == 0 && !window_.After(r.FECLLA.day(), r.HORLLA)) {
    if (Selects(r) && !visit(r)) return false;
  }
  return Read(f, err);
}

bool DetailRun::WalkAll(const Visit& visit) {
  nv::KeyDecl* k = calls_->key(OrderKey(CallPrefix(p_.direction), p_.key_suffix));
  if (k == nullptr) return true;
  nv::View v(calls_.get());
  v.SetKey(k);
  return WalkView(v, visit);
}

bool DetailRun::WalkAccounts(const Visit& visit) {
  if (ma09_walk_ == nullptr) return true;
  nv::File& accounts = *ma09_walk_;
  nv::File& f = *calls_;
  nv::KeyDecl* by_desc = accounts.key("MA09:MA09_C1");
  nv::KeyDecl* c4 = f.key(OrderKey(CallPrefix(p_.direction), "_C4"));
  if (by_desc == nullptr || c4 == nullptr) return true;
  // The accounts are chosen by their upper-cased descriptions but MA09_C1
  // orders them as written, so a description in range may sort anywhere
  // after the upper-cased start (upper-casing never raises a byte): walk
  // from there to the end of the key.
  const std::string up_desde = nv::Upper(desde_);
  const std::string up_hasta = nv::Upper(hasta_);
  MA09Record& a = accounts.As<MA09Record>();
  a = MA09Record{};
  a.DESCTA = up_desde;
  int walked = accounts.Set(by_desc, by_desc);
  while (walked == 0 && (walked = Advance(accounts)) == 0) {
    const std::string up = nv::Upper(a.DESCTA.clipped());
    if (nv::CompareClipped(up, up_hasta) > 0 || nv::CompareClipped(up, up_desde) < 0) continue;
    const std::string code = a.NROCTA.str();
    CallRecord& r = f.As<CallRecord>();
    r = CallRecord{};
    r.NROCTA = code;
    r.FECLLA.set_day(window_.desfec);
    r.HORLLA = 0;  // a window given from 0 takes calls stored with time 0
    int err = f.Set(c4, c4);
    while (err == 0 && (err = Advance(f)) == 0 && r.NROCTA == code &&
           !(options_.seek && window_.After(r.FECLLA.day(), r.HORLLA))) {
      if (Selects(r) && !visit(r)) return false;
    }
    if (!Read(f, err)) return false;
  }
  return Read(accounts, walked);
}

// --- lookups

void DetailRun::FetchLine(std::string_view nrolin, int64_t grulin) {
  ClearRec<MA07Record>(ma07_.get());
  if (ma07_) {
    ma07_->As<MA07Record>().NROLIN = nrolin;
    if (!Fetch(ma07_.get(), "MA07:MA07_CP")) ClearRec<MA07Record>(ma07_.get());
  }
  ClearRec<TA14Record>(ta14_.get());
  if (ta14_ && grulin != 0) {
    ta14_->As<TA14Record>().GRULIN.Set(grulin);
    if (!Fetch(ta14_.get(), "TA14:TA14_CP")) ClearRec<TA14Record>(ta14_.get());
  }
}

void DetailRun::FetchExtension(std::string_view nroint, int64_t gruint) {
  ClearRec<MA08Record>(ma08_.get());
  if (ma08_) {
    ma08_->As<MA08Record>().NROINT = nroint;
    if (!Fetch(ma08_.get(), "MA08:MA08_CP")) ClearRec<MA08Record>(ma08_.get());
  }
  ClearRec<TA15Record>(ta15_.get());
  if (ta15_ && gruint != 0) {
    ta15_->As<TA15Record>().GRUINT.Set(gruint);
    if (!Fetch(ta15_.get(), "TA15:TA15_CP")) ClearRec<TA15Record>(ta15_.get());
  }
}

void DetailRun::FetchAccount(std::string_view nrocta, int64_t gructa) {
  ClearRec<MA09Record>(ma09_.get());
  if (ma09_) {
    ma09_->As<MA09Record>().NROCTA = nrocta;
    if (!Fetch(ma09_.get(), "MA09:MA09_CP")) ClearRec<MA09Record>(ma09_.get());
  }
  ClearRec<TA13Record>(ta13_.get());
  if (ta13_ && gructa != 0) {
    ta13_->As<TA13Record>().GRUCTA.Set(gructa);
    if (!Fetch(ta13_.get(), "TA13:TA13_CP")) ClearRec<TA13Record>(ta13_.get());
  }
}

void DetailRun::FetchAgent(int32_t codagt, int32_t gruagt) {
  ClearRec<MA02Record>(ma02_.get());
  ClearRec<TA03Record>(ta03_.get());
  if (codagt == 0) return;
  if (ma02_) {
    ma02_->As<MA02Record>().CODAGT = codagt;
    if (!Fetch(ma02_.get(), "MA02:MA02_CP")) ClearRec<MA02Record>(ma02_.get());
  }
  if (ta03_ && gruagt != 0) {
    ta03_->As<TA03Record>().CODGRU = gruagt;
    if (!Fetch(ta03_.get(), "TA03:TA03_CP")) ClearRec<TA03Record>(ta03_.get());
  }
}

void DetailRun::DirectoryTexts(int32_t codigo, std::string_view nrotel, int64_t gruage) {
  std::string empresa, contacto, desctel, grp, descgrupo;
  if (ma11_) {
    MA11Record& e = ma11_->As<MA11Record>();
    e = MA11Record{};
    e.CODIGO = codigo;
    if (Fetch(ma11_.get(), "MA11:MA11_CP")) {
      contacto = e.NOMBRE.str();
      if (e.ESEMPR == "E") {
        empresa = contacto;
      } else if (ama11_) {
        MA11Record& c = ama11_->As<MA11Record>();
        c = MA11Record{};
        c.CODIGO = e.CODEMP;
        if (Fetch(ama11_.get(), "AMA11:MA11_CP")) empresa = c.NOMBRE.str();
      }
    }
  }
  nv::dict::DirectoryLookup::Match m;
  if (directory_ && directory_->Find(nrotel, &m)) desctel = m.comment;
  ClearRec<TA09Record>(ta09_.get());
  if (ta09_ && gruage != 0) {
    ta09_->As<TA09Record>().GRUAGE.Set(gruage);
    if (Fetch(ta09_.get(), "TA09:TA09_CP")) descgrupo = ta09_->As<TA09Record>().DESGRU.str();
  }
  if (gruage != 0) grp = std::to_string(gruage);
  report_.Set("LOC:EMPRESA", S(nv::String<50>(empresa).clipped()));
  report_.Set("LOC:CONTACTO", S(nv::String<50>(contacto).clipped()));
  report_.Set("LOC:DESCTEL", S(nv::String<30>(desctel).clipped()));
  report_.Set("LOC:GRPAGENDA", S(grp));
  report_.Set("LOC:DESCGRUPO", S(nv::String<50>(descgrupo).clipped()));
}

// --- printing

std::string Desc(nv::File* f, size_t offset, size_t size) {
  if (f == nullptr) return {};
  return std::string(
      nv::Clip(std::string_view(reinterpret_cast<const char*>(f->record()) + offset, size)));
}

void DetailRun::PrintPlain(const CallRecord& r) {
  FetchLine(r.NROLIN.view(), DecimalValue(r.GRULIN));
  FetchExtension(r.NROINT.view(), DecimalValue(r.GRUINT));
  report_.Print("CUERPOMO",
                {{"RINLLA", RValue::Time(r.RINLLA)},
                 {"NROTEL", S(r.NROTEL.clipped())},
                 {"COSLLA", N(r.COSLLA)},
                 {"DESLLA", S(r.DESLLA.clipped())},
                 {"TA14:DESGRU", S(Desc(ta14_.get(), offsetof(TA14Record, DESGRU), 50))},
                 {"NROINT", S(r.NROINT.clipped())},
                 {"MA08:DESINT", S(Desc(ma08_.get(), offsetof(MA08Record, DESINT), 50))},
                 {"GRUINT", N(double(DecimalValue(r.GRUINT)))},
                 {"TA15:DESGRU", S(Desc(ta15_.get(), offsetof(TA15Record, DESGRU), 50))},
                 {"NROLIN", S(r.NROLIN.clipped())},
                 {"MA07:DESLIN", S(Desc(ma07_.get(), offsetof(MA07Record, DESLIN), 50))},
                 {"GRULIN", N(double(DecimalValue(r.GRULIN)))},
                 {"FECLLA", RValue::Date(r.FECLLA.day())},
                 {"HORLLA", RValue::Time(r.HORLLA)},
                 {"DURLLA", RValue::Time(r.DURLLA)}});
  if (!r.NROCTA.empty()) {
    FetchAccount(r.NROCTA.view(), DecimalValue(r.GRUCTA));
    report_.Print("CUENTA",
                  {{"MA09:DESCTA", S(Desc(ma09_.get(), offsetof(MA09Record, DESCTA), 50))},
                   {"GRUCTA", N(double(DecimalValue(r.GRUCTA)))},
                   {"TA13:DESGRU", S(Desc(ta13_.get(), offsetof(TA13Record, DESGRU), 50))}});
  }
  FetchAgent(r.CODAGT, r.GRUAGT);
  if (r.CODAGT != 0) {
    report_.Print("AGENTE",
                  {{"CODAGT", N(r.CODAGT)},
                   {"MA02:DESCRI", S(Desc(ma02_.get(), offsetof(MA02Record, DESCRI), 100))},
                   {"GRUAGT", N(r.GRUAGT)},
                   {"TA03:DESGRU", S(Desc(ta03_.get(), offsetof(TA03Record, DESGRU), 30))}});
  }
  if (r.CODIGO != 0) {
    DirectoryTexts(r.CODIGO, r.NROTEL.view(), DecimalValue(r.GRUAGE));
    report_.Print("AGENDA");
  }
  report_.Print("FIN");
}

void DetailRun::PrintTransferred(const CallRecord& r) {
  TransferRecord h{};
  if (transfers_) {
    TransferRecord& t = transfers_->As<TransferRecord>();
    t = TransferRecord{};
    t.CODLLA = r.CODLLA;
    if (Fetch(
            transfers_.get(),
            (std::string(TransferPrefix(p_.direction)) + ":" + TransferPrefix(p_.direction) + "_CP")
                .c_str(),
            false)) {
      h = t;
    }
  }
  FetchLine(h.NROLIN.view(), DecimalValue(h.GRULIN));
  report_.Print("CUERPOTR",
                {{"RINLLA", RValue::Time(r.RINLLA)},
                 {"TR:NROTEL", S(h.NROTEL.clipped())},
                 {"TR:COSLLA", N(h.COSLLA)},
                 {"TR:DESLLA", S(h.DESLLA.clipped())},
                 {"TA14:DESGRU", S(Desc(ta14_.get(), offsetof(TA14Record, DESGRU), 50))},
                 {"MA07:DESLIN", S(Desc(ma07_.get(), offsetof(MA07Record, DESLIN), 50))},
                 {"TR:GRULIN", N(double(DecimalValue(h.GRULIN)))},
                 {"TR:NROLIN", S(h.NROLIN.clipped())},
                 {"TR:FECLLA", RValue::Date(h.FECLLA.day())},
                 {"TR:HORLLA", RValue::Time(h.HORLLA)},
                 {"TR:DURLLA", RValue::Time(h.DURLLA)}});
  if (!h.NROCTA.empty()) {
    FetchAccount(h.NROCTA.view(), DecimalValue(r.GRUCTA));
    report_.Print("CUENTA",
                  {{"MA09:DESCTA", S(Desc(ma09_.get(), offsetof(MA09Record, DESCTA), 50))},
                   {"GRUCTA", N(double(DecimalValue(r.GRUCTA)))},
                   {"TA13:DESGRU", S(Desc(ta13_.get(), offsetof(TA13Record, DESGRU), 50))}});
  }
  if (h.CODIGO != 0) {
    DirectoryTexts(h.CODIGO, h.NROTEL.view(), DecimalValue(h.GRUAGE));
    report_.Print("AGENDA");
  }
  report_.Print("TITTRANSFERENCIAS");
  if (alias_) {
    nv::File& a = *alias_;
    const std::string ap = std::string("A") + CallPrefix(p_.direction);
    nv::KeyDecl* cp = a.key(ap + ":" + CallPrefix(p_.direction) + "_CP");
    CallRecord& leg = a.As<CallRecord>();
    leg = CallRecord{};
    leg.CODLLA = r.CODLLA;
    int err = cp != nullptr ? a.Set(cp, cp) : 33;
    if (Read(a, err) && err == 0) {
      while ((err = Advance(a)) == 0 && leg.CODLLA == r.CODLLA) {
        FetchExtension(leg.NROINT.view(), DecimalValue(leg.GRUINT));
        FetchAgent(leg.CODAGT, leg.GRUAGT);
        std::vector<NamedValue> v = {
            {"LEG:HORLLA", RValue::Time(leg.HORLLA)},
            {"LEG:NROINT", S(leg.NROINT.clipped())},
            {"MA08:DESINT", S(Desc(ma08_.get(), offsetof(MA08Record, DESINT), 50))},
            {"TA15:DESGRU", S(Desc(ta15_.get(), offsetof(TA15Record, DESGRU), 50))},
            {"LEG:GRUINT", N(double(DecimalValue(leg.GRUINT)))},
            {"LEG:DURLLA", RValue::Time(leg.DURLLA)},
            {"LEG:COSLLA", N(leg.COSLLA)},
            {"LEG:FECLLA", RValue::Date(leg.FECLLA.day())}};
        if (leg.CODAGT != 0) {
          v.push_back({"LEG:CODAGT", N(leg.CODAGT)});
          v.push_back({"MA02:DESCRI", S(Desc(ma02_.get(), offsetof(MA02Record, DESCRI), 100))});
          v.push_back({"LEG:GRUAGT", N(leg.GRUAGT)});
          v.push_back({"TA03:DESGRU", S(Desc(ta03_.get(), offsetof(TA03Record, DESGRU), 30))});
          report_.Print("TRANSFERENCIACONAGT", v);
        } else {
          report_.Print("TRANSFERENCIA", v);
        }
      }
      Read(a, err);
    }
  }
  report_.Print("FIN");
}

void DetailRun::Stamp() {
  nv::Env* env = nv::GetEnv();
  report_.Set("LOC:FECHA", RValue::Date(env->Today()));
  report_.Set("LOC:HORA", RValue::Time(env->Clock()));
}

bool DetailRun::Step() {
  ++progress_counter_;
  const int percent = progress_max_ > 0 ? int(progress_counter_ * 100 / progress_max_) : 0;
  if (percent != last_percent_) {
    last_percent_ = percent;
    if (options_.on_progress) options_.on_progress(percent, std::to_string(percent) + kCompleto);
  }
  return progress_ == nullptr || progress_->Step(progress_counter_, progress_max_);
}

bool DetailRun::PrintRecord(const CallRecord& r) {
  Stamp();
  ++result_.printed;
  if (options_.on_selected) options_.on_selected(r);
  if (p_.walk != Walk::kDates && p_.walk != Walk::kNumbers) {
    std::string g = GroupValue(r);
    if (g != last_group_) {
      transfer_queue_.clear();
      last_group_ = std::move(g);
    }
  }
  if (r.TRANSF == "T") {
    if (transfer_queue_.insert(r.CODLLA).second) PrintTransferred(r);
  } else {
    PrintPlain(r);
  }
  return read_error_ == 0 && Step();
}

bool DetailRun::Read(const nv::File& f, int err) {
  if (err == 0 || err == 33 || err == 35) return true;
  if (read_error_ == 0) {
    read_error_ = err;
    read_label_ = f.decl().label;
  }
  return false;
}

// A read that fails half-way is an error, never a shorter report.
RunResult DetailRun::ReadFailed() {
  progress_->Close();
  nv::ui::CurrentErrorReporter().Show(A("Error al leer el archivo ") + read_label_ + " (" +
                                      dict_.EffectiveName(read_label_) +
                                      "): " + A(nv::ErrorTextOf(read_error_)));
  result_.status = RunResult::kReadFailed;
  return result_;
}

RunResult DetailRun::Run(std::string_view block, std::string_view opc) {
  nv::ui::ProcedureScope scope(nv::ui::CurrentErrorReporter(), p_.name);
  TakeBlock(block);
  opc_ = CopiedBlock<OPC_IMPRESION>(opc);
  BuildHeadings();
  last_group_.clear();
  transfer_queue_.clear();
  window_.Widen();
  if (!OpenFiles()) {
    result_.status = RunResult::kOpenFailed;
    return result_;
  }
  progress_ = std::make_unique<nv::ui::ProgressWindow>("");
  progress_->SetPercentSuffix(kCompleto);
  progress_->Open();
  progress_->SetText("");

  // Pre-scan: count and total the calls the printing walk will print.
  loc_tipo_ = nv::dict::TIPO_LLAMADAS(curtab_);
  auto t0 = std::chrono::steady_clock::now();
  const double cpu0 = ThreadCpuSeconds();
  bool go = WalkSelected(true, [&](const CallRecord& r) {
    ++result_.calls;
    result_.duration += r.DURLLA;
    result_.cost += r.COSLLA;
    ++progress_counter_;
    return (progress_counter_ & 1023) != 0 || progress_->Step(0, 1);
  });
  auto t1 = std::chrono::steady_clock::now();
  result_.prescan_seconds = std::chrono::duration<double>(t1 - t0).count();
  const double cpu1 = ThreadCpuSeconds();
  result_.prescan_cpu_seconds = cpu1 - cpu0;
  if (read_error_ != 0) return ReadFailed();
  progress_max_ = progress_counter_;
  progress_counter_ = 0;
  last_percent_ = 0;
  if (options_.on_progress) options_.on_progress(0, std::string("0") + kCompleto);
  progress_->window().SetText(nv::ui::ProgressWindow::kPercent, std::string("0") + kCompleto);

  if (go) {
    nv::report::Status st = report_.Open(layout_);
    if (!st.ok()) {
      result_.status = RunResult::kBadLayout;
      progress_->Close();
      return result_;
    }
    report_.set_skip_preview(opc_.VISTA_PREVIA != 1);
    report_.set_copies(opc_.COPIAS);
    report_.set_caption(A(p_.caption));
    SetHeadings();
    Stamp();
    loc_tipo_ = nv::dict::TIPO_LLAMADAS(curtab_);
    go = WalkSelected(false, [&](const CallRecord& r) { return PrintRecord(r); });
    if (read_error_ != 0) return ReadFailed();
  }
  if (!go || progress_->cancelled()) {
    result_.status = RunResult::kCancelled;
    progress_->Close();
    return result_;
  }
  result_.totals[0] = std::string(
      nv::String<30>("Total Llamadas: " +
                     std::string(nv::Clip(nv::LeftJustify(std::to_string(result_.calls)))))
          .clipped());
  result_.totals[1] = std::string(
      nv::String<30>(
          A("Total Duración: ") +
          std::string(nv::Clip(nv::LeftJustify(
              nv::String<12>(nv::dict::TIEMPO(result_.duration, result_.calls)).view()))))
          .clipped());
  result_.totals[2] =
      std::string(nv::String<30>("Total Costo: " + std::string(nv::Clip(nv::LeftJustify(
                                                       nv::FormatNumber("@N11.2", result_.cost)))))
                      .clipped());
  Stamp();
  report_.Print("TOTALES", {{"LOC:TIT_CANT", S(result_.totals[0])},
                            {"LOC:TIT_DURACION", S(result_.totals[1])},
                            {"LOC:TIT_COSTO", S(result_.totals[2])}});
  report_.Close();
  auto t2 = std::chrono::steady_clock::now();
  result_.print_seconds = std::chrono::duration<double>(t2 - t1).count();
  result_.print_cpu_seconds = ThreadCpuSeconds() - cpu1;
  result_.pages = report_.page_count();
  progress_->Close();
  if (options_.deliver) {
    options_.deliver(report_.TakeDocument());
  } else {
    Deliver(report_.TakeDocument());
  }
  return result_;
}

}  // namespace

RunResult RunDetail(const DetailProc& proc, std::string_view block, std::string_view opc,
                    const RunOptions& options) {
  const nv::dict::Dictionary* dict = options.dict ? options.dict : LibraryDictionary();
  if (dict == nullptr) {
    RunResult r;
    r.status = RunResult::kNoDictionary;
    return r;
  }
  DetailRun run(proc, *dict, options);
  return run.Run(block, opc);
}

std::thread StartDetail(const DetailProc& proc, std::string block, std::string opc,
                        RunOptions options) {
  return std::thread([&proc, block = std::move(block), opc = std::move(opc),
                      options = std::move(options)] { RunDetail(proc, block, opc, options); });
}

}  // namespace fxr4
