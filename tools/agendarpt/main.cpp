// agendarpt: writes one of the agenda's four directory reports for a name
// range to a PDF file or as plain text, page by page, in the station's data
// folder (./Archivos, moved by the section [Dictionary] of agenda.INI).
//
//   agendarpt Reporte_Empresas_Detallado --desde A --hasta M --pdf empresas.pdf
//   agendarpt Reporte_Contactos_Rapido --text            # standard output
//
// Exit status: 0 written; 1 the report could not be made (a file that cannot
// be opened, no entry in the range, an output that cannot be written), with
// the message on standard error and no output file; 2 bad options.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <QGuiApplication>

#include "agenda/directory_reports.h"
#include "host/dictionary/dictionary.h"
#include "host/report/qt/pdf_renderer.h"
#include "host/report/text_renderer.h"
#include "host/runtime/codepage.h"
#include "host/runtime/profile.h"
#include "host/ui/progress.h"

namespace {

void Usage(FILE* to) {
  std::fputs(
      "uso: agendarpt REPORTE [--desde NOMBRE] [--hasta NOMBRE] (--pdf ARCHIVO | --text "
      "[ARCHIVO])\n"
      "REPORTE:\n",
      to);
  for (const agenda::DirectoryReport& r : agenda::DirectoryReports()) {
    std::fprintf(to, "  %-28s %s\n", r.name, r.title);
  }
  std::fputs(
      "Sin --desde el informe empieza en el primer nombre; sin --hasta llega al último.\n",
      to);
}

int Fail(const std::string& message, int status) {
  std::fprintf(stderr, "agendarpt: %s\n", message.c_str());
  return status;
}

// Plain text written page by page: the text renderer's form feed between
// pages, as for a whole document.
class TextSink {
 public:
  TextSink(FILE* out, nv::report::PageSize paper) : out_(out) { shape_.paper = paper; }
  nv::report::Status Add(nv::report::Page&& page) {
    shape_.pages.clear();
    shape_.pages.push_back(std::move(page));
    const std::string text = nv::report::RenderText(shape_, {12, 6, true, false});
    if ((pages_++ > 0 && std::fputs("\f\n", out_) < 0) ||
        std::fwrite(text.data(), 1, text.size(), out_) != text.size()) {
      return {nv::report::Code::kOutputFailed, "no se puede escribir el texto"};
    }
    return nv::report::Status::Ok();
  }

 private:
  FILE* out_;
  nv::report::Document shape_;
  int pages_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    Usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const agenda::DirectoryReport* report = agenda::FindDirectoryReport(argv[1]);
  if (report == nullptr) return Fail(std::string("informe desconocido: ") + argv[1], 2);
  agenda::ReportArgs args;
  args.hasta = agenda::LastName();
  std::string pdf, text;
  bool to_text = false;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--desde" || a == "--hasta") {
      const char* v = value();
      if (v == nullptr) return Fail(a + " necesita un nombre", 2);
      (a == "--desde" ? args.desde : args.hasta) = nv::AnsiFromUtf8(v);
    } else if (a == "--pdf") {
      const char* v = value();
      if (v == nullptr || *v == '\0') return Fail("--pdf necesita un archivo", 2);
      pdf = v;
    } else if (a == "--text") {
      to_text = true;
      if (i + 1 < argc && argv[i + 1][0] != '-') text = argv[++i];
    } else {
      return Fail("opción desconocida: " + a, 2);
    }
  }
  if (pdf.empty() == !to_text) return Fail("indique --pdf ARCHIVO o --text", 2);

  std::unique_ptr<QGuiApplication> app;
  if (!pdf.empty()) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
        std::getenv("QT_QPA_PLATFORM") == nullptr) {
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    app = std::make_unique<QGuiApplication>(argc, argv);
  }

  const nv::ProfileFile ini("agenda.INI");
  const nv::dict::Dictionary dic(&ini);
  const nv::report::ReportLayout layout = agenda::DirectoryLayout(*report);
  nv::report::Document shape;
  shape.paper = layout.page;
  shape.caption = nv::AnsiFromUtf8(report->title);

  agenda::ReportOptions options;
  nv::report::PdfStream stream;
  FILE* out = nullptr;
  std::unique_ptr<TextSink> sink;
  if (!pdf.empty()) {
    if (nv::report::Status st = stream.Begin(shape, pdf); !st.ok()) return Fail(st.message(), 1);
    options.page_sink = [&](nv::report::Page&& p) { return stream.Add(p); };
  } else {
    // A text file is written under a temporary name and put in place at the end.
    out = text.empty() ? stdout : std::fopen((text + ".tmp").c_str(), "wb");
    if (out == nullptr) return Fail("no se puede escribir " + text, 1);
    sink = std::make_unique<TextSink>(out, layout.page);
    options.page_sink = [&](nv::report::Page&& p) { return sink->Add(std::move(p)); };
  }

  agenda::ReportRun run = agenda::RunDirectoryReport(dic, *report, args, options);
  std::string failure;
  if (run.status == agenda::ReportRun::kEmpty) {
    failure = nv::Utf8FromAnsi(nv::ui::kNoRecordsText);
  } else if (run.status != agenda::ReportRun::kOk) {
    failure = nv::Utf8FromAnsi(run.message);
  }
  if (!pdf.empty()) {
    if (failure.empty()) {
      if (nv::report::Status st = stream.Finish(); !st.ok()) failure = st.message();
    }
  } else if (out != stdout) {
    const bool closed = std::fclose(out) == 0;
    if (failure.empty() && !closed) failure = "no se puede escribir " + text;
    if (failure.empty() && std::rename((text + ".tmp").c_str(), text.c_str()) != 0) {
      failure = "no se puede escribir " + text;
    }
    if (!failure.empty()) std::remove((text + ".tmp").c_str());
  }
  if (!failure.empty()) return Fail(failure, 1);
  std::fprintf(stderr, "%s: %lld entradas, %d páginas\n", report->name,
               static_cast<long long>(run.entries), run.pages);
  return 0;
}
