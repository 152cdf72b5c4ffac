#include "host/runtime/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace nv {
namespace {

namespace fs = std::filesystem;

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/nv_profile_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    file_ = dir_ + "/agenda.INI";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Put(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }
  std::string Get() const {
    std::ifstream in(file_, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  std::string dir_;
  std::string file_;
};

TEST_F(ProfileTest, ReadsCaseInsensitiveTrimmedValues) {
  Put("; comentario\n[FXQ-MODEM]\n  Puerto = COM2  \nVelocidad=9600\n[Otra]\nPuerto=COM9\n");
  EXPECT_EQ(GetProfileString(file_, "fxq-modem", "PUERTO", "x"), "COM2");
  EXPECT_EQ(GetProfileString(file_, "Otra", "puerto", "x"), "COM9");
  EXPECT_EQ(GetProfileString(file_, "FXQ-MODEM", "Falta", "def"), "def");
  EXPECT_EQ(GetProfileString(file_, "Falta", "Puerto", "def"), "def");
  EXPECT_EQ(GetProfileInt(file_, "FXQ-MODEM", "velocidad", -1), 9600);
  EXPECT_EQ(GetProfileString(file_, "FXQ-MODEM", "", "def"), "def");
  EXPECT_EQ(GetProfileString(file_, "", "Puerto", "def"), "def");
}

TEST_F(ProfileTest, MissingFileReadsAsEmpty) {
  EXPECT_EQ(GetProfileString(dir_ + "/none.ini", "A", "b", "def"), "def");
  EXPECT_EQ(GetProfileInt(dir_ + "/none.ini", "A", "b", 7), 7);
  EXPECT_EQ(GetProfileString(dir_, "A", "b", "def"), "def");  // a folder, not a file
}

TEST_F(ProfileTest, IntegersAndNonNumericValues) {
  Put("[S]\na=12\nb=-3\nc=abc\nd=\ne=12 ; nota\nf=99999999999999999999999\ng=+4\nh= 5x\n");
  EXPECT_EQ(GetProfileInt(file_, "S", "a", 0), 12);
  EXPECT_EQ(GetProfileInt(file_, "S", "b", 0), -3);
  EXPECT_EQ(GetProfileInt(file_, "S", "c", 77), 77);
  EXPECT_EQ(GetProfileInt(file_, "S", "d", 77), 77);
  EXPECT_EQ(GetProfileInt(file_, "S", "e", 0), 12);
  EXPECT_EQ(GetProfileInt(file_, "S", "f", 77), 77);
  EXPECT_EQ(GetProfileInt(file_, "S", "g", 0), 4);
  EXPECT_EQ(GetProfileInt(file_, "S", "h", 0), 5);
  EXPECT_EQ(GetProfileString(file_, "S", "d", "def"), "");  // present but empty
}

TEST_F(ProfileTest, OddLinesAreToleratedAndKept) {
  const std::string odd =
      "\xEF\xBB\xBF[Uno]\r\nclave=1\r\nlinea sin igual\r\n\r\n[sin cierre\r\nx=2\r\n"
      "[Dos]\r\n;c=3\r\n=vacia\r\nc=4";  // no final line ending
  Put(odd);
  EXPECT_EQ(GetProfileString(file_, "uno", "clave", ""), "1");
  EXPECT_EQ(GetProfileString(file_, "uno", "x", ""), "2");  // "[sin cierre" is no section
  EXPECT_EQ(GetProfileString(file_, "dos", "c", ""), "4");
  ASSERT_TRUE(WriteProfileString(file_, "Dos", "C", "5"));
  EXPECT_EQ(Get(),
            "\xEF\xBB\xBF[Uno]\r\nclave=1\r\nlinea sin igual\r\n\r\n[sin cierre\r\nx=2\r\n"
            "[Dos]\r\n;c=3\r\n=vacia\r\nc=5\r\n");
  ASSERT_TRUE(WriteProfileString(file_, "UNO", "clave", "9"));
  EXPECT_EQ(GetProfileString(file_, "Uno", "clave", ""), "9");
  EXPECT_EQ(Get().substr(0, 19), "\xEF\xBB\xBF[Uno]\r\nclave=9\r\n");
}

TEST_F(ProfileTest, WriteCreatesFileSectionAndEntryAndKeepsOrder) {
  std::string nested = dir_ + "/sub/dir/fxr4.INI";
  ASSERT_TRUE(WriteProfileString(nested, "FXQ-USR", "Usuario", "12"));
  EXPECT_EQ(GetProfileString(nested, "fxq-usr", "usuario", ""), "12");

  Put("; cabecera\n[A]\nuno=1\n\n[B]\ndos=2\n");
  ASSERT_TRUE(WriteProfileString(file_, "a", "tres", "3"));
  ASSERT_TRUE(WriteProfileString(file_, "C", "cuatro", "4"));
  ASSERT_TRUE(WriteProfileString(file_, "B", "DOS", " 22 "));
  EXPECT_EQ(Get(), "; cabecera\n[A]\nuno=1\ntres=3\n\n[B]\ndos=22\n[C]\ncuatro=4\n");
  ASSERT_TRUE(WriteProfileString(file_, "A", "uno", ""));
  EXPECT_EQ(GetProfileString(file_, "A", "uno", "def"), "");
}

TEST_F(ProfileTest, WriteRefusesTextThatWouldCorruptTheFile) {
  Put("[A]\nx=1\n");
  EXPECT_FALSE(WriteProfileString(file_, "A", "x", "1\n[B]\ny=2"));
  EXPECT_FALSE(WriteProfileString(file_, "A", "x=y", "1"));
  EXPECT_FALSE(WriteProfileString(file_, "A", "", "1"));
  EXPECT_FALSE(WriteProfileString(file_, "", "x", "1"));
  EXPECT_FALSE(WriteProfileString(file_, "A]", "x", "1"));
  EXPECT_FALSE(WriteProfileString(file_, "A", ";x", "1"));
  EXPECT_FALSE(WriteProfileString(file_, "A\rB", "x", "1"));
  EXPECT_EQ(Get(), "[A]\nx=1\n");
}

TEST_F(ProfileTest, FailedWriteReportsFalseAndLeavesNoTemporaryFile) {
  Put("[A]\nx=1\n");
  fs::create_directory(dir_ + "/carpeta");
  EXPECT_FALSE(WriteProfileString(dir_ + "/carpeta", "A", "x", "2"));  // rename onto a folder
  EXPECT_FALSE(WriteProfileString(file_ + "/below", "A", "x", "2"));   // parent is no folder
  EXPECT_EQ(Get(), "[A]\nx=1\n");
  int entries = 0;
  for (const auto& e : fs::directory_iterator(dir_))
    entries += e.is_directory() || e.is_regular_file();
  EXPECT_EQ(entries, 2);  // carpeta and agenda.INI, no leftovers
}

TEST_F(ProfileTest, DefaultProfileAndProfileFile) {
  const char* old = std::getenv("NVRUN_PROFILE");
  std::string saved = old ? old : "";
  std::string def = dir_ + "/fonvex.ini";
  setenv("NVRUN_PROFILE", def.c_str(), 1);
  EXPECT_EQ(DefaultProfilePath(), def);
  ASSERT_TRUE(WriteProfileString("", "FXQ-DISCADOR", "Espera", "30"));
  EXPECT_EQ(GetProfileInt("", "fxq-discador", "espera", 0), 30);
  EXPECT_TRUE(fs::exists(def));
  ProfileFile sys;
  EXPECT_EQ(sys.GetInt("FXQ-DISCADOR", "Espera"), 30);

  setenv("NVRUN_PROFILE", "", 1);
  std::string xdg_old = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  setenv("XDG_CONFIG_HOME", "/x/cfg", 1);
  EXPECT_EQ(DefaultProfilePath(), "/x/cfg/fonvex/fonvex.ini");
  unsetenv("XDG_CONFIG_HOME");
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(DefaultProfilePath(), "/home/u/.config/fonvex/fonvex.ini");
  setenv("HOME", home.c_str(), 1);
  if (!xdg_old.empty()) setenv("XDG_CONFIG_HOME", xdg_old.c_str(), 1);
  if (old) {
    setenv("NVRUN_PROFILE", saved.c_str(), 1);
  } else {
    unsetenv("NVRUN_PROFILE");
  }

  ProfileFile named(dir_ + "\\agenda.INI");  // backslashes are folder separators
  ASSERT_TRUE(named.WriteString("S", "k", "v"));
  EXPECT_EQ(GetProfileString(file_, "s", "K", ""), "v");
  EXPECT_EQ(named.GetString("S", "missing", "d"), "d");
}

TEST_F(ProfileTest, ConcurrentWritersLoseNothingAndReadersSeeWholeFiles) {
  Put("[Base]\nkeep=yes\n");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 20; ++i) {
        WriteProfileString(file_, "T" + std::to_string(t), "k" + std::to_string(i),
                           std::to_string(i));
        EXPECT_EQ(GetProfileString(file_, "Base", "keep", ""), "yes");
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(GetProfileInt(file_, "T" + std::to_string(t), "k" + std::to_string(i), -1), i);
    }
  }
}

}  // namespace
}  // namespace nv
