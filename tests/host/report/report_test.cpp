// Report runs: pagination, values, pictures, page numbers, copies, threads.
#include "host/report/report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/report/text_renderer.h"

namespace nv::report {
namespace {

// Page 5 x 2 in, no margins; header 2 rows, footer 1 row; the body holds
// eight 167-mil bands (1499 mils).
ReportLayout PagingLayout() {
  ReportLayout layout;
  layout.page = {5000, 2000};
  layout.margins = {0, 0, 0, 0};
  layout.page_header = {"", 334, {Item::Field(0, 0, 3000, "TITLE", "")}};
  layout.page_footer = {
      "",
      167,
      {Item::PageNumber(0, 0, 1500, "P\xE1gina <<<#"), Item::Field(2000, 0, 1000, "STAMP", "")}};
  layout.details.push_back({"ROW", 167, {Item::Field(0, 0, 3000, "N", "")}});
  layout.details.push_back(
      {"TALL", 1000, {Item::Label(0, 0, 0, "tall"), Item::Line(0, 500, 4000, 500)}});
  layout.totals = {
      "TOTALES", 334, {Item::Box(0, 0, 4000, 334, 20), Item::Label(100, 80, 0, "fin")}};
  return layout;
}

std::vector<std::string> Texts(const Page& page) {
  std::vector<std::string> out;
  for (const TextRun& run : page.texts) out.push_back(run.text);
  return out;
}

const TextRun* FindRun(const Page& page, std::string_view text) {
  for (const TextRun& run : page.texts) {
    if (run.text == text) return &run;
  }
  return nullptr;
}

TEST(ReportPagination, BandsSpillToNewPagesWithHeaderAndFooterOnEach) {
  Report report;
  ASSERT_TRUE(report.Open(PagingLayout()).ok());
  report.Set("TITLE", Value::String("Heading"));
  for (int i = 1; i <= 20; ++i) {
    ASSERT_TRUE(report.Print("ROW", {{"N", Value::Number(i)}}).ok());
  }
  ASSERT_TRUE(report.Close().ok());
  const Document& doc = report.document();
  ASSERT_EQ(doc.pages.size(), 3u);
  int expected_n = 1;
  for (size_t p = 0; p < doc.pages.size(); ++p) {
    const Page& page = doc.pages[p];
    EXPECT_EQ(page.number, static_cast<int>(p) + 1);
    const TextRun* head = FindRun(page, "Heading");
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->y, 0);
    std::string number = std::to_string(p + 1);
    const TextRun* foot = FindRun(page, "P\xE1gina    " + number);
    ASSERT_NE(foot, nullptr) << "page " << p + 1;
    EXPECT_EQ(foot->y, 2000 - 167);
    // Bands in order, directly below the header.
    size_t rows = p < 2 ? 8 : 4;
    std::vector<std::string> texts = Texts(page);
    ASSERT_EQ(texts.size(), rows + 2);
    for (size_t r = 0; r < rows; ++r) {
      EXPECT_EQ(page.texts[r + 1].text, std::to_string(expected_n++));
      EXPECT_EQ(page.texts[r + 1].y, 334 + static_cast<int>(r) * 167);
    }
  }
  EXPECT_EQ(expected_n, 21);
}

TEST(ReportPagination, ABandThatFitsExactlyStaysAndTheNextOneMoves) {
  ReportLayout layout = PagingLayout();
  layout.details[0].height = 1499 / 2;  // 749: two fit (1498 <= 1499)
  Report report;
  ASSERT_TRUE(report.Open(layout).ok());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(report.Print("ROW").ok());
  ASSERT_TRUE(report.Close().ok());
  EXPECT_EQ(report.page_count(), 2);

  layout.details[0].height = 1499;  // as tall as the body: one a page
  ASSERT_TRUE(report.Open(layout).ok());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(report.Print("ROW").ok());
  ASSERT_TRUE(report.Close().ok());
  EXPECT_EQ(report.page_count(), 3);
}

TEST(ReportPagination, ATallBandMovesWholeAndLeavesTheRestOfThePageEmpty) {
  Report report;
  ASSERT_TRUE(report.Open(PagingLayout()).ok());
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(report.Print("ROW").ok());  // to 334 + 668
  ASSERT_TRUE(report.Print("TALL").ok());                             // 1002 + 1000 > 1833
  ASSERT_TRUE(report.Print("TOTALES").ok());                          // 334 + 1000 + 334 fits
  ASSERT_TRUE(report.Close().ok());
  const Document& doc = report.document();
  ASSERT_EQ(doc.pages.size(), 2u);
  const TextRun* tall = FindRun(doc.pages[1], "tall");
  ASSERT_NE(tall, nullptr);
  EXPECT_EQ(tall->y, 334);
  ASSERT_EQ(doc.pages[1].lines.size(), 1u);
  EXPECT_EQ(doc.pages[1].lines[0].y1, 334 + 500);
  EXPECT_EQ(doc.pages[1].lines[0].x2, 4000);
  ASSERT_EQ(doc.pages[1].boxes.size(), 1u);
  EXPECT_EQ(doc.pages[1].boxes[0].y, 1334);
  EXPECT_EQ(doc.pages[1].boxes[0].thickness, 20);
  EXPECT_TRUE(doc.pages[0].boxes.empty());
}

TEST(ReportPagination, MarginsOffsetEveryShape) {
  ReportLayout layout = PagingLayout();
  layout.page = {5500, 2600};
  layout.margins = {300, 200, 200, 400};
  Report report;
  ASSERT_TRUE(report.Open(layout).ok());
  ASSERT_TRUE(report.Print("TOTALES").ok());
  ASSERT_TRUE(report.Close().ok());
  const Page& page = report.document().pages.at(0);
  ASSERT_EQ(page.boxes.size(), 1u);
  EXPECT_EQ(page.boxes[0].x, 300);
  EXPECT_EQ(page.boxes[0].y, 200 + 334);
  const TextRun* fin = FindRun(page, "fin");
  ASSERT_NE(fin, nullptr);
  EXPECT_EQ(fin->x, 400);
  EXPECT_EQ(fin->y, 200 + 334 + 80);
  const TextRun* foot = FindRun(page, "P\xE1gina    1");
  ASSERT_NE(foot, nullptr);
  EXPECT_EQ(foot->y, 2600 - 400 - 167);
}

TEST(ReportPagination, NewPageBreaksOnlyAfterBodyContent) {
  Report report;
  ASSERT_TRUE(report.Open(PagingLayout()).ok());
  ASSERT_TRUE(report.NewPage().ok());  // nothing printed yet: no page
  ASSERT_TRUE(report.Print("ROW").ok());
  ASSERT_TRUE(report.NewPage().ok());
  ASSERT_TRUE(report.NewPage().ok());  // no empty page in between
  ASSERT_TRUE(report.Print("ROW").ok());
  ASSERT_TRUE(report.Close().ok());
  EXPECT_EQ(report.page_count(), 2);
}

TEST(ReportPagination, AReportWithoutBandsHasNoPages) {
  Report report;
  ASSERT_TRUE(report.Open(PagingLayout()).ok());
  ASSERT_TRUE(report.Close().ok());
  EXPECT_EQ(report.page_count(), 0);
  EXPECT_EQ(RenderText(report.document()), "");
}

TEST(ReportState, MisuseIsRefusedWithoutSideEffects) {
  Report report;
  EXPECT_EQ(report.Print("ROW").code(), Code::kNotOpen);
  EXPECT_EQ(report.Close().code(), Code::kNotOpen);
  EXPECT_EQ(report.NewPage().code(), Code::kNotOpen);

  ReportLayout bad = PagingLayout();
  bad.details[0].height = 5000;
  EXPECT_EQ(report.Open(bad).code(), Code::kBadLayout);
  EXPECT_FALSE(report.is_open());

  ASSERT_TRUE(report.Open(PagingLayout()).ok());
  EXPECT_EQ(report.Open(PagingLayout()).code(), Code::kAlreadyOpen);
  Status unknown = report.Print("CUERPOMO");
  EXPECT_EQ(unknown.code(), Code::kUnknownBand);
  EXPECT_NE(unknown.message().find("CUERPOMO"), std::string::npos);
  EXPECT_EQ(report.Print("").code(), Code::kUnknownBand);
  ASSERT_TRUE(report.Close().ok());
  EXPECT_EQ(report.page_count(), 0);  // the failed prints started no page
  EXPECT_EQ(report.Close().code(), Code::kNotOpen);
}

TEST(ReportState, ReopeningStartsAFreshDocumentAndForgetsValues) {
  Report report;
  ASSERT_TRUE(report.Open(PagingLayout()).ok());
  ASSERT_TRUE(report.Print("ROW", {{"N", Value::String("first")}}).ok());
  ASSERT_TRUE(report.Close().ok());
  ASSERT_TRUE(report.Open(PagingLayout()).ok());
  ASSERT_TRUE(report.Print("ROW").ok());
  ASSERT_TRUE(report.Close().ok());
  ASSERT_EQ(report.page_count(), 1);
  EXPECT_EQ(FindRun(report.document().pages[0], "first"), nullptr);
  EXPECT_EQ(report.document().pages[0].number, 1);
}

TEST(ReportValues, PersistIgnoreCaseAndFeedHeaderAndFooterWhenTheyPrint) {
  Report report;
  ASSERT_TRUE(report.Open(PagingLayout()).ok());
  report.Set("title", Value::String("T1"));
  for (int i = 1; i <= 9; ++i) {
    // The ninth band breaks the page: the footer of page 1 is printed after
    // its values are set, the header of page 2 too.
    if (i == 9) report.Set("TITLE", Value::String("T2"));
    ASSERT_TRUE(report.Print("row", {{"Stamp", Value::String("s" + std::to_string(i))}}).ok());
  }
  ASSERT_TRUE(report.Close().ok());
  const Document& doc = report.document();
  ASSERT_EQ(doc.pages.size(), 2u);
  EXPECT_NE(FindRun(doc.pages[0], "T1"), nullptr);
  EXPECT_NE(FindRun(doc.pages[0], "s9"), nullptr);
  EXPECT_NE(FindRun(doc.pages[1], "T2"), nullptr);
  EXPECT_NE(FindRun(doc.pages[1], "s9"), nullptr);
  // N was never set: the row bands print nothing.
  EXPECT_EQ(doc.pages[0].texts.size(), 3u);
}

// Records what it is asked and answers in a recognisable form.
class RecordingFormatter : public ValueFormatter {
 public:
  std::string Format(std::string_view picture, const Value& v) const override {
    std::string shown;
    switch (v.kind) {
      case Value::Kind::kString:
        shown = "s:" + v.text;
        break;
      case Value::Kind::kNumber:
        shown = "n:" + std::to_string(v.number);
        break;
      case Value::Kind::kDate:
        shown = "d:" + std::to_string(v.integer);
        break;
      case Value::Kind::kTime:
        shown = "t:" + std::to_string(v.integer);
        break;
    }
    return std::string(picture) + "|" + shown + "   ";
  }
};

TEST(ReportPictures, ValuesConvertToThePicturesKindBeforeFormatting) {
  RecordingFormatter f;
  EXPECT_EQ(FormatValue(f, "@n10.2", Value::String("  12.5x")), "@n10.2|n:12.500000   ");
  EXPECT_EQ(FormatValue(f, "@N6B", Value::String("abc")), "@N6B|n:0.000000   ");
  EXPECT_EQ(FormatValue(f, "@s5", Value::Number(2.5)), "@s5|s:2.5   ");
  EXPECT_EQ(FormatValue(f, "@S5", Value::Date(77)), "@S5|s:77   ");
  EXPECT_EQ(FormatValue(f, "@d6", Value::Number(1234.9)), "@d6|d:1234   ");
  EXPECT_EQ(FormatValue(f, "@D06", Value::String("99")), "@D06|d:99   ");
  EXPECT_EQ(FormatValue(f, "@t4", Value::Number(-3001.7)), "@t4|t:-3001   ");
  EXPECT_EQ(FormatValue(f, "@T4", Value::Number(1e30)), "@T4|t:2147483647   ");
  EXPECT_EQ(FormatValue(f, "@P##-#P", Value::String("123")), "@P##-#P|s:123   ");
  EXPECT_EQ(FormatValue(f, "@P##-#P", Value::Number(123)), "@P##-#P|n:123.000000   ");
  // No picture: texts and numbers as they are, dates and times by default pictures.
  EXPECT_EQ(FormatValue(f, "", Value::String("as is  ")), "as is  ");
  EXPECT_EQ(FormatValue(f, "", Value::Number(0.1)), "0.1");
  EXPECT_EQ(FormatValue(f, "", Value::Number(-1234567)), "-1234567");
  EXPECT_EQ(FormatValue(f, "", Value::Date(5)), "@d6|d:5   ");
  EXPECT_EQ(FormatValue(f, "", Value::Time(7)), "@t4|t:7   ");
  // Unknown or malformed pictures give an empty text, never a crash.
  EXPECT_EQ(FormatValue(f, "@x5", Value::Number(1)), "");
  EXPECT_EQ(FormatValue(f, "@", Value::Number(1)), "");
  EXPECT_EQ(FormatValue(f, "n10", Value::Number(1)), "");
}

TEST(ReportPictures, BoundItemsUseTheReportsFormatterAndDropTrailingBlanks) {
  RecordingFormatter f;
  ReportLayout layout = PagingLayout();
  layout.details[0].items[0].picture = "@n-14";
  Report report(f);
  ASSERT_TRUE(report.Open(layout).ok());
  ASSERT_TRUE(report.Print("ROW", {{"N", Value::Number(7)}}).ok());
  ASSERT_TRUE(report.Close().ok());
  EXPECT_NE(FindRun(report.document().pages[0], "@n-14|n:7.000000"), nullptr);
}

TEST(ReportPictures, TheRuntimePicturesShapeTheTexts) {
  const ValueFormatter& f = DefaultFormatter();
  EXPECT_EQ(FormatValue(f, "@n10.2", Value::Number(1234.5)), "  1,234.50");
  EXPECT_EQ(FormatValue(f, "@N10.`4", Value::Number(1234.5)), "1.234,5000");
  EXPECT_EQ(FormatValue(f, "@N11.2", Value::String("-3")), "      -3.00");
  EXPECT_EQ(FormatValue(f, "@n-4.0", Value::String("12")), "  12");
  EXPECT_EQ(FormatValue(f, "@N6B", Value::Number(0)), "      ");
  EXPECT_EQ(FormatValue(f, "@s5", Value::String("abcdefgh")), "abcde");
  EXPECT_EQ(FormatValue(f, "@s5", Value::Number(42)), "42   ");
  EXPECT_EQ(FormatValue(f, "@d6", Value::Date(4)), " 1/01/1801");
  EXPECT_EQ(FormatValue(f, "@D06", Value::Date(4)), "01/01/1801");
  EXPECT_EQ(FormatValue(f, "@d6", Value::Date(0)), "          ");
  EXPECT_EQ(FormatValue(f, "@T4", Value::Time(3001)), " 0:00:30");
  EXPECT_EQ(FormatValue(f, "@t04", Value::Time(1)), "00:00:00");
  EXPECT_EQ(FormatValue(f, "@P##-########-#P", Value::String("20123456789")), "20-12345678-9");
  EXPECT_EQ(FormatValue(f, "@P##-########-#P", Value::Number(20123456789.0)), "20-12345678-9");
  EXPECT_EQ(FormatValue(f, "@n4", Value::Number(123456)), "####");
  EXPECT_EQ(FormatValue(f, "@q4", Value::Number(1)), "");
}

TEST(ReportPageNumbers, TheFieldIsRightAlignedInItsPlacesAndNeverCut) {
  struct Case {
    const char* text_template;
    int pages;
    const char* last;
  };
  const Case cases[] = {
      {"P\xE1gina <<<#", 1, "P\xE1gina    1"},
      {"<<<#", 12, "  12"},
      {"Hoja <#", 123, "Hoja 123"},
      {"Hoja", 2, "Hoja2"},
      {"Hoja <# de 3", 3, "Hoja  3 de 3"},
      {"##", 1, " 1"},
  };
  for (const Case& c : cases) {
    ReportLayout layout = PagingLayout();
    layout.page_footer.items = {Item::PageNumber(0, 0, 0, c.text_template)};
    Report report;
    ASSERT_TRUE(report.Open(layout).ok());
    for (int p = 0; p < c.pages; ++p) {
      ASSERT_TRUE(report.Print("ROW").ok());
      ASSERT_TRUE(report.NewPage().ok());
    }
    ASSERT_TRUE(report.Close().ok());
    ASSERT_EQ(report.page_count(), c.pages);
    ASSERT_EQ(report.document().pages.back().texts.size(), 1u) << c.text_template;
    EXPECT_EQ(report.document().pages.back().texts[0].text, c.last) << c.text_template;
  }
}

TEST(ReportChecks, MarkedByTheBoundValueAndDrawnInText) {
  ReportLayout layout = PagingLayout();
  layout.details[0].items = {Item::Label(0, 0, 0, "Cliente:"), Item::Check(1000, 0, 120, "ES")};
  Report report;
  ASSERT_TRUE(report.Open(layout).ok());
  const std::vector<Value> values = {
      Value::Number(1),      Value::Number(0), Value::String("S"), Value::String(" 0 "),
      Value::String("    "), Value::Date(0),   Value::Time(5)};
  for (const Value& v : values) ASSERT_TRUE(report.Print("ROW", {{"es", v}}).ok());
  ASSERT_TRUE(report.Close().ok());
  const Page& page = report.document().pages.at(0);
  ASSERT_EQ(page.checks.size(), values.size());
  const bool expected[] = {true, false, true, false, false, false, true};
  for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(page.checks[i].checked, expected[i]) << i;
  EXPECT_EQ(page.checks[0].x, 1000);
  EXPECT_EQ(page.checks[0].size, 120);
  std::string text = RenderText(report.document());
  EXPECT_NE(text.find("Cliente:  [X]\nCliente:  [ ]\nCliente:  [X]\n"), std::string::npos) << text;

  layout.details[0].items[1].name.clear();
  EXPECT_EQ(layout.Validate().code(), Code::kBadLayout);
}

TEST(ReportPrintOptions, CopiesAreKeptWithinSaneBoundsAndTheDocumentCarriesTheOptions) {
  Report report;
  report.set_copies(0);
  EXPECT_EQ(report.copies(), 1);
  report.set_copies(-7);
  EXPECT_EQ(report.copies(), 1);
  report.set_copies(32767);  // a damaged parameter block
  EXPECT_EQ(report.copies(), kMaxCopies);
  report.set_copies(3);
  report.set_skip_preview(true);
  report.set_caption("Reporte de llamadas");
  ASSERT_TRUE(report.Open(PagingLayout()).ok());
  ASSERT_TRUE(report.Print("ROW").ok());
  EXPECT_TRUE(report.TakeDocument().pages.empty());  // still open: nothing to take
  ASSERT_TRUE(report.Close().ok());
  Document doc = report.TakeDocument();
  EXPECT_EQ(doc.copies, 3);
  EXPECT_TRUE(doc.skip_preview);
  EXPECT_EQ(doc.caption, "Reporte de llamadas");
  EXPECT_EQ(doc.paper.width, 5000);
  EXPECT_EQ(doc.pages.size(), 1u);
  EXPECT_EQ(report.page_count(), 0);
  EXPECT_EQ(report.copies(), 3);  // the settings stay for the next run
}

std::string RunNumbered(int rows) {
  Report report;
  if (!report.Open(PagingLayout()).ok()) return "open failed";
  report.Set("TITLE", Value::String("Informe"));
  for (int i = 0; i < rows; ++i) {
    report.Print("ROW", {{"N", Value::Number(i)}, {"STAMP", Value::Time(i + 1)}});
  }
  report.Print("TOTALES");
  report.Close();
  return RenderText(report.document());
}

// Random layouts and print sequences: every band lands whole inside the body
// of some page, in order, and every page has one header and one footer.
TEST(ReportPagination, RandomRunsKeepTheInvariants) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 200; ++round) {
    ReportLayout layout;
    layout.page = {static_cast<int32_t>(2000 + rng() % 9000),
                   static_cast<int32_t>(2000 + rng() % 12000)};
    layout.margins = {static_cast<int32_t>(rng() % 600), static_cast<int32_t>(rng() % 600),
                      static_cast<int32_t>(rng() % 600), static_cast<int32_t>(rng() % 600)};
    int32_t usable = layout.page.height - layout.margins.top - layout.margins.bottom;
    layout.page_header = {
        "", static_cast<int32_t>(rng() % (usable / 3)), {Item::Label(0, 0, 0, "H")}};
    layout.page_footer = {
        "", static_cast<int32_t>(rng() % (usable / 3)), {Item::Label(0, 0, 0, "F")}};
    const int32_t body = layout.BodyHeight();
    const int bands = 1 + static_cast<int>(rng() % 5);
    for (int b = 0; b < bands; ++b) {
      int32_t h = static_cast<int32_t>(rng() % (body + 1));
      layout.details.push_back({"B" + std::to_string(b), h, {Item::Box(0, 0, 100, h)}});
    }
    Report report;
    ASSERT_TRUE(report.Open(layout).ok()) << round;
    const int prints = static_cast<int>(rng() % 60);
    std::vector<int32_t> heights;
    for (int i = 0; i < prints; ++i) {
      int b = static_cast<int>(rng() % bands);
      if (rng() % 10 == 0) {
        ASSERT_TRUE(report.NewPage().ok());
      }
      ASSERT_TRUE(report.Print("B" + std::to_string(b)).ok());
      heights.push_back(layout.details[b].height);
    }
    ASSERT_TRUE(report.Close().ok());
    const int32_t top = layout.margins.top + layout.page_header.height;
    const int32_t bottom = layout.page.height - layout.margins.bottom - layout.page_footer.height;
    size_t placed = 0;
    int number = 0;
    for (const Page& page : report.document().pages) {
      EXPECT_EQ(page.number, ++number);
      ASSERT_EQ(page.texts.size(), 2u);
      EXPECT_EQ(page.texts.front().text, "H");
      EXPECT_EQ(page.texts.back().text, "F");
      EXPECT_FALSE(page.boxes.empty()) << "a page without a band";
      int32_t cursor = top;
      for (const BoxShape& box : page.boxes) {
        ASSERT_LT(placed, heights.size());
        EXPECT_EQ(box.height, heights[placed++]);
        EXPECT_EQ(box.y, cursor);
        EXPECT_LE(box.y + box.height, bottom);
        cursor += box.height;
      }
    }
    EXPECT_EQ(placed, heights.size());
  }
}

TEST(ReportThreads, ConcurrentRunsShareNothing) {
  const std::string expected = RunNumbered(800);
  std::vector<std::string> results(4);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&results, t] { results[t] = RunNumbered(800); });
  }
  for (std::thread& th : threads) th.join();
  for (const std::string& r : results) EXPECT_EQ(r, expected);
}

TEST(ReportVolume, AThousandPageReport) {
  Report report;
  ASSERT_TRUE(report.Open(PagingLayout()).ok());
  for (int i = 0; i < 8000; ++i) {
    ASSERT_TRUE(report.Print("ROW", {{"N", Value::Number(i)}}).ok());
  }
  ASSERT_TRUE(report.Close().ok());
  ASSERT_EQ(report.page_count(), 1000);
  std::string text = RenderText(report.document());
  EXPECT_NE(text.find("P\xC3\xA1gina 1000"), std::string::npos);
  EXPECT_NE(text.find("7999"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\f'), 999);
}

}  // namespace
}  // namespace nv::report
