// Plain-text rendering: exact output of a small report, clipping, odd input.
#include "host/report/text_renderer.h"

#include <gtest/gtest.h>

#include "host/report/report.h"

namespace nv::report {
namespace {

// 4 x 1.5 in page: 40 columns, 9 rows at 10 cpi and 6 lpi.
ReportLayout SmallLayout() {
  ReportLayout layout;
  layout.page = {4000, 1500};
  layout.margins = {200, 167, 200, 167};
  layout.page_header = {
      "", 334, {Item::Label(0, 0, 3600, "Listado - Descripci\xF3n", Align::kCenter)}};
  layout.page_footer = {"",
                        167,
                        {Item::PageNumber(0, 0, 1200, "P\xE1gina <<<#"),
                         Item::Label(2600, 0, 1000, "Fonvex", Align::kRight)}};
  layout.details.push_back({"DET",
                            167,
                            {Item::Label(0, 0, 900, "N\xFAmero:"),
                             Item::Field(900, 0, 1000, "NUM", "@n8.2", Align::kRight),
                             Item::Field(2000, 0, 1500, "DESC", "@s20")}});
  layout.totals = {
      "TOTALES",
      498,
      {Item::Box(0, 0, 3600, 498), Item::Label(100, 167, 3000, "Total Duraci\xF3n: 1:00:00")}};
  return layout;
}

Document SmallReport() {
  Report report;
  EXPECT_TRUE(report.Open(SmallLayout()).ok());
  for (int i = 1; i <= 5; ++i) {
    EXPECT_TRUE(report
                    .Print("DET", {{"NUM", Value::Number(i * 1000.25)},
                                   {"DESC", Value::String("Llamada " + std::to_string(i))}})
                    .ok());
  }
  EXPECT_TRUE(report.Print("TOTALES").ok());
  EXPECT_TRUE(report.Close().ok());
  return report.TakeDocument();
}

const char kExpected[] =
    "\n"
    "         Listado - Descripción\n"
    "\n"
    "  Número:    1,000.25 Llamada 1\n"
    "  Número:    2,000.50 Llamada 2\n"
    "  Número:    3,000.75 Llamada 3\n"
    "\n"
    "  Página    1                   Fonvex\n"
    "\f\n"
    "\n"
    "         Listado - Descripción\n"
    "\n"
    "  Número:    4,001.00 Llamada 4\n"
    "  Número:    5,001.25 Llamada 5\n"
    "\n"
    "\n"
    "  Página    2                   Fonvex\n"
    "\f\n"
    "\n"
    "         Listado - Descripción\n"
    "\n"
    "  +-----------------------------------+\n"
    "  |Total Duración: 1:00:00            |\n"
    "  |                                   |\n"
    "  +-----------------------------------+\n"
    "  Página    3                   Fonvex\n";

TEST(ReportTextRenderer, ExactOutputOfASmallReport) {
  Document doc = SmallReport();
  ASSERT_EQ(doc.pages.size(), 3u);  // the totals band moved whole to page 3
  EXPECT_EQ(RenderText(doc), kExpected);
  EXPECT_EQ(RenderText(doc), RenderText(doc));  // deterministic
}

TEST(ReportTextRenderer, AnsiOutputKeepsTheBytesAndMarkedPagesAreLabelled) {
  Document doc = SmallReport();
  TextOptions options;
  options.utf8 = false;
  options.marked_pages = true;
  std::string text = RenderText(doc, options);
  EXPECT_EQ(text.rfind("==== page 1 ====\n", 0), 0u);
  EXPECT_NE(text.find("\n==== page 3 ====\n"), std::string::npos);
  EXPECT_EQ(text.find('\f'), std::string::npos);
  EXPECT_NE(text.find("  P\xE1gina    2"), std::string::npos);
  EXPECT_NE(text.find("Descripci\xF3n\n"), std::string::npos);
}

TEST(ReportTextRenderer, TextsAreCutToTheirBoxAndToThePage) {
  Document doc;
  doc.paper = {2000, 500};  // 20 columns, 3 rows
  Page page;
  page.number = 1;
  page.texts.push_back({0, 0, 500, 167, "abcdefghij", Align::kLeft, {}});
  page.texts.push_back({1000, 0, 500, 167, "     12345678", Align::kRight, {}});
  page.texts.push_back({1500, 167, 0, 167, "runs off the page", Align::kLeft, {}});
  page.texts.push_back({-200, 333, 0, 167, "xyz", Align::kLeft, {}});
  page.texts.push_back({0, 5000, 0, 167, "far below", Align::kLeft, {}});
  doc.pages.push_back(page);
  EXPECT_EQ(RenderText(doc),
            "abcde     12345\n"
            "               runs\n"
            "z\n");
}

TEST(ReportTextRenderer, ControlCharactersCannotBreakTheRows) {
  Document doc;
  doc.paper = {2000, 500};
  Page page;
  page.number = 1;
  page.texts.push_back({0, 0, 0, 167, std::string("a\nb\fc\0d", 7), Align::kLeft, {}});
  doc.pages.push_back(page);
  EXPECT_EQ(RenderText(doc), "a b c d\n");
}

TEST(ReportTextRenderer, RulesMeetInCornersAndSlantedLinesAreLeftOut) {
  Document doc;
  doc.paper = {1000, 1000};
  Page page;
  page.number = 1;
  page.lines.push_back({0, 167, 500, 167, 10});  // horizontal, row 1
  page.lines.push_back({300, 0, 300, 500, 10});  // vertical, column 3
  page.lines.push_back({0, 0, 900, 900, 10});    // slanted
  doc.pages.push_back(page);
  EXPECT_EQ(RenderText(doc),
            "   |\n"
            "---+--\n"
            "   |\n"
            "   |\n");
}

TEST(ReportTextRenderer, OddOptionsAndOddPapersAreClamped) {
  Document doc = SmallReport();
  TextOptions options;
  options.chars_per_inch = 0;
  options.lines_per_inch = -4;
  EXPECT_FALSE(RenderText(doc, options).empty());
  options.chars_per_inch = 1000000;
  options.lines_per_inch = 1000000;
  EXPECT_FALSE(RenderText(doc, options).empty());
  doc.paper = {0, 0};
  EXPECT_FALSE(RenderText(doc).empty());  // one cell per page, no crash
}

}  // namespace
}  // namespace nv::report
