// A list over a shared flat file whose rows come from the key alone (the
// filter says which fields it reads, or is a filter text naming them)
// against the same list reading whole records, on random data, while
// another station adds, changes and deletes records between the moves.
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "host/runtime/error_state.h"
#include "host/runtime/expr.h"
#include "host/runtime/file.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/read_fields.h"
#include "host/ui/browse.h"

namespace {

using namespace nv;
using namespace nv::ui;

#pragma pack(push, 1)
struct KrRecord {
  int32_t CODE;
  String<6> NAME;
  String<1> KIND;
  String<16> NOTE;
};
#pragma pack(pop)

FileDecl KrDecl(const std::string& name) {
  static auto rt = DeclareRecord<KrRecord>(
      "KR", {NV_FIELD(KrRecord, CODE), NV_FIELD(KrRecord, NAME), NV_FIELD(KrRecord, KIND),
             NV_FIELD(KrRecord, NOTE)});
  FileDecl d;
  d.label = "KEYROWS";
  d.driver = "Norvane";
  d.name = name;
  d.record = rt;
  d.attributes = kFileCreate;
  d.keys = {{"KR:KEY_CODE", {"KR:CODE"}, kKeyPrimary, ""},
            {"KR:KEY_NAME", {"KR:NAME", "KR:KIND"}, 0, ""}};
  return d;
}

// Short names from few letters, so that rows crowd and collide.
void Randomize(KrRecord& r, std::mt19937& rng, int version) {
  std::string name;
  for (int i = 0, n = 1 + int(rng() % 4); i < n; ++i) name += char('A' + rng() % 5);
  r.NAME = name;
  r.KIND = rng() % 3 == 0 ? "C" : "E";
  r.NOTE = "v" + std::to_string(version) + " " + std::to_string(r.CODE);
}

TEST(BrowseKeyRows, PagesFromTheKeyEqualPagesFromTheRecords) {
  char tmpl[] = "/tmp/nvbrowseXXXXXX";
  const std::string dir = ::mkdtemp(tmpl);
  const FileDecl decl = KrDecl(dir + "/KEYROWS");
  std::mt19937 rng(20261208);
  File writer(decl);
  ASSERT_EQ(writer.Create(), 0);
  ASSERT_EQ(writer.Open(), 0);
  int32_t next_code = 1;
  auto add = [&](int version) {
    writer.Clear();
    auto& r = writer.As<KrRecord>();
    r.CODE = next_code++;
    Randomize(r, rng, version);
    const int err = writer.Add();
    ASSERT_TRUE(err == 0 || err == 40) << err;  // 40: the name and kind exist
  };
  for (int i = 0; i < 300; ++i) add(0);

  File fast_file(decl), text_file(decl), plain_file(decl), oracle(decl);
  ASSERT_EQ(oracle.Open(), 0);
  ASSERT_EQ(fast_file.Open(), 0);
  ASSERT_EQ(text_file.Open(), 0);
  ASSERT_EQ(plain_file.Open(), 0);
  expr::Bindings bindings;
  bindings.BindFile(&text_file);
  SetFilterCompiler([&bindings](File&, std::string_view t, std::string* error) {
    expr::Error err;
    std::shared_ptr<expr::Expression> e = expr::Expression::Compile(t, bindings, &err);
    *error = err.message;
    return e ? std::function<bool()>([e] { return e->Matches(); }) : std::function<bool()>();
  });
  Browse fast(&fast_file), text(&text_file), plain(&plain_file);
  for (auto [b, f] : {std::pair{&fast, &fast_file}, std::pair{&text, &text_file},
                      std::pair{&plain, &plain_file}}) {
    b->AddOrder("Nombre", "KR:KEY_NAME");
    b->SetColumns({Col("Nombre", "", "KR:NAME"), Col("Tipo", "", "KR:KIND")});
    b->SetPageSize(7);
    auto filter = [f = f] { return f->As<KrRecord>().KIND == "E"; };
    if (b == &fast) {
      b->SetFilter(filter, {"KR:KIND"});
    } else if (b == &text) {
      ASSERT_TRUE(b->SetFilterText("(KR:KIND = 'E')")) << b->filter_error();
    } else {
      b->SetFilter(filter);
    }
    b->Reset();
  }
  SetFilterCompiler(nullptr);

  for (int step = 1; step <= 400; ++step) {
    // Another station: an ADD, a PUT or a DELETE now and then.
    const int32_t code = int32_t(1 + rng() % uint32_t(next_code - 1));
    switch (rng() % 4) {
      case 0:
        add(step);
        break;
      case 1:
        writer.As<KrRecord>().CODE = code;
        if (writer.Get(writer.key(0)) == 0) {
          Randomize(writer.As<KrRecord>(), rng, step);
          const int err = writer.Put();
          ASSERT_TRUE(err == 0 || err == 40) << err;
        }
        break;
      case 2:
        writer.As<KrRecord>().CODE = code;
        if (writer.Get(writer.key(0)) == 0) {
          ASSERT_EQ(writer.Delete(), 0);
        }
        break;
      default:
        break;
    }
    // Now and then the other station changes or deletes the highlighted
    // record itself (the buffer holds it after every load).
    if (rng() % 6 == 0 && !fast.empty()) {
      writer.As<KrRecord>().CODE = fast_file.As<KrRecord>().CODE;
      if (writer.Get(writer.key(0)) == 0) {
        if (rng() % 3 == 0) {
          ASSERT_EQ(writer.Delete(), 0);
        } else {
          writer.As<KrRecord>().NOTE = "w" + std::to_string(step);
          ASSERT_EQ(writer.Put(), 0);
        }
      }
    }
    const int move = int(rng() % 7), n = 1 + int(rng() % 9);
    const bool to_end = rng() % 4 == 0;
    const std::string prefix(1, char('A' + rng() % 6));
    const std::string was = plain.RowPosition(plain.highlight());
    for (Browse* b : {&fast, &text, &plain}) {
      switch (move) {
        case 0: b->PageDown(); break;
        case 1: b->PageUp(); break;
        case 2: b->Down(n); break;
        case 3: b->Up(n); break;
        case 4: b->Locate(prefix); break;
        case 5: to_end ? b->End() : b->Home(); break;
        default: b->Refresh(); break;
      }
    }
    ASSERT_EQ(fast.Page(), plain.Page()) << "step " << step << " move " << move;
    ASSERT_EQ(text.Page(), plain.Page()) << "step " << step << " move " << move;
    ASSERT_EQ(fast.highlight(), plain.highlight()) << "step " << step;
    ASSERT_EQ(fast.more_above(), plain.more_above()) << "step " << step;
    ASSERT_EQ(fast.more_below(), plain.more_below()) << "step " << step;
    // After a move to another row the highlighted record is whole in the
    // buffer, and the file reads whole records again for whoever uses it.
    if (plain.RowPosition(plain.highlight()) != was) {
      ASSERT_EQ(std::memcmp(fast_file.record(), plain_file.record(), sizeof(KrRecord)), 0)
          << "step " << step;
    }
    ASSERT_EQ(fast_file.GetProperty(kPropReadFields), "") << "step " << step;
    // A load answers a record as stored now, never one another station
    // changed or deleted since it was last read.
    if (fast.LoadHighlighted()) {
      oracle.As<KrRecord>().CODE = fast_file.As<KrRecord>().CODE;
      ASSERT_EQ(oracle.Get(oracle.key(0)), 0) << "step " << step;
      ASSERT_EQ(std::memcmp(oracle.record(), fast_file.record(), sizeof(KrRecord)), 0)
          << "step " << step;
    }
  }

  // Without the re-read of the highlighted record the buffer shows what
  // the rows were read with: the key's fields only on the narrowed sides.
  for (auto [b, f] : {std::pair{&fast, &fast_file}, std::pair{&text, &text_file},
                      std::pair{&plain, &plain_file}}) {
    b->SetLoadOnMove(false);
    b->Home();
    f->Clear();
    b->PageDown();
  }
  EXPECT_EQ(fast_file.As<KrRecord>().NAME, plain_file.As<KrRecord>().NAME);
  EXPECT_EQ(text_file.As<KrRecord>().NAME, plain_file.As<KrRecord>().NAME);
  EXPECT_EQ(Clip(fast_file.As<KrRecord>().NOTE.view()), "");
  EXPECT_EQ(Clip(text_file.As<KrRecord>().NOTE.view()), "");
  EXPECT_NE(Clip(plain_file.As<KrRecord>().NOTE.view()), "");

  oracle.Close();
  text_file.Close();
  fast_file.Close();
  plain_file.Close();
  writer.Close();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
