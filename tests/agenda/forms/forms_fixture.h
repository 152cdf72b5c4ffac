// Shared set-up of the form and re-linking tests: an empty installation in
// ./Archivos of a temporary working folder (the directory files created on
// first use, the four call files created empty), the program's dictionary
// over it, and helpers that write directory entries, numbers and calls
// straight through the file verbs and read them back.
#pragma once

#include <sys/stat.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agenda/ficha_common.h"
#include "host/dictionary/declarations.h"
#include "host/runtime/fixed_string.h"
#include "tests/agenda/agenda_fixture.h"
#include "tests/drivers/odbc/odbc_servers.h"

namespace formstest {

using agenda::A;
using nv::dict::CallRecord;
using nv::dict::FileAccess;
using nv::dict::MA11Record;
using nv::dict::RE09Record;
using nv::dict::TransferRecord;

inline constexpr const char* kCallLabels[4] = {"FXMO01", "FXMO02", "FXTR01", "FXTR02"};

struct Call {
  int file = 0;  // index into kCallLabels
  std::string number;
  int32_t codigo = 0;
  int32_t gruage = 0;
  int32_t id = 0;  // CODLLA
};

struct Entry {
  int32_t codigo = 0;
  std::string nombre;
  std::string kind;
  int32_t codemp = 0;
};

class FormsTest : public agendatest::AgendaTest {
 protected:
  void SetUp() override {
    AgendaTest::SetUp();
    ASSERT_EQ(mkdir("Archivos", 0755), 0);
    nv::dict::FxdatsInit(nullptr, nullptr);
    dic_ = nv::dict::Dic();
    ASSERT_NE(dic_, nullptr);
    dic_->SetCallFileNames();
    dic_->globals().CODUSR.Set(1);
    for (const char* label : kCallLabels) {
      std::unique_ptr<nv::File> f = dic_->NewFile(label);
      ASSERT_EQ(f->Create(), 0) << label << " " << nv::ErrorText();
    }
    agenda::SetHoldTimeout(1);
    agenda::SetRelinkHook(nullptr);
  }
  void TearDown() override {
    agenda::SetRelinkHook(nullptr);
    nv::dict::FxdatsKill();
    AgendaTest::TearDown();
  }

  FileAccess& Use(const char* label) {
    FileAccess* a = dic_->Access(label);
    EXPECT_EQ(a->UseFile(), 0) << label;
    return *a;
  }

  // --- directory
  int32_t AddEntry(const std::string& name, const char* kind, int32_t company = 0,
                   int32_t code = 0) {
    FileAccess& ma11 = Use("FXMA11");
    ma11.file().Clear();
    auto& r = ma11.rec<MA11Record>();
    r.CODIGO = code;
    r.NOMBRE = A(name);
    r.ESEMPR = kind;
    r.CODEMP = company;
    ma11.file().SetMemoText(0, "");
    EXPECT_EQ(ma11.Insert(), 0) << name;
    const int32_t c = r.CODIGO;
    ma11.Close();
    return c;
  }
  bool DeleteEntry(int32_t code) {
    FileAccess& ma11 = Use("FXMA11");
    ma11.rec<MA11Record>().CODIGO = code;
    const bool ok = ma11.TryFetch("MA11:MA11_CP") == 0 && ma11.Delete() == 0;
    ma11.Close();
    return ok;
  }
  std::vector<Entry> Entries() {
    std::vector<Entry> out;
    FileAccess& ma11 = Use("FXMA11");
    ma11.file().Clear();
    ma11.SetOrder("MA11:MA11_CP");
    auto& r = ma11.rec<MA11Record>();
    while (ma11.Next() == 0) out.push_back({r.CODIGO, r.NOMBRE.str(), r.ESEMPR.str(), r.CODEMP});
    ma11.Close();
    return out;
  }
  std::string Dump() {
    std::string out;
    for (const Entry& x : Entries())
      out += std::to_string(x.codigo) + ":" + x.nombre + ":" + x.kind + " ";
    return out;
  }
  bool HasEntry(int32_t code, Entry* e = nullptr) {
    for (const Entry& x : Entries()) {
      if (x.codigo == code) {
        if (e) *e = x;
        return true;
      }
    }
    return false;
  }
  void AddNumber(int32_t owner, const std::string& number, int32_t group = 0) {
    FileAccess& re09 = Use("FXRE09");
    re09.file().Clear();
    auto& r = re09.rec<RE09Record>();
    r.CODIGO.Set(owner);
    r.NROTEL = number;
    r.GRUAGE.Set(group);
    const std::string_view clipped = nv::Clip(number);
    r.CARINI = clipped.substr(0, 1);
    r.LONTEL = uint8_t(clipped.size());
    EXPECT_EQ(re09.Insert(), 0) << number;
    re09.Close();
  }
  bool DeleteNumber(const std::string& number) {
    FileAccess& re09 = Use("FXRE09");
    re09.rec<RE09Record>().NROTEL = number;
    bool ok = re09.TryFetch("RE09:RE09_C1") == 0 && re09.Delete() == 0;
    re09.Close();
    return ok;
  }
  // number -> (owner, group)
  std::map<std::string, std::pair<int32_t, int32_t>> Numbers() {
    std::map<std::string, std::pair<int32_t, int32_t>> out;
    FileAccess& re09 = Use("FXRE09");
    re09.file().Clear();
    re09.SetOrder("RE09:RE09_C1");
    auto& r = re09.rec<RE09Record>();
    while (re09.Next() == 0) {
      int64_t c = 0, g = 0;
      r.CODIGO.Scaled(&c);
      r.GRUAGE.Scaled(&g);
      out[r.NROTEL.str()] = {int32_t(c), int32_t(g)};
    }
    re09.Close();
    return out;
  }

  // --- calls
  void AddCall(int file, const std::string& number, int32_t codigo = 0, int32_t gruage = 0) {
    FileAccess& f = Use(kCallLabels[file]);
    f.file().Clear();
    const int32_t id = ++next_call_;
    if (file < 2) {
      auto& r = f.rec<CallRecord>();
      r.CODLLA = id;
      r.NROTEL = number;
      r.CODIGO = codigo;
      r.GRUAGE.Set(gruage);
      r.FECLLA.set_day(82000 + id % 7);
    } else {
      auto& r = f.rec<TransferRecord>();
      r.CODLLA = id;
      r.NROTEL = number;
      r.CODIGO = codigo;
      r.GRUAGE.Set(gruage);
      r.FECLLA.set_day(82000 + id % 7);
    }
    EXPECT_EQ(f.file().Add(), 0);
    f.Close();
  }
  std::vector<Call> Calls() {
    std::vector<Call> out;
    for (int i = 0; i < 4; ++i) {
      FileAccess& f = Use(kCallLabels[i]);
      f.file().Set();
      while (f.file().Next() == 0) {
        Call c;
        c.file = i;
        int64_t g = 0;
        if (i < 2) {
          auto& r = f.rec<CallRecord>();
          c.number = r.NROTEL.str();
          c.codigo = r.CODIGO;
          r.GRUAGE.Scaled(&g);
          c.id = r.CODLLA;
        } else {
          auto& r = f.rec<TransferRecord>();
          c.number = r.NROTEL.str();
          c.codigo = r.CODIGO;
          r.GRUAGE.Scaled(&g);
          c.id = r.CODLLA;
        }
        c.gruage = int32_t(g);
        out.push_back(c);
      }
      f.Close();
    }
    return out;
  }
  // Code of the call with this number (first found), -1 when none.
  int32_t LinkOf(const std::string& number) {
    for (const Call& c : Calls())
      if (c.number == number) return c.codigo;
    return -1;
  }

  // The owner of the longest directory number that is a prefix of `number`,
  // by brute force over every directory number.
  std::pair<int32_t, int32_t> Oracle(const std::string& number) {
    return Oracle(number, Numbers());
  }
  static std::pair<int32_t, int32_t> Oracle(
      const std::string& number,
      const std::map<std::string, std::pair<int32_t, int32_t>>& numbers) {
    std::pair<int32_t, int32_t> best{0, 0};
    size_t best_len = 0;
    for (const auto& [n, owner] : numbers) {
      const std::string_view x = nv::Clip(number);
      if (!n.empty() && n.size() > best_len && x.substr(0, n.size()) == n) {
        best = owner;
        best_len = n.size();
      }
    }
    return best;
  }

  // Messages shown, as texts.
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& m : ui_->messages()) out.push_back(m.shape.text);
    return out;
  }
  int CountText(const std::string& utf8) const {
    int n = 0;
    for (const auto& t : Texts()) n += t == A(utf8);
    return n;
  }

  nv::dict::Dictionary* dic_ = nullptr;
  int32_t next_call_ = 0;
};

// Where a parameterized test keeps the agenda: flat files, or the tables
// of a PostgreSQL server the tests start (the test is skipped, saying why,
// when no server is installed). The test's code is the same for both.
enum class Where { kFlat, kPostgres };

inline std::string WhereName(const ::testing::TestParamInfo<Where>& info) {
  return info.param == Where::kFlat ? "Flat" : "PostgreSQL";
}

template <class Base>
class OverStores : public Base, public ::testing::WithParamInterface<Where> {
 protected:
  void SetUp() override {
    Base::SetUp();
    if (!skip_.empty()) GTEST_SKIP() << skip_;
  }
  void ChooseStore() override {
    if (GetParam() == Where::kFlat) return Base::ChooseStore();
    const odbctest::Servers& sv = odbctest::GetServers(true);
    if (!sv.pg_skip.empty() || !sv.pg_error.empty()) {
      ASSERT_TRUE(sv.pg_error.empty()) << sv.pg_error;
      skip_ = sv.pg_skip;
      return Base::ChooseStore();
    }
    const std::string owner = sv.PgOwner();
    this->UseStore("ODBC", owner);
    // Every test starts without the tables of the one before; a table of
    // the test's own stays open meanwhile, so that the files share one
    // connection instead of connecting again whenever none is open.
    nv::FileDecl d = nv::dict::DefaultDecl("FXTA02");
    d.driver = "ODBC";
    d.owner = owner;
    d.name = "NV_PRUEBA";
    keep_ = std::make_unique<nv::File>(d);
    keep_->Remove();
    ASSERT_EQ(keep_->Create(), 0) << nv::ErrorText();
    ASSERT_EQ(keep_->Open(), 0) << nv::ErrorText();
    ASSERT_EQ(keep_->Send("DROP SCHEMA public CASCADE"), "0");
    ASSERT_EQ(keep_->Send("CREATE SCHEMA public"), "0");
    keep_->Close();
    ASSERT_EQ(keep_->Create(), 0) << nv::ErrorText();
    ASSERT_EQ(keep_->Open(), 0) << nv::ErrorText();
    nv::ClearError();
  }
  void TearDown() override {
    Base::TearDown();
    keep_.reset();
  }
  std::string skip_;
  std::unique_ptr<nv::File> keep_;
};

}  // namespace formstest
