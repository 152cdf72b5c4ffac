// Qt renderers: PDF read back with poppler's tools, printer set-up, preview
// smoke test (offscreen) and the hand-over to the GUI thread.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QThread>

#include <array>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "host/report/qt/pdf_renderer.h"
#include "host/report/qt/preview.h"
#include "host/report/qt/print_renderer.h"
#include "host/report/report.h"

// The font library keeps caches for the life of the process; they are not
// ours to free.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace nv::report {
namespace {

namespace fs = std::filesystem;

QApplication* App() {
  static QApplication* app = [] {
    static std::string runtime_dir = fs::temp_directory_path() / "nvreport-xdg";
    fs::create_directories(runtime_dir);
    ::chmod(runtime_dir.c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char arg0[] = "report_qt_test";
    static char* argv[] = {arg0, nullptr};
    return new QApplication(argc, argv);
  }();
  return app;
}

class TempDir {
 public:
  TempDir() {
    std::string templ = (fs::temp_directory_path() / "nvreport-XXXXXX").string();
    path_ = ::mkdtemp(templ.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string File(const char* name) const { return (fs::path(path_) / name).string(); }

 private:
  std::string path_;
};

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
  ::pclose(pipe);
  return out;
}

// True when some occurrence of `head` is followed, after one or more
// blanks, by `tail`.
bool HasAfterBlanks(const std::string& text, const std::string& head, const std::string& tail) {
  for (size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
    size_t p = at + head.size();
    if (p >= text.size() || text[p] != ' ') continue;
    while (p < text.size() && text[p] == ' ') ++p;
    if (text.compare(p, tail.size(), tail) == 0) return true;
  }
  return false;
}

// A detail-like report of three pages with the accented headings.
Document CallsDocument(int copies = 1) {
  ReportLayout layout;
  layout.page = kA4;
  layout.page_header = {
      "",
      600,
      {Item::Field(0, 0, 7000, "LOC:TITULO1", "@s100", Align::kCenter, {12, true}),
       Item::Line(0, 500, 7268, 500)}};
  layout.page_footer = {"",
                        300,
                        {Item::PageNumber(0, 0, 1500, "P\xE1gina <<<#"),
                         Item::Field(2500, 0, 1500, "LOC:FECHA", "@d6"),
                         Item::Label(5000, 0, 2000, "Fonvex Windows", Align::kRight)}};
  layout.details.push_back(
      {"CUERPOMO",
       1000,
       {Item::Label(0, 0, 1000, "Duraci\xF3n:"), Item::Field(1100, 0, 1000, "DURLLA", "@t4"),
        Item::Label(0, 250, 1200, "Descripci\xF3n:"),
        Item::Field(1300, 250, 4000, "LOC:DESCTEL", "@s30"), Item::Label(0, 500, 1000, "Costo:"),
        Item::Field(1100, 500, 1200, "COSLLA", "@n10.2", Align::kRight)}});
  layout.totals = {
      "TOTALES",
      900,
      {Item::Box(0, 0, 5000, 850), Item::Field(100, 100, 4000, "LOC:TIT_CANT", "@s30")}};
  Report report;
  EXPECT_TRUE(report.Open(layout).ok());
  report.set_copies(copies);
  report.set_caption("Reporte de llamadas salientes por l\xEDneas detallado");
  report.Set("LOC:TITULO1", Value::String("Informe de llamadas salientes - Por L\xEDneas -"));
  report.Set("LOC:FECHA", Value::Date(82000));
  for (int i = 0; i < 25; ++i) {
    EXPECT_TRUE(report
                    .Print("CUERPOMO", {{"DURLLA", Value::Time(3001 + i * 100)},
                                        {"LOC:DESCTEL", Value::String("Oficina Ca\xF1uelas")},
                                        {"COSLLA", Value::Number(1234.5 + i)}})
                    .ok());
  }
  EXPECT_TRUE(
      report.Print("TOTALES", {{"LOC:TIT_CANT", Value::String("Total Llamadas: 25")}}).ok());
  EXPECT_TRUE(report.Close().ok());
  EXPECT_EQ(report.page_count(), 3);
  return report.TakeDocument();
}

// Runs first in the binary (and alone under ctest): no application object yet.
TEST(ReportQtNoApplication, RenderersRefuseWithoutAnApplication) {
  if (QCoreApplication::instance() != nullptr) GTEST_SKIP() << "application already created";
  TempDir dir;
  Document doc = CallsDocument();
  EXPECT_EQ(RenderPdf(doc, dir.File("a.pdf")).code(), Code::kNoApplication);
  EXPECT_FALSE(fs::exists(dir.File("a.pdf")));
  EXPECT_EQ(PostToGuiThread(doc, [](const Document&) {}).code(), Code::kNoApplication);
  EXPECT_EQ(Present(doc).code(), Code::kWrongThread);
}

TEST(ReportPdf, PagesAndAccentsReadBackWithPdftotext) {
  App();
  TempDir dir;
  std::string pdf = dir.File("calls.pdf");
  ASSERT_TRUE(RenderPdf(CallsDocument(), pdf).ok());
  std::string text = Shell("pdftotext -layout '" + pdf + "' -");
  // Blanks of the number field shrink in a proportional font.
  EXPECT_TRUE(HasAfterBlanks(text, "P\xC3\xA1gina", "1 "));
  EXPECT_TRUE(HasAfterBlanks(text, "P\xC3\xA1gina", "3 "));
  EXPECT_NE(text.find("Duraci\xC3\xB3n:"), std::string::npos);
  EXPECT_NE(text.find("Descripci\xC3\xB3n:"), std::string::npos);
  EXPECT_NE(text.find("Oficina Ca\xC3\xB1uelas"), std::string::npos);
  EXPECT_NE(text.find("Por L\xC3\xADneas"), std::string::npos);
  EXPECT_NE(text.find("1,258.50"), std::string::npos);
  EXPECT_NE(text.find("Total Llamadas: 25"), std::string::npos);
  EXPECT_NE(text.find("Fonvex Windows"), std::string::npos);

  std::string info = Shell("pdfinfo '" + pdf + "'");
  EXPECT_TRUE(HasAfterBlanks(info, "Pages:", "3\n")) << info;
  EXPECT_NE(info.find("(A4)"), std::string::npos) << info;
  EXPECT_NE(info.find("detallado"), std::string::npos) << info;  // the caption is the title
  std::string fonts = Shell("pdffonts '" + pdf + "'");
  // Name, type, encoding, then the "emb" column: every font embedded.
  EXPECT_NE(fonts.find("\nDejaVuSans "), std::string::npos) << fonts;
  EXPECT_TRUE(HasAfterBlanks(fonts, "Identity-H", "yes")) << fonts;
  EXPECT_FALSE(HasAfterBlanks(fonts, "Identity-H", "no")) << fonts;
}

TEST(ReportPdf, LetterPaperGivesALetterPdf) {
  App();
  TempDir dir;
  Document doc = CallsDocument();
  doc.paper = kLetter;
  ASSERT_TRUE(RenderPdf(doc, dir.File("letter.pdf")).ok());
  std::string info = Shell("pdfinfo '" + dir.File("letter.pdf") + "'");
  EXPECT_NE(info.find("612 x 792"), std::string::npos) << info;
}

TEST(ReportPdf, RendersFromAReportThread) {
  App();
  TempDir dir;
  std::array<Status, 2> results;
  std::array<std::thread, 2> threads;
  for (size_t i = 0; i < threads.size(); ++i) {
    threads[i] = std::thread([&, i] {
      results[i] = RenderPdf(CallsDocument(), dir.File(i == 0 ? "t0.pdf" : "t1.pdf"));
    });
  }
  for (std::thread& t : threads) t.join();
  for (const Status& s : results) EXPECT_TRUE(s.ok()) << s.message();
  for (const char* name : {"t0.pdf", "t1.pdf"}) {
    std::string text = Shell(std::string("pdftotext '") + dir.File(name) + "' -");
    EXPECT_NE(text.find("Descripci\xC3\xB3n"), std::string::npos) << name;
  }
}

TEST(ReportPdf, FailuresLeaveNoPartialFileAndKeepAnOldOne) {
  App();
  TempDir dir;
  std::string pdf = dir.File("old.pdf");
  { std::ofstream(pdf) << "previous"; }
  EXPECT_EQ(RenderPdf(Document{}, pdf).code(), Code::kNothingToPrint);
  EXPECT_EQ(RenderPdf(CallsDocument(), dir.File("missing/dir/x.pdf")).code(), Code::kOutputFailed);
  EXPECT_EQ(RenderPdf(CallsDocument(), dir.File("")).code(), Code::kOutputFailed);  // a folder
  std::ifstream in(pdf);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "previous");
  ASSERT_TRUE(RenderPdf(CallsDocument(), pdf).ok());
  EXPECT_EQ(Shell("head -c 5 '" + pdf + "'"), "%PDF-");
}

TEST(ReportPrinter, ThePrinterGetsCopiesPaperAndJobName) {
  App();
  TempDir dir;
  Document doc = CallsDocument(3);
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(dir.File("printed.pdf")));
  ASSERT_TRUE(PrintDocument(doc, &printer).ok());
  EXPECT_EQ(printer.copyCount(), 3);
  EXPECT_TRUE(printer.fullPage());
  EXPECT_EQ(printer.docName().toStdString(),
            "Reporte de llamadas salientes por l\xC3\xADneas detallado");
  EXPECT_EQ(printer.pageLayout().pageSize().id(), QPageSize::A4);
  std::string text = Shell("pdftotext '" + dir.File("printed.pdf") + "' -");
  EXPECT_NE(text.find("Duraci\xC3\xB3n"), std::string::npos);
  EXPECT_EQ(PrintDocument(Document{}, &printer).code(), Code::kNothingToPrint);
}

TEST(ReportPreview, OffscreenDialogIsMaximisedZoomableAndShowsEveryPage) {
  App();
  Document doc = CallsDocument(2);
  EXPECT_EQ(CreatePreview(Document{}), nullptr);
  std::unique_ptr<QPrintPreviewDialog> dialog = CreatePreview(doc);
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->windowState() & Qt::WindowMaximized);
  EXPECT_EQ(dialog->printer()->copyCount(), 2);
  dialog->show();
  QApplication::processEvents();
  auto* widget = dialog->findChild<QPrintPreviewWidget*>();
  ASSERT_NE(widget, nullptr);
  widget->updatePreview();
  QApplication::processEvents();
  EXPECT_EQ(widget->pageCount(), 3);
  widget->setZoomMode(QPrintPreviewWidget::CustomZoom);
  qreal before = widget->zoomFactor();
  widget->zoomIn();
  EXPECT_GT(widget->zoomFactor(), before);
  dialog->close();
}

TEST(ReportPreview, GuiOnlyCallsRefuseOtherThreads) {
  App();
  Document doc = CallsDocument();
  Status from_thread;
  bool dialog_made = true;
  std::thread t([&] {
    from_thread = Present(doc);
    dialog_made = CreatePreview(doc) != nullptr;
  });
  t.join();
  EXPECT_EQ(from_thread.code(), Code::kWrongThread);
  EXPECT_FALSE(dialog_made);
  EXPECT_EQ(Present(Document{}).code(), Code::kNothingToPrint);
}

TEST(ReportPreview, AReportThreadHandsItsDocumentToTheGuiThread) {
  App();
  std::atomic<bool> done = false;
  QThread* seen_thread = nullptr;
  size_t seen_pages = 0;
  std::thread worker([&] {
    Document doc = CallsDocument();
    Status s = PostToGuiThread(std::move(doc), [&](const Document& d) {
      seen_thread = QThread::currentThread();
      seen_pages = d.pages.size();
      done = true;
    });
    EXPECT_TRUE(s.ok());
  });
  worker.join();
  EXPECT_FALSE(done);  // queued, not run on the worker
  for (int i = 0; i < 100 && !done; ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  ASSERT_TRUE(done);
  EXPECT_EQ(seen_thread, App()->thread());
  EXPECT_EQ(seen_pages, 3u);
}

}  // namespace
}  // namespace nv::report
