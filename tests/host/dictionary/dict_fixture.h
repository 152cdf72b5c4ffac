// Shared set-up of the dictionary tests: the flat store in a folder of each
// test, a dictionary over a profile of its own, a reporter that records what
// it is told, and the stored bytes of a record read from the data file.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/dictionary/dictionary.h"
#include "host/runtime/driver_table.h"
#include "host/runtime/error_state.h"
#include "host/runtime/profile.h"

namespace dicttest {

// The store the tests write through: the flat store the dictionary uses by
// default, with its files in a folder of each test.
inline constexpr const char* kTestDriver = "Norvane";

// Header and record framing of a flat data file: the u32 at offset 21 of the
// 85-byte header is where the records start; each record is a 5-byte prefix
// followed by the record's bytes as the record buffer holds them.
inline constexpr size_t kFlatHeaderSize = 85;
inline constexpr size_t kFlatRecordsStartAt = 21;
inline constexpr size_t kFlatRecordPrefix = 5;

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
    RemoveFolder();
  }

  void RemoveFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    EXPECT_FALSE(ec) << dir_ << ": " << ec.message();
  }

  // Writes the [Dictionary] section: the test store in a folder of this
  // test, plus the extra entries.
  void WriteSection(const std::vector<std::pair<std::string, std::string>>& extra) {
    ASSERT_TRUE(profile_->WriteString(nv::dict::kProfileSection, "Driver", kTestDriver));
    ASSERT_TRUE(profile_->WriteString(nv::dict::kProfileSection, "Folder", dir_ + "/Archivos"));
    for (const auto& [k, v] : extra) ASSERT_TRUE(profile_->WriteString("Dictionary", k, v));
    ::mkdir((dir_ + "/Archivos").c_str(), 0700);
    ::mkdir((dir_ + "/Archivos/DOS").c_str(), 0700);
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

  // The bytes the flat data file `name` (".DAT" added when it has no
  // extension) holds for record n (1-based) of `record_length` bytes, read
  // from the file itself; empty when the file or the record is not there.
  static std::string StoredBytes(const std::string& name, int32_t n, size_t record_length) {
    std::string path = name;
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) path += ".DAT";
    std::ifstream in(path, std::ios::binary);
    if (!in || n < 1) return {};
    char header[kFlatHeaderSize];
    if (!in.read(header, sizeof header)) return {};
    uint32_t records_start = 0;
    std::memcpy(&records_start, header + kFlatRecordsStartAt, 4);  // stored little-endian
    const uint64_t at =
        records_start + uint64_t(n - 1) * (record_length + kFlatRecordPrefix) + kFlatRecordPrefix;
    std::string bytes(record_length, '\0');
    if (!in.seekg(std::streamoff(at)) || !in.read(bytes.data(), std::streamsize(record_length)))
      return {};
    return bytes;
  }

  std::string dir_;
  std::unique_ptr<nv::ProfileFile> profile_;
  RecordingReporter reporter_;
  std::unique_ptr<nv::dict::Dictionary> dict_;
};

}  // namespace dicttest
