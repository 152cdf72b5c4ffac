#include "agenda/directory_reports.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

#include "agenda/text.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/report/report.h"
#include "host/runtime/env.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/picture.h"
#include "host/ui/backend.h"
#include "host/ui/browse.h"
#include "host/ui/framework.h"
#include "host/ui/progress.h"
#include "host/ui/window.h"

namespace agenda {

using nv::dict::MA11Record;
using nv::dict::RE09Record;
using nv::dict::TA01Record;
using nv::dict::TA02Record;
using nv::report::Band;
using nv::report::Item;
using RValue = nv::report::Value;

const std::vector<DirectoryReport>& DirectoryReports() {
  static const std::vector<DirectoryReport> table = {
      {"Reporte_Empresas_Rapido", 'E', false, "Informe rápido de empresas"},
      {"Reporte_Empresas_Detallado", 'E', true, "Informe detallado de empresas"},
      {"Reporte_Contactos_Rapido", 'C', false, "Informe rápido de contactos"},
      {"Reporte_Contactos_Detallado", 'C', true, "Informe detallado de contactos"},
  };
  return table;
}

const DirectoryReport* FindDirectoryReport(std::string_view name) {
  for (const DirectoryReport& r : DirectoryReports()) {
    if (name.size() == std::strlen(r.name) && strncasecmp(name.data(), r.name, name.size()) == 0)
      return &r;
  }
  return nullptr;
}

const DirectoryReport& DirectoryReportOf(char kind, bool detailed) {
  for (const DirectoryReport& r : DirectoryReports()) {
    if (r.kind == kind && r.detailed == detailed) return r;
  }
  return DirectoryReports().front();
}

std::string LastName() {
  return std::string(50, '\xFF');
}

// ---------------------------------------------------------------------------
// Layout: a grid of 12 characters and 6 lines to the inch (87 columns
// between the margins of an A4 page), 9-point body text.

namespace {

constexpr int32_t kCol = 83;
constexpr int32_t kRow = 167;
constexpr int kWidth = 87;  // columns
const nv::report::Font kBody{9, false};
const nv::report::Font kBold{9, true};

Item L(int col, int row, std::string_view text, nv::report::Font font = kBody) {
  return Item::Label(col * kCol, row * kRow, int32_t(text.size()) * kCol, A(text),
                     nv::report::Align::kLeft, font);
}
Item F(int col, int row, int width, std::string name, std::string picture) {
  return Item::Field(col * kCol, row * kRow, width * kCol, std::move(name), std::move(picture),
                     nv::report::Align::kLeft, kBody);
}
Band B(std::string name, int rows, std::vector<Item> items) {
  return Band{std::move(name), rows * kRow, std::move(items)};
}
// A boxed table heading: two titles over the columns at `a` and `b`.
Band Heading(std::string name, const char* first, int a, const char* second, int b) {
  return B(std::move(name), 4,
           {Item::Box(0, 0, kWidth * kCol, 3 * kRow), L(a, 1, first, kBold),
            L(b, 1, second, kBold)});
}

constexpr const char* kCuitPicture = "@P##-########-#P";

// Label columns: the left pair at 0 / 15, the right pair at 45 / 60.
constexpr int kLeftValue = 15, kRightLabel = 45, kRightValue = 60;

}  // namespace

nv::report::ReportLayout DirectoryLayout(const DirectoryReport& r) {
  nv::report::ReportLayout l;
  l.page_header = B("", 3,
                    {Item::Label(0, 0, 60 * kCol, A(r.title), nv::report::Align::kLeft, {13, true}),
                     Item::Label(67 * kCol, 0, 20 * kCol, A("Versión 2.00"),
                                 nv::report::Align::kRight, kBody),
                     Item::Line(0, 2 * kRow, kWidth * kCol, 2 * kRow)});
  l.page_footer = B("", 2,
                    {Item::Line(0, kRow / 2, kWidth * kCol, kRow / 2),
                     Item::PageNumber(0, kRow, 15 * kCol, A("Página <<<#"),
                                      nv::report::Align::kLeft, kBody),
                     F(20, 1, 10, "LOC:FECHA", "@d6"), F(32, 1, 8, "LOC:HORA", "@t4"),
                     Item::Label(67 * kCol, kRow, 20 * kCol, "Fonvex Windows",
                                 nv::report::Align::kRight, kBody)});
  const std::vector<Item> comment = {L(0, 0, "Comentarios:"),
                                     F(kLeftValue, 0, 72, "LOC:COMENTARIO", "@s72")};
  auto with = [](std::vector<Item> items, int row, const std::vector<Item>& more) {
    for (Item it : more) {
      it.y += row * kRow;
      items.push_back(std::move(it));
    }
    return items;
  };
  if (r.kind == 'E' && !r.detailed) {
    l.details.push_back(B("DETALLE", 4,
                          {L(0, 0, "Nombre:"), F(kLeftValue, 0, 50, "MA11:NOMBRE", "@s50"),
                           L(0, 1, "Dirección:"), F(kLeftValue, 1, 50, "MA11:DIRECC", "@s50"),
                           L(0, 2, "C.U.I.T.:"),
                           F(kLeftValue, 2, 13, "LOC:CUIT", "@s13"),
                           L(kRightLabel, 2, "Condición:"),
                           F(kRightValue, 2, 25, "MA11:CONIVA", "@s25")}));
  } else if (r.kind == 'C' && !r.detailed) {
    l.details.push_back(B("DETALLE", 4,
                          {L(0, 0, "Nombre:"), F(kLeftValue, 0, 50, "MA11:NOMBRE", "@s50"),
                           L(0, 1, "Empresa:"), F(kLeftValue, 1, 50, "LOC:EMPRESA", "@s50"),
                           L(0, 2, "Cargo:"), F(kLeftValue, 2, 30, "MA11:CARGOC", "@s30")}));
  } else if (r.kind == 'E') {
    l.details.push_back(B(
        "DETALLE", 9,
        with({L(0, 0, "Nombre:"), F(kLeftValue, 0, 50, "MA11:NOMBRE", "@s50"),
              L(0, 1, "Dirección:"), F(kLeftValue, 1, 50, "MA11:DIRECC", "@s50"),
              L(0, 2, "Localidad:"), F(kLeftValue, 2, 29, "MA11:LOCALI", "@s30"),
              L(kRightLabel, 2, "Rubro:"), F(kRightValue, 2, 27, "TA02:DESRUB", "@s30"),
              L(0, 3, "Código postal:"), F(kLeftValue, 3, 15, "MA11:CODPOS", "@s15"),
              L(kRightLabel, 3, "Fecha de alta:"), F(kRightValue, 3, 10, "MA11:FECALT", "@d6"),
              L(0, 4, "Provincia:"), F(kLeftValue, 4, 15, "MA11:PROVIN", "@s15"),
              L(kRightLabel, 4, "Responsable:"), F(kRightValue, 4, 27, "TA01:NOMUSR", "@s30"),
              L(0, 5, "C.U.I.T.:"), F(kLeftValue, 5, 13, "LOC:CUIT", "@s13"),
              L(kRightLabel, 5, "Cliente:"), Item::Check(kRightValue * kCol, 5 * kRow + 20, 120,
                                                         "MA11:CLIENT"),
              L(0, 6, "Condición:"), F(kLeftValue, 6, 25, "MA11:CONIVA", "@s25")},
             7, comment)));
    l.details.push_back(Heading("TITCONTACTOS", "Nombre", 1, "Cargo", 55));
    l.details.push_back(B("CONTACTO", 1,
                          {F(1, 0, 50, "AMA11:NOMBRE", "@s50"),
                           F(55, 0, 30, "AMA11:CARGOC", "@s30")}));
    l.details.push_back(Heading("TITTELEFONOS", "Teléfono / E-mail", 1, "Descripción", 45));
    l.details.push_back(B("TELEFONO", 1,
                          {F(1, 0, 40, "RE09:NROTEL", "@s40"),
                           F(45, 0, 30, "RE09:COMENT", "@s30")}));
  } else {
    l.details.push_back(B(
        "DETALLE", 8,
        with({L(0, 0, "Fecha de alta:"), F(kLeftValue, 0, 10, "MA11:FECALT", "@D6"),
              L(kRightLabel, 0, "Responsable:"), F(kRightValue, 0, 27, "TA01:NOMUSR", "@s30"),
              L(0, 1, "Nombre:"), F(kLeftValue, 1, 50, "MA11:NOMBRE", "@s50"),
              L(0, 2, "Dirección:"), F(kLeftValue, 2, 50, "MA11:DIRECC", "@s50"),
              L(0, 3, "Código postal:"), F(kLeftValue, 3, 15, "MA11:CODPOS", "@s15"),
              L(kRightLabel, 3, "Localidad:"), F(kRightValue, 3, 27, "MA11:LOCALI", "@s30"),
              L(0, 4, "Provincia:"), F(kLeftValue, 4, 15, "MA11:PROVIN", "@s15"),
              L(kRightLabel, 4, "Cargo:"), F(kRightValue, 4, 27, "MA11:CARGOC", "@s30"),
              L(0, 5, "Empresa:"), F(kLeftValue, 5, 50, "LOC:EMPRESA", "@s50")},
             6, comment)));
    // The description column first, as the heading names it.
    l.details.push_back(Heading("TITTELEFONOS", "Descripción", 1, "Teléfono / E-mail", 33));
    l.details.push_back(B("TELEFONO", 1,
                          {F(1, 0, 30, "RE09:COMENT", "@s30"),
                           F(33, 0, 40, "RE09:NROTEL", "@s40")}));
  }
  l.details.push_back(B("COMENTARIO", 1, {F(kLeftValue, 0, 72, "LOC:COMENTARIO", "@s72")}));
  l.details.push_back(B("SEPARADOR", 2, {Item::Line(0, kRow, kWidth * kCol, kRow, 15)}));
  return l;
}

// ---------------------------------------------------------------------------
// The run.

namespace {

RValue S(std::string_view text) {
  return RValue::String(std::string(text));
}

// The lines of a comment, each at most `width` characters (cut at a blank
// where one is near); blank lines are kept, trailing blank lines dropped.
std::vector<std::string> CommentLines(std::string_view text, size_t width) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    do {
      std::string_view piece = line.substr(0, width);
      if (line.size() > width) {
        size_t blank = piece.rfind(' ');
        if (blank != std::string_view::npos && blank > width / 2) piece = piece.substr(0, blank);
      }
      out.emplace_back(nv::Clip(piece));
      line.remove_prefix(piece.size());
      while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    } while (!line.empty());
    start = end + 1;
  }
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

class DirectoryRun {
 public:
  DirectoryRun(const nv::dict::Dictionary& dic, const DirectoryReport& def, const ReportArgs& args,
               const ReportOptions& options)
      : dic_(dic), def_(def), args_(args), options_(options), layout_(DirectoryLayout(def)) {}

  ReportRun Run() {
    const auto t0 = std::chrono::steady_clock::now();
    if (!OpenFiles()) return std::move(result_);
    // 2. The report opens: copies and preview as the arguments say.
    if (options_.page_sink) report_.set_page_sink(options_.page_sink);
    report_.set_copies(args_.copias);
    report_.set_skip_preview(args_.vista_previa != 1);
    report_.set_caption(A(def_.title));
    report_.Open(layout_);
    // 1. FXMA11 by MA11:MA11_C1 from the from-name to the to-name, of the kind.
    nv::File& ma11 = *ma11_;
    nv::KeyDecl* key = ma11.key("MA11:MA11_C1");
    const int64_t total = ma11.Records();
    const nv::String<50> desde(args_.desde), hasta(args_.hasta);
    auto& r = ma11.As<MA11Record>();
    nv::ClearRecord(*ma11.decl().record, ma11.record(), -1);
    std::memcpy(r.NOMBRE.data(), desde.data(), 50);
    int64_t read = 0;
    bool cancelled = false;
    if (ma11.Set(key, key) == 0) {
      while (ma11.Next() == 0) {
        ++read;
        if (std::memcmp(r.NOMBRE.data(), hasta.data(), 50) > 0) break;
        if (r.ESEMPR.view()[0] == def_.kind) {
          Entry(r);
          if (result_.entries == 1) {
            result_.first_band_seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
          }
        }
        if (options_.progress && !options_.progress->Step(read, total)) {
          cancelled = true;
          break;
        }
      }
    }
    if (!cancelled && options_.progress && !options_.progress->Step(total, total)) {
      cancelled = true;
    }
    const nv::report::Status closed = report_.Close();
    result_.pages = report_.page_count();
    if (cancelled) {
      result_.status = ReportRun::kCancelled;
    } else if (result_.entries == 0) {
      result_.status = ReportRun::kEmpty;
    } else if (!closed.ok()) {
      result_.status = ReportRun::kOutputFailed;
      result_.message = closed.message();
    } else {
      result_.document = report_.TakeDocument();
    }
    return std::move(result_);
  }

 private:
  std::unique_ptr<nv::File> Open(const char* label) {
    std::unique_ptr<nv::File> f = dic_.NewFile(label);
    const int err = f->Open(nv::kReadOnly | nv::kDenyNone);
    if (err != 0 && result_.status == ReportRun::kOk) {
      result_.status = ReportRun::kOpenFailed;
      result_.message = A("No se puede abrir el archivo ") + f->decl().label + " (" +
                        dic_.EffectiveName(label) + "): " + nv::ErrorText();
    }
    return f;
  }

  bool OpenFiles() {
    ma11_ = Open("FXMA11");
    alma11_ = Open("ALMA11");
    re09_ = Open("FXRE09");
    ta01_ = Open("FXTA01");
    ta02_ = Open("FXTA02");
    return result_.status == ReportRun::kOk;
  }

  // 3. and 4.: one entry with what it brings.
  void Entry(const MA11Record& r) {
    ++result_.entries;
    report_.Set("LOC:FECHA", RValue::Date(nv::GetEnv()->Today()));
    report_.Set("LOC:HORA", RValue::Time(nv::GetEnv()->Clock()));
    Bind("MA11", r);
    if (def_.kind == 'C') report_.Set("LOC:EMPRESA", S(CompanyName(r.CODEMP)));
    if (def_.detailed) {
      report_.Set("TA01:NOMUSR", S(Lookup<TA01Record>(*ta01_, "TA01:TA01_CP", [&](auto& t) {
                                     t.CODUSR = r.CODRES;
                                   }).NOMUSR.str()));
      if (def_.kind == 'E') {
        report_.Set("TA02:DESRUB", S(Lookup<TA02Record>(*ta02_, "TA02:TA02_CP", [&](auto& t) {
                                       t.CODRUB = r.CODRUB;
                                     }).DESRUB.str()));
      }
    }
    std::vector<std::string> comment;
    if (def_.detailed) comment = CommentLines(ma11_->MemoText(0), 72);
    report_.Set("LOC:COMENTARIO", S(comment.empty() ? "" : comment.front()));
    report_.Print("DETALLE");
    for (size_t i = 1; i < comment.size(); ++i) {
      report_.Print("COMENTARIO", {{"LOC:COMENTARIO", S(comment[i])}});
    }
    if (!def_.detailed) return;
    if (def_.kind == 'E') {
      report_.Print("TITCONTACTOS");
      Contacts(r.CODIGO);
    }
    report_.Print("TITTELEFONOS");
    Numbers(r.CODIGO);
    report_.Print("SEPARADOR");
  }

  void Bind(const std::string& p, const MA11Record& r) {
    report_.Set(p + ":NOMBRE", S(r.NOMBRE.clipped()));
    report_.Set(p + ":DIRECC", S(r.DIRECC.clipped()));
    report_.Set(p + ":LOCALI", S(r.LOCALI.clipped()));
    report_.Set(p + ":PROVIN", S(r.PROVIN.clipped()));
    report_.Set(p + ":CODPOS", S(r.CODPOS.clipped()));
    // The CUIT through its pattern; a blank one stays blank (not zeros).
    report_.Set("LOC:CUIT", S(r.CUITNO.empty() ? std::string()
                                                : nv::Format(kCuitPicture, r.CUITNO.str())));
    report_.Set(p + ":CONIVA", S(r.CONIVA.clipped()));
    report_.Set(p + ":CARGOC", S(r.CARGOC.clipped()));
    report_.Set(p + ":FECALT", RValue::Date(r.FECALT.day()));
    report_.Set(p + ":CLIENT", RValue::Number(r.CLIENT));
  }

  // A lookup record by its code key; blank when not found.
  template <class R, class K>
  const R& Lookup(nv::File& f, const char* key, K set_key) {
    f.Clear();
    set_key(f.As<R>());
    if (f.Get(f.key(key)) != 0) f.Clear();
    return f.As<R>();
  }

  // The contact's company (ALMA11 by its code); blank when there is none.
  std::string CompanyName(int32_t codemp) {
    if (codemp == 0) return {};
    return Lookup<MA11Record>(*alma11_, "AMA11:MA11_CP", [&](auto& c) { c.CODIGO = codemp; })
        .NOMBRE.str();
  }

  // ALMA11 by MA11:MA11_C4 from the company's code, while the code matches.
  void Contacts(int32_t company) {
    nv::File& f = *alma11_;
    nv::KeyDecl* key = f.key("AMA11:MA11_C4");
    auto& c = f.As<MA11Record>();
    nv::ClearRecord(*f.decl().record, f.record(), -1);
    c.CODEMP = company;
    if (f.Set(key, key) != 0) return;
    while (f.Next() == 0 && c.CODEMP == company) {
      report_.Print("CONTACTO", {{"AMA11:NOMBRE", S(c.NOMBRE.clipped())},
                                 {"AMA11:CARGOC", S(c.CARGOC.clipped())}});
    }
  }

  // FXRE09 by RE09:RE09_CP from the entry's code, while the code matches.
  void Numbers(int32_t code) {
    nv::File& f = *re09_;
    nv::KeyDecl* key = f.key("RE09:RE09_CP");
    auto& n = f.As<RE09Record>();
    nv::ClearRecord(*f.decl().record, f.record(), -1);
    n.CODIGO.Set(code);
    if (f.Set(key, key) != 0) return;
    while (f.Next() == 0 && Int(n.CODIGO) == code) {
      report_.Print("TELEFONO", {{"RE09:NROTEL", S(n.NROTEL.clipped())},
                                 {"RE09:COMENT", S(n.COMENT.clipped())}});
    }
  }

  const nv::dict::Dictionary& dic_;
  const DirectoryReport& def_;
  ReportArgs args_;
  const ReportOptions& options_;
  nv::report::ReportLayout layout_;
  nv::report::Report report_;
  std::unique_ptr<nv::File> ma11_, alma11_, re09_, ta01_, ta02_;
  ReportRun result_;
};

std::function<void(nv::report::Document&&)>& Output() {
  static std::function<void(nv::report::Document&&)> output;
  return output;
}

}  // namespace

ReportRun RunDirectoryReport(const nv::dict::Dictionary& dic, const DirectoryReport& report,
                             const ReportArgs& args, const ReportOptions& options) {
  DirectoryRun run(dic, report, args, options);
  return run.Run();
}

void SetReportOutput(std::function<void(nv::report::Document&&)> output) {
  Output() = std::move(output);
}

// ---------------------------------------------------------------------------
// The procedures.

namespace {

void RunReport(const DirectoryReport& def, const ReportArgs& args) {
  nv::dict::Dictionary* dic = nv::dict::Dic();
  if (dic == nullptr) return;
  nv::ui::ProcedureScope scope(nv::ui::CurrentErrorReporter(), def.name);
  nv::ui::ProgressWindow progress(A(def.title), A("Progreso..."));
  progress.window().SetTip(nv::ui::ProgressWindow::kCancelar, A("Cancelar la impresión"));
  progress.Open();
  ReportOptions options;
  options.progress = &progress;
  ReportRun run = RunDirectoryReport(*dic, def, args, options);
  progress.Close();
  switch (run.status) {
    case ReportRun::kOk:
      if (Output()) Output()(std::move(run.document));
      break;
    case ReportRun::kEmpty:
      nv::ui::TellNoRecords();
      break;
    case ReportRun::kCancelled:
      break;
    case ReportRun::kOpenFailed:
    case ReportRun::kOutputFailed:
      nv::ui::Message(run.message, A("Error"), nv::ui::Icon::kError);
      break;
  }
}

}  // namespace

void Reporte_Empresas_Rapido(const ReportArgs& args) {
  RunReport(DirectoryReportOf('E', false), args);
}
void Reporte_Empresas_Detallado(const ReportArgs& args) {
  RunReport(DirectoryReportOf('E', true), args);
}
void Reporte_Contactos_Rapido(const ReportArgs& args) {
  RunReport(DirectoryReportOf('C', false), args);
}
void Reporte_Contactos_Detallado(const ReportArgs& args) {
  RunReport(DirectoryReportOf('C', true), args);
}

// ---------------------------------------------------------------------------
// The chooser.

nv::ui::WindowDef ChooserWindowDef() {
  using namespace nv::ui;
  return WindowDef(
      A("Elegir tipo de reporte"),
      {Option(kElgTipo, A("Tipo de reporte"), {A(" Reporte rápido"), A(" Reporte detallado")}),
       Group(A("Rango"), {Prompt(A("Desde:")), DropList(kElgDesde, {}, "@s50"),
                          Prompt(A("Hasta:")), DropList(kElgHasta, {}, "@s50")}),
       Group(A("Parámetros de impresión"),
             {Prompt(A(" Copias")), Entry(kElgCopias, "@n7"),
              Check(kElgVista, A(" Ver vista previa")).Tip(A("Marque para ver la vista previa"))}),
       Button(kElgImprimir, A("Imprimir el reporte seleccionado"))
           .Tip(A("Imprimir el reporte seleccionado"))
           .Default(),
       Button(kElgCancelar, A("Cancelar la impresión")).Tip(A("Cancelar la impresión"))});
}

namespace {

// One drop list of names: FXMA11 by MA11:MA11_C1, entries of one kind.
struct NameList {
  NameList(const nv::dict::Dictionary& dic, char kind)
      : file(dic.NewFile("FXMA11")), browse(file.get()) {
    browse.AddOrder(A("Nombre"), "MA11:MA11_C1");
    browse.SetColumns({nv::ui::Col(A("Nombre"), "@s50", "MA11:NOMBRE")});
    nv::File* f = file.get();
    browse.SetFilter([f, kind] { return f->As<MA11Record>().ESEMPR.view()[0] == kind; },
                     {"MA11:ESEMPR"});
    browse.SetLocatorField("MA11:NOMBRE");
    browse.SetPageSize(15);
  }
  std::unique_ptr<nv::File> file;
  nv::ui::Browse browse;
};

void Elegir_Reporte(char kind) {
  using namespace nv::ui;
  nv::dict::Dictionary* dic = nv::dict::Dic();
  if (dic == nullptr) return;
  NameList desde(*dic, kind), hasta(*dic, kind);
  for (NameList* l : {&desde, &hasta}) {
    if (l->file->Open(nv::kReadOnly | nv::kDenyNone) != 0) {
      Message(A("No se puede abrir el archivo FXMA11 (") + dic->EffectiveName("FXMA11") +
                  "): " + nv::ErrorText(),
              A("Error"), Icon::kError);
      return;
    }
  }
  Window w(ChooserWindowDef());
  w.AttachBrowse(kElgDesde, &desde.browse);
  w.AttachBrowse(kElgHasta, &hasta.browse);
  // The name a drop list shows: its highlighted row.
  auto show = [&](ControlId id, Browse& b) {
    const int row = b.highlight();
    w.SetText(id, row < 0 ? "" : std::string(nv::Clip(b.Cells(row).at(0))));
    w.Display(id);
  };
  w.Open();
  while (w.Accept()) {
    switch (w.Event()) {
      case Event::kOpenWindow:
        w.SetValue(kElgTipo, 1);
        w.SetContents(kElgCopias, nv::Value(1));
        w.SetValue(kElgVista, 1);
        // "Desde:" shows the first name of its list, "Hasta:" the last.
        desde.browse.Reset();
        show(kElgDesde, desde.browse);
        hasta.browse.End();
        hasta.browse.SetHighlight(hasta.browse.shown() - 1);
        show(kElgHasta, hasta.browse);
        break;
      case Event::kAccepted:
        if (w.Field() == kElgImprimir) {
          ReportArgs args;
          args.desde = w.Text(kElgDesde);
          args.hasta = w.Text(kElgHasta);
          args.copias = int16_t(std::clamp<long long>(w.Contents(kElgCopias).AsInteger(), 0, 32767));
          args.vista_previa = uint8_t(w.Value(kElgVista) == 1 ? 1 : 0);
          const bool rapido = w.Value(kElgTipo) == 1;
          if (kind == 'E') {
            rapido ? Reporte_Empresas_Rapido(args) : Reporte_Empresas_Detallado(args);
          } else {
            rapido ? Reporte_Contactos_Rapido(args) : Reporte_Contactos_Detallado(args);
          }
          w.Close(kCompleted);
        }
        if (w.Field() == kElgCancelar) w.Close(kCancelled);
        break;
      default:
        break;
    }
  }
  for (NameList* l : {&desde, &hasta}) l->file->Close();
}

}  // namespace

void Elegir_Reporte_Empresas() {
  Elegir_Reporte('E');
}
void Elegir_Reporte_Contactos() {
  Elegir_Reporte('C');
}

void RegisterDirectoryReports(Procedures& table) {
  table.Elegir_Reporte_Empresas = Elegir_Reporte_Empresas;
  table.Elegir_Reporte_Contactos = Elegir_Reporte_Contactos;
}

}  // namespace agenda
