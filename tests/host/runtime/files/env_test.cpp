// The operating-system layer: share modes and byte-range locks between opens
// (also two opens in one process), error numbers, file helpers.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/runtime/env.h"

namespace {

using namespace nv;

class EnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/nvenvXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/DATOS.DAT";
    std::ofstream(path_) << "0123456789";
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf " + dir_).c_str()), 0); }

  int Open(uint32_t mode, std::unique_ptr<EnvFile>* f) {
    return GetEnv()->Open(path_, OpenOptions{.mode = mode}, f);
  }

  std::string dir_, path_;
};

TEST_F(EnvTest, ShareModesRefuseConflictingOpensEvenInOneProcess) {
  std::unique_ptr<EnvFile> a, b, c;
  ASSERT_EQ(Open(0x22, &a), 0);                // read-write, deny write
  EXPECT_EQ(Open(0x42, &b), kOsSharingViolation);  // a writer is denied
  EXPECT_EQ(Open(0x40, &b), 0);                // a reader is not
  b.reset();
  EXPECT_EQ(Open(0x10, &b), kOsSharingViolation);  // deny all: someone has it open
  a.reset();                                   // closing gives its share locks up
  ASSERT_EQ(Open(0x12, &a), 0);                // exclusive
  EXPECT_EQ(Open(0x40, &b), kOsSharingViolation);
  a.reset();
  ASSERT_EQ(Open(0x42, &a), 0);
  ASSERT_EQ(Open(0x42, &b), 0);                // deny none twice
  EXPECT_EQ(Open(0x22, &c), kOsSharingViolation);  // cannot deny write to open writers
  EXPECT_EQ(Open(0x32, &c), kOsSharingViolation);  // nor deny read to open readers
  ASSERT_EQ(Open(0x02, &c), 0);                // compatibility mode shares like deny none
}

TEST_F(EnvTest, ReadOnlyAccessIsEnforced) {
  std::unique_ptr<EnvFile> f;
  ASSERT_EQ(Open(0x40, &f), 0);
  EXPECT_EQ(f->Write(0, "x", 1), kOsAccessDenied);
  EXPECT_EQ(f->Truncate(0), kOsAccessDenied);
  char buf[4];
  size_t got = 0;
  EXPECT_EQ(f->Read(8, buf, 4, &got), 0);
  EXPECT_EQ(got, 2u);  // short at the end
  std::unique_ptr<EnvFile> w;
  ASSERT_EQ(Open(0x41, &w), 0);
  EXPECT_EQ(w->Read(0, buf, 1, &got), kOsAccessDenied);
  EXPECT_EQ(w->Write(10, "AB", 2), 0);
  uint64_t size = 0;
  EXPECT_EQ(w->Size(&size), 0);
  EXPECT_EQ(size, 12u);
}

TEST_F(EnvTest, ByteLocksBelongToTheirOpenNotToTheProcess) {
  std::unique_ptr<EnvFile> a, b, c;
  ASSERT_EQ(Open(0x42, &a), 0);
  ASSERT_EQ(Open(0x42, &b), 0);
  ASSERT_EQ(Open(0x40, &c), 0);
  ASSERT_EQ(a->Lock(0, 1, true, false), 0);
  EXPECT_EQ(b->Lock(0, 1, true, false), kOsLockViolation);
  c.reset();  // closing a third open of the same file drops none of a's locks
  EXPECT_EQ(b->Lock(0, 1, true, false), kOsLockViolation);
  EXPECT_EQ(a->Unlock(0, 1), 0);
  EXPECT_EQ(b->Lock(0, 1, true, false), 0);
  EXPECT_EQ(b->Lock(5, 2, false, false), 0);
  EXPECT_EQ(a->Lock(5, 2, false, false), 0);  // shared locks coexist
}

TEST_F(EnvTest, TestLockAnswersAsLockWouldWithoutTakingAnything) {
  std::unique_ptr<EnvFile> a, b;
  ASSERT_EQ(Open(0x42, &a), 0);
  ASSERT_EQ(Open(0x42, &b), 0);
  ASSERT_EQ(a->Lock(1, 1, true, false), 0);
  EXPECT_EQ(b->TestLock(1, 1, false), kOsLockViolation);
  EXPECT_EQ(b->TestLock(0, 2, true), kOsLockViolation);
  EXPECT_EQ(b->TestLock(2, 1, true), 0);
  EXPECT_EQ(a->TestLock(1, 1, true), 0);      // its own lock is no conflict
  ASSERT_EQ(a->Lock(1, 1, false, false), 0);  // now shared
  EXPECT_EQ(b->TestLock(1, 1, false), 0);
  EXPECT_EQ(b->TestLock(1, 1, true), kOsLockViolation);
  EXPECT_EQ(b->TestLock(3, 1, true), 0);
  EXPECT_EQ(a->Lock(3, 1, true, false), 0);  // the test took nothing
}

TEST_F(EnvTest, ByteLocksHoldAgainstAnotherProcess) {
  std::unique_ptr<EnvFile> a;
  ASSERT_EQ(Open(0x42, &a), 0);
  ASSERT_EQ(a->Lock(0, 1, true, false), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::unique_ptr<EnvFile> b;
    int r = GetEnv()->Open(path_, OpenOptions{.mode = 0x42}, &b);
    if (r != 0) _exit(10);
    _exit(b->Lock(0, 1, true, false) == kOsLockViolation ? 0 : 11);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(EnvTest, CreationTruncationAndErrors) {
  std::unique_ptr<EnvFile> f;
  EXPECT_EQ(GetEnv()->Open(dir_ + "/NADA.DAT", OpenOptions{.mode = 0x42}, &f), kOsFileNotFound);
  EXPECT_EQ(GetEnv()->Open(dir_ + "/no/NADA.DAT", OpenOptions{.mode = 0x42}, &f),
            kOsFileNotFound);
  EXPECT_EQ(GetEnv()->Open(path_, OpenOptions{.mode = 0x42, .create = true, .exclusive = true},
                           &f),
            kOsFileExists);
  ASSERT_EQ(GetEnv()->Open(path_, OpenOptions{.mode = 0x42, .create = true, .truncate = true}, &f),
            0);
  uint64_t size = 1;
  EXPECT_EQ(f->Size(&size), 0);
  EXPECT_EQ(size, 0u);
  // A share conflict leaves the file uncut.
  ASSERT_EQ(f->Write(0, "abc", 3), 0);
  std::unique_ptr<EnvFile> g, h;
  ASSERT_EQ(Open(0x12, &g), kOsSharingViolation);
  f.reset();
  ASSERT_EQ(Open(0x12, &g), 0);
  EXPECT_EQ(GetEnv()->Open(path_, OpenOptions{.mode = 0x42, .truncate = true}, &h),
            kOsSharingViolation);
  EXPECT_EQ(g->Size(&size), 0);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(GetEnv()->Open(dir_, OpenOptions{.mode = 0x40}, &h), kOsAccessDenied);
}

TEST_F(EnvTest, FileHelpers) {
  Env* env = GetEnv();
  EXPECT_TRUE(env->Exists(path_));
  EXPECT_TRUE(env->IsDirectory(dir_));
  EXPECT_FALSE(env->IsDirectory(path_));
  EXPECT_EQ(env->CopyFile(path_, dir_ + "/COPIA.DAT"), 0);
  std::string text;
  EXPECT_EQ(ReadWholeFile(dir_ + "/COPIA.DAT", &text), 0);
  EXPECT_EQ(text, "0123456789");
  EXPECT_EQ(env->Rename(dir_ + "/COPIA.DAT", dir_ + "/OTRA.DAT"), 0);
  EXPECT_FALSE(env->Exists(dir_ + "/COPIA.DAT"));
  EXPECT_EQ(env->Remove(dir_ + "/OTRA.DAT"), 0);
  EXPECT_EQ(env->Remove(dir_ + "/OTRA.DAT"), kOsFileNotFound);
  EXPECT_EQ(env->CopyFile(dir_ + "/NADA", dir_ + "/X"), kOsFileNotFound);
  std::string t1, t2;
  EXPECT_EQ(env->TempName(dir_, "nv", &t1), 0);
  EXPECT_EQ(env->TempName(dir_, "nv", &t2), 0);
  EXPECT_NE(t1, t2);
  EXPECT_TRUE(env->Exists(t1));
  EXPECT_EQ(NativePath(".\\Archivos\\FXMA11"), "./Archivos/FXMA11");
  EXPECT_FALSE(env->ProgramPath().empty());
  EXPECT_GT(env->Today(), 80000);  // after 2020
  int32_t clock = env->Clock();
  EXPECT_GE(clock, 1);
  EXPECT_LE(clock, 8640000);
}

TEST(OsErrors, ErrnoValuesMapToTheRuntimeNumbers) {
  EXPECT_EQ(OsErrorFromErrno(ENOENT), 2);
  EXPECT_EQ(OsErrorFromErrno(ENOTDIR), 3);
  EXPECT_EQ(OsErrorFromErrno(EMFILE), 4);
  EXPECT_EQ(OsErrorFromErrno(EACCES), 5);
  EXPECT_EQ(OsErrorFromErrno(EBADF), 6);
  EXPECT_EQ(OsErrorFromErrno(ENOSPC), kOsDiskFull);
  EXPECT_EQ(OsErrorFromErrno(EEXIST), kOsFileExists);
}

}  // namespace

// Many pieces read at once answer what Read answers piece by piece (pieces
// past the end short or empty), in this process and in a forked child,
// which must not use its parent's submission ring; the parent's goes on.
TEST_F(EnvTest, ReadManyAnswersWhatReadAnswers) {
  std::string bytes(20000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char('A' + i * 7 % 23);
  std::ofstream(path_, std::ios::binary) << bytes;
  std::unique_ptr<EnvFile> f;
  ASSERT_EQ(Open(0x40, &f), 0);
  auto check = [&](unsigned seed) {
    srand(seed);
    for (int round = 0; round < 20; ++round) {
      std::vector<EnvFile::Piece> pieces(size_t(1 + rand() % 100));
      std::vector<std::string> bufs(pieces.size(), std::string(300, '?'));
      for (size_t i = 0; i < pieces.size(); ++i)
        pieces[i] = {uint64_t(rand() % 20500), bufs[i].data(), size_t(1 + rand() % 300), 99};
      if (f->ReadMany(pieces.data(), pieces.size()) != 0) return false;
      for (size_t i = 0; i < pieces.size(); ++i) {
        std::string want(pieces[i].n, '\0');
        size_t got = 0;
        if (f->Read(pieces[i].offset, want.data(), want.size(), &got) != 0) return false;
        if (pieces[i].got != got || bufs[i].compare(0, got, want, 0, got) != 0) return false;
      }
    }
    return true;
  };
  EXPECT_TRUE(check(1));
  const pid_t child = fork();
  if (child == 0) _exit(check(2) ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(check(3));
  // A file opened for writing only is not read.
  ASSERT_EQ(Open(0x41, &f), 0);
  char b[4];
  EnvFile::Piece p[2] = {{0, b, 2, 0}, {2, b + 2, 2, 0}};
  EXPECT_EQ(f->ReadMany(p, 2), kOsAccessDenied);
}
