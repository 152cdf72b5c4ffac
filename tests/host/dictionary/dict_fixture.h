// Shared set-up of the dictionary tests: the store under test, a dictionary
// over a profile of its own, a reporter that records what it is told, and
// the stored bytes of a record.
#pragma once

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/dictionary/dictionary.h"
#include "host/runtime/driver_table.h"
#include "host/runtime/error_state.h"
#include "host/runtime/profile.h"

namespace dicttest {

// The store the tests write through. Changing this line to the flat store
// ("Norvane") runs the same tests over it; stored bytes are then read back
// through a second open of the file.
inline constexpr const char* kTestDriver = "DictMem";

struct Reported {
  std::string label, operation;
  int code;
};

class RecordingReporter : public nv::dict::ErrorReporter {
 public:
  void FileError(std::string_view label, std::string_view operation, int code,
                 const std::string& text) override {
    calls.push_back({std::string(label), std::string(operation), code});
    last_text = text;
  }
  std::vector<Reported> calls;
  std::string last_text;
};

class DictTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { nv::RegisterDriver("DictMem", "libnvdictmem.so", "DMEM$DrvReg"); }

  void SetUp() override {
    nv::ClearError();
    char tmpl[] = "/tmp/nvdict-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    profile_ = std::make_unique<nv::ProfileFile>(dir_ + "/agenda.INI");
    WriteSection({});
    Rebuild();
  }

  void TearDown() override {
    dict_.reset();
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }

  // Writes the [Dictionary] section: the test store in a folder of this
  // test, plus the extra entries.
  void WriteSection(const std::vector<std::pair<std::string, std::string>>& extra) {
    ASSERT_TRUE(profile_->WriteString(nv::dict::kProfileSection, "Driver", kTestDriver));
    ASSERT_TRUE(profile_->WriteString(nv::dict::kProfileSection, "Folder", dir_ + "/Archivos"));
    for (const auto& [k, v] : extra) ASSERT_TRUE(profile_->WriteString("Dictionary", k, v));
    ::mkdir((dir_ + "/Archivos").c_str(), 0700);
  }

  void Rebuild() {
    dict_.reset();
    dict_ = std::make_unique<nv::dict::Dictionary>(profile_.get(), &reporter_);
  }

  // Opens a file of the suite's main program, creating it first.
  nv::dict::FileAccess* Created(const char* label) {
    nv::dict::FileAccess* a = dict_->Access(label);
    EXPECT_NE(a, nullptr) << label;
    if (a == nullptr) return nullptr;
    a->file().SetName(dict_->EffectiveName(label));
    if (a->UseFile() != 0) {
      EXPECT_EQ(a->file().Create(), 0) << label;
      EXPECT_EQ(a->UseFile(), 0) << label;
    }
    return a;
  }

  // The bytes the store holds for record n of a file (1-based): from the
  // test store itself, or for another store as a second file reads them.
  std::string StoredBytes(const std::string& name, int32_t n) {
    if (std::string(kTestDriver) != "DictMem") return ReadBack(name, n);
    using RawFn = const char* (*)(const char*, int32_t, size_t*);
    std::string error;
    nv::Driver* d = nv::FindDriver("DictMem", &error);
    if (d == nullptr) return {};
    void* h = dlopen(d->path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h == nullptr) return {};
    auto fn = reinterpret_cast<RawFn>(dlsym(h, "DICTMEM_RAW"));
    size_t len = 0;
    const char* p = fn ? fn(name.c_str(), n, &len) : nullptr;
    dlclose(h);
    return p ? std::string(p, len) : std::string();
  }

  std::string ReadBack(const std::string& name, int32_t n) {
    for (const nv::dict::FileInfo& s : nv::dict::Catalogue()) {
      if (!s.base.empty() || dict_->EffectiveName(s.label) != name) continue;
      std::unique_ptr<nv::File> f = dict_->NewFile(s.label);
      if (f->Open(nv::kReadOnly | nv::kDenyNone) != 0) return {};
      std::string bytes;
      if (f->Get(n) == 0)
        bytes.assign(reinterpret_cast<const char*>(f->record()), f->record_length());
      f->Close();
      return bytes;
    }
    return {};
  }

  std::string dir_;
  std::unique_ptr<nv::ProfileFile> profile_;
  RecordingReporter reporter_;
  std::unique_ptr<nv::dict::Dictionary> dict_;
};

}  // namespace dicttest
