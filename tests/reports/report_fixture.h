// Shared set-up of the reports tests: a temporary folder with an "Archivos"
// folder of call and lookup files written through the flat driver, a
// dictionary over a profile of its own, and a runner that captures the
// document of a detail report as plain text with its progress percentages.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/report/text_renderer.h"
#include "host/runtime/codepage.h"
#include "host/runtime/date_time.h"
#include "host/runtime/error_state.h"
#include "host/runtime/profile.h"
#include "reports/detail_report.h"
#include "reports/params.h"

namespace fxr4test {

using nv::dict::CallRecord;

inline int32_t Day(int y, int m, int d) {
  return nv::DateFromYmd(y, m, d);
}
inline int32_t Hms(int h, int m, int s, int hs = 0) {
  return nv::TimeFromHms(h, m, s, hs);
}

// A call with plausible defaults; tests change what they look at.
inline CallRecord Call(int32_t id, int32_t day, int32_t time, const char* lin = "L1",
                       const char* ext = "201", const char* tipo = "LO") {
  CallRecord r{};
  r.CODLLA = id;
  r.FECLLA.set_day(day);
  r.HORLLA = time;
  r.NROINT = ext;
  r.NROLIN = lin;
  r.NROTEL = "0114" + std::to_string(100000 + id);
  r.DURLLA = 6001;
  r.RINLLA = 501;
  r.COSLLA = 1.5;
  r.DESLLA = "CAPITAL";
  r.TIPOLLA = tipo;
  r.TRANSF = " ";
  return r;
}

template <class B>
std::string Bytes(const B& b) {
  return std::string(reinterpret_cast<const char*>(&b), sizeof b);
}

inline std::string Rpt(int32_t desfec, int32_t hasfec, int32_t deshor = 0, int32_t hashor = 0,
                       const char* desde = "", const char* hasta = "",
                       const char* curtab = "Todas") {
  fxr4::PARAM_RPT b;
  fxr4::CopyBlock(&b, sizeof b, nullptr, 0);
  b.DESFEC = desfec;
  b.HASFEC = hasfec;
  b.DESHOR = deshor;
  b.HASHOR = hashor;
  b.DESDE = desde;
  b.HASTA = hasta;
  b.LLASAL = 1;
  b.LLAENT = 0;
  b.CURTAB = nv::AnsiFromUtf8(curtab);
  return Bytes(b);
}

inline std::string Cod(int32_t desfec, int32_t hasfec, int32_t desde, int32_t hasta,
                       const char* curtab = "Todas") {
  fxr4::PARAM_RPT_COD b;
  fxr4::CopyBlock(&b, sizeof b, nullptr, 0);
  b.DESFEC = desfec;
  b.HASFEC = hasfec;
  b.DESHOR = 0;
  b.HASHOR = 0;
  b.DESDE = desde;
  b.HASTA = hasta;
  b.CURTAB = curtab;
  return Bytes(b);
}

inline std::string Ctas(int32_t desfec, int32_t hasfec, const char* desde, const char* hasta,
                        const char* curtab = "Todas") {
  fxr4::PARAM_RPT_CTAS b;
  fxr4::CopyBlock(&b, sizeof b, nullptr, 0);
  b.DESFEC = desfec;
  b.HASFEC = hasfec;
  b.DESHOR = 0;
  b.HASHOR = 0;
  b.DESDE = nv::AnsiFromUtf8(desde);
  b.HASTA = nv::AnsiFromUtf8(hasta);
  b.CURTAB = curtab;
  return Bytes(b);
}

inline std::string Opc(int vista = 0, int copias = 1) {
  fxr4::OPC_IMPRESION o{};
  o.VISTA_PREVIA = uint8_t(vista);
  o.COPIAS = int16_t(copias);
  return Bytes(o);
}

struct Output {
  fxr4::RunResult result;
  bool delivered = false;
  std::string text;  // UTF-8
  nv::report::Document doc;
  std::vector<int> percents;
};

inline int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class ReportTest : public ::testing::Test {
 protected:
  static constexpr const char* kLabels[] = {"FXMO01", "FXMO02", "FXTR01", "FXTR02", "FXMA07",
                                            "FXMA08", "FXMA09", "FXMA02", "FXMA11", "FXRE09",
                                            "FXTA03", "FXTA09", "FXTA13", "FXTA14", "FXTA15"};

  void SetUp() override {
    nv::ClearError();
    char tmpl[] = "/tmp/fxr4-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_EQ(::mkdir((dir_ + "/Archivos").c_str(), 0700), 0);
    profile_ = std::make_unique<nv::ProfileFile>(dir_ + "/fxr4.INI");
    ASSERT_TRUE(profile_->WriteString("Dictionary", "Folder", dir_ + "/Archivos"));
    dict_ = std::make_unique<nv::dict::Dictionary>(profile_.get());
    for (const char* l : kLabels) {
      std::unique_ptr<nv::File> f = dict_->NewFile(l);
      ASSERT_NE(f, nullptr) << l;
      ASSERT_EQ(f->Create(), 0) << l << " error " << nv::ErrorCode();
    }
  }

  void TearDown() override {
    writers_.clear();
    dict_.reset();
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }

  // (public: free helpers of the tests add records too)
 public:
  template <class R>
  void Add(const char* label, const R& rec) {
    std::unique_ptr<nv::File>& w = writers_[label];
    if (w == nullptr) {
      w = dict_->NewFile(label);
      ASSERT_EQ(w->Open(), 0) << label << " error " << nv::ErrorCode();
    }
    nv::File& f = *w;
    ASSERT_EQ(f.record_length(), sizeof(R)) << label;
    f.As<R>() = rec;
    ASSERT_EQ(f.Add(), 0) << label << " error " << nv::ErrorCode();
  }
  void AddCall(const CallRecord& r, bool outgoing = true) {
    Add(outgoing ? "FXMO01" : "FXMO02", r);
  }

 protected:
  Output Run(const char* name, const std::string& block, const std::string& opc = Opc()) {
    Output out;
    {
      // The writers are closed before a report reads the files.
      std::lock_guard<std::mutex> lock(writers_mu_);
      writers_.clear();
    }
    const fxr4::DetailProc* p = fxr4::FindDetailProc(name);
    EXPECT_NE(p, nullptr) << name;
    if (p == nullptr) return out;
    fxr4::RunOptions o;
    o.dict = dict_.get();
    o.deliver = [&](nv::report::Document&& d) {
      out.delivered = true;
      out.text = nv::report::RenderText(d);
      out.doc = std::move(d);
    };
    o.on_progress = [&](int percent, const std::string&) { out.percents.push_back(percent); };
    out.result = fxr4::RunDetail(*p, block, opc, o);
    return out;
  }

  std::string dir_;
  std::unique_ptr<nv::ProfileFile> profile_;
  std::unique_ptr<nv::dict::Dictionary> dict_;
  std::map<std::string, std::unique_ptr<nv::File>> writers_;
  std::mutex writers_mu_;
};

}  // namespace fxr4test
