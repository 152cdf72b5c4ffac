// The line file: line ends, long lines, empty and missing files, progress.
#include <fstream>

#include "host/dictionary/line_file.h"
#include "tests/host/dictionary/dict_fixture.h"

namespace {

using namespace nv;
using namespace nv::dict;
using dicttest::DictTest;

class LineFileTest : public DictTest {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = dir_ + "/Archivos/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
};

TEST_F(LineFileTest, ReadsLinesWithEitherLineEndAndALastLineWithoutOne) {
  const std::string text = "1,Rubro uno\r\n2,Rubro dos\n\n3,Último";
  Write("RubrosAg.txt", text);
  *dict_->NameVariable("SALIDA") = dir_ + "\\Archivos\\RubrosAg.txt";
  LineFile f;
  ASSERT_EQ(f.Open(*dict_), 0);
  EXPECT_EQ(f.size(), text.size());
  std::vector<std::string> lines;
  uint64_t progress = 0;
  while (f.Next() == 0) {
    lines.push_back(std::string(f.line()));
    progress += f.last_length();
    EXPECT_EQ(f.record().LINEA.view().substr(0, f.line().size()), f.line());
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"1,Rubro uno", "2,Rubro dos", "", "3,Último"}));
  EXPECT_EQ(progress, text.size());
  EXPECT_EQ(f.consumed(), text.size());
  EXPECT_EQ(f.Next(), 33);  // stays at the end
  EXPECT_TRUE(f.record().LINEA.empty());
}

TEST_F(LineFileTest, LongLinesAreCutAndFlagged) {
  const std::string exact(255, 'a'), longer(300, 'b');
  Write("largo.txt", exact + "\r\n" + longer + "\nfin");
  LineFile f;
  ASSERT_EQ(f.Open(dir_ + "/Archivos/largo.txt"), 0);
  ASSERT_EQ(f.Next(), 0);
  EXPECT_EQ(f.line(), exact);
  EXPECT_FALSE(f.truncated());  // the "\r" is no overflow
  ASSERT_EQ(f.Next(), 0);
  EXPECT_EQ(f.line(), std::string(255, 'b'));
  EXPECT_TRUE(f.truncated());
  EXPECT_EQ(f.last_length(), 301u);
  ASSERT_EQ(f.Next(), 0);
  EXPECT_EQ(f.line(), "fin");
  EXPECT_FALSE(f.truncated());
}

TEST_F(LineFileTest, LinesAcrossReadChunksAndOddBytes) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "linea " + std::to_string(i) + std::string(1, '\0') + "\n";
  Write("muchas.txt", text);
  LineFile f;
  ASSERT_EQ(f.Open(dir_ + "/Archivos/muchas.txt"), 0);
  int n = 0;
  while (f.Next() == 0) {
    ASSERT_EQ(f.line(), "linea " + std::to_string(n) + std::string(1, '\0'));
    ++n;
  }
  EXPECT_EQ(n, 3000);
  EXPECT_EQ(f.consumed(), text.size());
}

TEST_F(LineFileTest, EmptyMissingAndClosedFiles) {
  Write("vacio.txt", "");
  LineFile f;
  ASSERT_EQ(f.Open(dir_ + "/Archivos/vacio.txt"), 0);
  EXPECT_EQ(f.size(), 0u);
  EXPECT_EQ(f.Next(), 33);
  EXPECT_EQ(f.Open(dir_ + "/Archivos/NoExiste.txt"), kOsFileNotFound);
  EXPECT_FALSE(f.is_open());
  EXPECT_EQ(f.Next(), 33);
  Write("uno.txt", "x");
  ASSERT_EQ(f.Open(dir_ + "/Archivos/uno.txt"), 0);
  f.Close();
  EXPECT_EQ(f.Next(), 33);
}

}  // namespace
