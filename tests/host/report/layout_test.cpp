// Layout validation and the paper chosen by the locale.
#include "host/report/layout.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace nv::report {
namespace {

ReportLayout SmallLayout() {
  ReportLayout layout;
  layout.page = {4000, 3000};
  layout.margins = {250, 250, 250, 250};
  layout.page_header = {"", 500, {Item::Label(0, 0, 0, "Head")}};
  layout.page_footer = {"", 500, {Item::PageNumber(0, 0, 0, "P <<<#")}};
  layout.details.push_back({"LINE", 500, {Item::Field(0, 0, 2000, "X", "@s10")}});
  layout.totals = {"TOTALES", 500, {Item::Box(0, 0, 3000, 400)}};
  return layout;
}

TEST(ReportLayoutValidate, AcceptsSoundLayoutAndFindsBandsIgnoringCase) {
  ReportLayout layout = SmallLayout();
  EXPECT_TRUE(layout.Validate().ok()) << layout.Validate().message();
  EXPECT_EQ(layout.BodyHeight(), 3000 - 250 - 250 - 500 - 500);
  EXPECT_EQ(layout.FindBand("line"), &layout.details[0]);
  EXPECT_EQ(layout.FindBand("Totales"), &layout.totals);
  EXPECT_EQ(layout.FindBand("nothing"), nullptr);
  EXPECT_EQ(layout.FindBand(""), nullptr);  // the unnamed header is not printable
}

TEST(ReportLayoutValidate, RefusesLayoutsThatCannotBePaginated) {
  struct Case {
    const char* what;
    void (*spoil)(ReportLayout*);
  };
  const Case cases[] = {
      {"zero page",
       [](ReportLayout* l) {
         l->page = {0, 3000};
       }},
      {"huge page",
       [](ReportLayout* l) {
         l->page = {4000, 2000000};
       }},
      {"negative margin", [](ReportLayout* l) { l->margins.left = -1; }},
      {"margins eat the width", [](ReportLayout* l) { l->margins.right = 3750; }},
      {"no body", [](ReportLayout* l) { l->page_footer.height = 2000; }},
      {"band taller than body", [](ReportLayout* l) { l->details[0].height = 1501; }},
      {"unnamed detail", [](ReportLayout* l) { l->details[0].name.clear(); }},
      {"duplicate name", [](ReportLayout* l) { l->totals.name = "line"; }},
      {"negative band height", [](ReportLayout* l) { l->details[0].height = -5; }},
      {"negative item width", [](ReportLayout* l) { l->details[0].items[0].width = -1; }},
      {"item left of band", [](ReportLayout* l) { l->details[0].items[0].x = -1; }},
      {"item below band", [](ReportLayout* l) { l->details[0].items[0].y = 501; }},
      {"box below band", [](ReportLayout* l) { l->totals.items[0].height = 501; }},
      {"line below band",
       [](ReportLayout* l) { l->details[0].items.push_back(Item::Line(0, 0, 100, 600)); }},
      {"value without name", [](ReportLayout* l) { l->details[0].items[0].name.clear(); }},
      {"bad header item", [](ReportLayout* l) { l->page_header.items[0].height = -3; }},
  };
  for (const Case& c : cases) {
    ReportLayout layout = SmallLayout();
    c.spoil(&layout);
    Status s = layout.Validate();
    EXPECT_EQ(s.code(), Code::kBadLayout) << c.what;
    EXPECT_FALSE(s.message().empty()) << c.what;
  }
}

TEST(ReportLayoutValidate, BandAsTallAsTheBodyAndAnEmptyTotalsBandAreAccepted) {
  ReportLayout layout = SmallLayout();
  layout.details[0].height = layout.BodyHeight();
  layout.totals = Band{};
  EXPECT_TRUE(layout.Validate().ok());
  EXPECT_EQ(layout.FindBand(""), nullptr);
}

TEST(ReportLayoutItems, LinesAreNormalisedToACornerAndExtent) {
  Item line = Item::Line(300, 40, 100, 40, 7);
  EXPECT_EQ(line.x, 100);
  EXPECT_EQ(line.y, 40);
  EXPECT_EQ(line.width, 200);
  EXPECT_EQ(line.height, 0);
  EXPECT_EQ(line.thickness, 7);
}

TEST(ReportPaper, LocalesChooseLetterOrA4) {
  EXPECT_EQ(PaperForLocale("").height, kA4.height);
  EXPECT_EQ(PaperForLocale("C").height, kA4.height);
  EXPECT_EQ(PaperForLocale("C.UTF-8").height, kA4.height);
  EXPECT_EQ(PaperForLocale("POSIX").height, kA4.height);
  EXPECT_EQ(PaperForLocale("es_AR.UTF-8").height, kA4.height);
  EXPECT_EQ(PaperForLocale("es_ES@euro").height, kA4.height);
  EXPECT_EQ(PaperForLocale("en_US.UTF-8").height, kLetter.height);
  EXPECT_EQ(PaperForLocale("es_MX").height, kLetter.height);
  EXPECT_EQ(PaperForLocale("fr_CA.ISO-8859-1").height, kLetter.height);
  EXPECT_EQ(PaperForLocale("garbage").height, kA4.height);
  EXPECT_EQ(PaperForLocale("x_").height, kA4.height);
}

TEST(ReportPaper, DefaultFollowsTheEnvironmentInPrecedenceOrder) {
  ::setenv("LC_ALL", "", 1);
  ::setenv("LC_PAPER", "en_US.UTF-8", 1);
  ::setenv("LANG", "es_AR.UTF-8", 1);
  EXPECT_EQ(DefaultPaper().width, kLetter.width);
  EXPECT_EQ(ReportLayout{}.page.height, kLetter.height);  // a new layout takes it
  ::setenv("LC_ALL", "de_DE.UTF-8", 1);
  EXPECT_EQ(DefaultPaper().width, kA4.width);
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_PAPER");
  ::unsetenv("LANG");
  EXPECT_EQ(DefaultPaper().width, kA4.width);
}

}  // namespace
}  // namespace nv::report
