// The real Env on Linux: files through open/pread/pwrite, byte-range locks
// and share modes through open-file-description locks, the wall clock for
// dates and times, CLOCK_MONOTONIC for ticks.
//
// Share modes: four reserved bytes from kShareLockBase record, with shared
// locks held for as long as a file is open, which opens read, which write,
// which deny read and which deny write. A new open first takes an exclusive
// lock on a fifth byte (serialising the check against other opens), tests for
// conflicting holders with F_OFD_GETLK, takes its own shared locks and lets
// the fifth byte go. Compatibility mode (0x00) is treated as deny none.
//
// Locks need a descriptor with read access (shared locks) and write access
// (exclusive locks), so a file is opened read-write whenever the operating
// system allows it and the access of the mode is enforced here. A file that
// can only be opened read-only takes shared locks where exclusive ones were
// asked for.
#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "host/runtime/date_time.h"
#include "host/runtime/env.h"
#include "host/runtime/read_ring.h"

namespace nv {

int OsErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return 0;
    case ENOENT:
      return kOsFileNotFound;
    case ENOTDIR:
      return kOsPathNotFound;
    case EMFILE:
    case ENFILE:
      return kOsTooManyFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return kOsAccessDenied;
    case EBADF:
      return kOsInvalidHandle;
    case ENOMEM:
      return kOsNoMemory;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kOsDiskFull;
    case EEXIST:
      return kOsFileExists;
    case EAGAIN:
      return kOsLockViolation;
    case EIO:
      return kOsWriteFault;
    case EINVAL:
    case ENAMETOOLONG:
      return kOsInvalidParameter;
    default:
      return kOsAccessDenied;
  }
}

EnvFile::~EnvFile() = default;

int EnvFile::TestLock(uint64_t offset, uint64_t length, bool exclusive) {
  const int err = Lock(offset, length, exclusive, false);
  if (err == 0) Unlock(offset, length);
  return err;
}

int EnvFile::ReadMany(Piece* pieces, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (int err = Read(pieces[i].offset, pieces[i].buf, pieces[i].n, &pieces[i].got)) return err;
  }
  return 0;
}
Env::~Env() = default;

namespace {

enum ShareByte : uint64_t {
  kHasRead = 0,
  kHasWrite = 1,
  kDeniesRead = 2,
  kDeniesWrite = 3,
  kGate = 4
};

int OfdLock(int fd, short type, uint64_t offset, uint64_t length, bool wait) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = off_t(offset);
  fl.l_len = off_t(length);
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return 0;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return kOsLockViolation;
    return OsErrorFromErrno(errno) == kOsLockViolation ? kOsInvalidParameter
                                                       : OsErrorFromErrno(errno);
  }
}

// True when another open description holds a lock on the byte that conflicts
// with an exclusive lock.
bool Held(int fd, uint64_t offset) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = off_t(offset);
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

class PosixFile final : public EnvFile {
 public:
  PosixFile(int fd, std::string path, uint32_t access, bool rdonly_fd)
      : fd_(fd), path_(std::move(path)), access_(access), rdonly_fd_(rdonly_fd) {}
  ~PosixFile() override {
    if (map_) ::munmap(map_, reserved_);
    ::close(fd_);
  }

  int Read(uint64_t offset, void* buf, size_t n, size_t* got) override {
    size_t done = 0;
    if (access_ == 1) {
      *got = 0;
      return kOsAccessDenied;
    }
    while (done < n) {
      ssize_t r = ::pread(fd_, static_cast<char*>(buf) + done, n - done, off_t(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        *got = done;
        return errno == EIO ? kOsReadFault : OsErrorFromErrno(errno);
      }
      if (r == 0) break;
      done += size_t(r);
    }
    *got = done;
    return 0;
  }

  int ReadMany(Piece* pieces, size_t count) override {
    if (access_ == 1) return EnvFile::ReadMany(pieces, count);
    // Pieces the ring could not read whole (the end of the file, an
    // interrupted read, no ring) are read again one by one.
    ReadRing::Submit(fd_, pieces, count);
    for (size_t i = 0; i < count; ++i) {
      Piece& p = pieces[i];
      if (p.got == p.n) continue;
      if (int err = Read(p.offset, p.buf, p.n, &p.got)) return err;
    }
    return 0;
  }

  int Write(uint64_t offset, const void* buf, size_t n) override {
    size_t done = 0;
    if (access_ == 0) return kOsAccessDenied;
    while (done < n) {
      ssize_t w =
          ::pwrite(fd_, static_cast<const char*>(buf) + done, n - done, off_t(offset + done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return OsErrorFromErrno(errno);
      }
      if (w == 0) return kOsDiskFull;
      done += size_t(w);
    }
    return 0;
  }

  int Truncate(uint64_t size) override {
    if (access_ == 0) return kOsAccessDenied;
    // Cut before the file is: the view must not reach past the new end.
    viewable_ = std::min(viewable_, size);
    while (::ftruncate(fd_, off_t(size)) != 0) {
      if (errno != EINTR) return OsErrorFromErrno(errno);
    }
    return 0;
  }

  // The mapping reserves more than the file holds, so that a file that grows
  // is mapped again only when it outgrows the reservation; pages past the
  // end of the file are never touched (viewable_ keeps to the size).
  bool View(bool recheck, const uint8_t** base, uint64_t* length) override {
    *base = nullptr;
    *length = 0;
    if (access_ == 1 || map_failed_) return false;
    if (recheck || !map_) {
      uint64_t size = 0;
      if (Size(&size) != 0) return false;
      if (!map_ || size > reserved_) {
        const uint64_t page = uint64_t(::sysconf(_SC_PAGESIZE));
        const uint64_t want = (size + size / 2 + (uint64_t(1) << 20) + page - 1) / page * page;
        if (map_) ::munmap(map_, reserved_);
        map_ = nullptr;
        void* m = ::mmap(nullptr, size_t(want), PROT_READ, MAP_SHARED, fd_, 0);
        if (m == MAP_FAILED) {
          map_failed_ = true;  // read through Read from now on
          return false;
        }
        map_ = static_cast<uint8_t*>(m);
        reserved_ = want;
      }
      viewable_ = size;
    }
    *base = map_;
    *length = viewable_;
    return true;
  }

  int Size(uint64_t* size) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return OsErrorFromErrno(errno);
    *size = uint64_t(st.st_size);
    return 0;
  }

  int Sync(bool data_only) override {
    int r = data_only ? ::fdatasync(fd_) : ::fsync(fd_);
    return r == 0 ? 0 : OsErrorFromErrno(errno);
  }

  int Lock(uint64_t offset, uint64_t length, bool exclusive, bool wait) override {
    return OfdLock(fd_, exclusive && !rdonly_fd_ ? F_WRLCK : F_RDLCK, offset, length, wait);
  }

  int Unlock(uint64_t offset, uint64_t length) override {
    return OfdLock(fd_, F_UNLCK, offset, length, false);
  }

  int TestLock(uint64_t offset, uint64_t length, bool exclusive) override {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = exclusive && !rdonly_fd_ ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(offset);
    fl.l_len = off_t(length);
    if (fcntl(fd_, F_OFD_GETLK, &fl) != 0) return OsErrorFromErrno(errno);
    return fl.l_type == F_UNLCK ? 0 : kOsLockViolation;
  }

  const std::string& Path() const override { return path_; }

  bool OtherOpens() override {
    return Held(fd_, kShareLockBase + kHasRead) || Held(fd_, kShareLockBase + kHasWrite);
  }

  int RenameTo(const std::string& to) override {
    if (::rename(path_.c_str(), to.c_str()) != 0) return OsErrorFromErrno(errno);
    path_ = to;
    return 0;
  }

  bool Replaced() override {
    struct stat mine, named;
    if (::fstat(fd_, &mine) != 0 || ::stat(path_.c_str(), &named) != 0) return true;
    return mine.st_dev != named.st_dev || mine.st_ino != named.st_ino;
  }

  // Takes the share-mode locks of `mode`; kOsSharingViolation when another
  // open's access or denial conflicts.
  int TakeShareLocks(uint32_t mode) {
    const uint32_t access = mode & 0x3;
    const uint32_t share = mode & 0x70;
    const bool reads = access == 0 || access == 2;
    const bool writes = access == 1 || access == 2;
    const bool deny_read = share == 0x10 || share == 0x30;
    const bool deny_write = share == 0x10 || share == 0x20;
    const uint64_t b = kShareLockBase;
    int r = OfdLock(fd_, rdonly_fd_ ? F_RDLCK : F_WRLCK, b + kGate, 1, true);
    if (r != 0) return r;
    bool conflict =
        (reads && Held(fd_, b + kDeniesRead)) || (writes && Held(fd_, b + kDeniesWrite)) ||
        (deny_read && Held(fd_, b + kHasRead)) || (deny_write && Held(fd_, b + kHasWrite));
    if (!conflict) {
      if (reads) r = OfdLock(fd_, F_RDLCK, b + kHasRead, 1, false);
      if (r == 0 && writes) r = OfdLock(fd_, F_RDLCK, b + kHasWrite, 1, false);
      if (r == 0 && deny_read) r = OfdLock(fd_, F_RDLCK, b + kDeniesRead, 1, false);
      if (r == 0 && deny_write) r = OfdLock(fd_, F_RDLCK, b + kDeniesWrite, 1, false);
    }
    OfdLock(fd_, F_UNLCK, b + kGate, 1, false);
    if (conflict) return kOsSharingViolation;
    return r;
  }

 private:
  int fd_;
  std::string path_;
  uint32_t access_;  // 0 read, 1 write, 2 read and write
  bool rdonly_fd_;   // the descriptor itself is read-only
  uint8_t* map_ = nullptr;  // View(): reserved_ bytes mapped, viewable_ readable
  uint64_t reserved_ = 0;
  uint64_t viewable_ = 0;
  bool map_failed_ = false;
};

class PosixEnv final : public Env {
 public:
  int Open(const std::string& path, const OpenOptions& o, std::unique_ptr<EnvFile>* out) override {
    const uint32_t access = (o.mode & 0x3) == 3 ? 2 : (o.mode & 0x3);
    int flags = O_CLOEXEC | O_RDWR;
    if (o.create) flags |= O_CREAT;
    if (o.exclusive) flags |= O_EXCL;
    // Truncation waits until the share check has passed.
    int fd = ::open(path.c_str(), flags, 0666);
    bool rdonly_fd = false;
    if (fd < 0 && (errno == EACCES || errno == EROFS) && access == 0) {
      fd = ::open(path.c_str(), (flags & ~O_RDWR) | O_RDONLY, 0666);
      rdonly_fd = true;
    }
    if (fd < 0) return OsErrorFromErrno(errno);
    auto file = std::make_unique<PosixFile>(fd, path, access, rdonly_fd);
    int r = file->TakeShareLocks(o.mode);
    if (r != 0) return r;
    if (o.truncate) {
      r = file->Truncate(0);
      if (r != 0) return r;
    }
    *out = std::move(file);
    return 0;
  }

  int Remove(const std::string& path) override {
    return ::unlink(path.c_str()) == 0 ? 0 : OsErrorFromErrno(errno);
  }

  int Rename(const std::string& from, const std::string& to) override {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : OsErrorFromErrno(errno);
  }

  int CopyFile(const std::string& from, const std::string& to) override {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return OsErrorFromErrno(errno);
    int outfd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (outfd < 0) {
      int e = OsErrorFromErrno(errno);
      ::close(in);
      return e;
    }
    char buf[65536];
    int err = 0;
    for (;;) {
      ssize_t r = ::read(in, buf, sizeof buf);
      if (r < 0) {
        if (errno == EINTR) continue;
        err = OsErrorFromErrno(errno);
        break;
      }
      if (r == 0) break;
      ssize_t off = 0;
      while (off < r) {
        ssize_t w = ::write(outfd, buf + off, size_t(r - off));
        if (w < 0) {
          if (errno == EINTR) continue;
          err = OsErrorFromErrno(errno);
          break;
        }
        off += w;
      }
      if (err) break;
    }
    ::close(in);
    if (::close(outfd) != 0 && err == 0) err = OsErrorFromErrno(errno);
    return err;
  }

  bool Exists(const std::string& path) override { return ::access(path.c_str(), F_OK) == 0; }

  bool IsDirectory(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  int TempName(const std::string& dir, const std::string& prefix, std::string* out) override {
    std::string tmpl = (dir.empty() ? std::string(".") : dir) + "/" + prefix + "XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = ::mkstemp(buf.data());
    if (fd < 0) return OsErrorFromErrno(errno);
    ::close(fd);
    *out = buf.data();
    return 0;
  }

  int32_t Today() override {
    time_t now = ::time(nullptr);
    struct tm tm;
    ::localtime_r(&now, &tm);
    return DateFromYmd(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  }

  int32_t Clock() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    time_t secs = ts.tv_sec;
    ::localtime_r(&secs, &tm);
    return TimeFromHms(tm.tm_hour, tm.tm_min, tm.tm_sec, int(ts.tv_nsec / 10000000));
  }

  int64_t TickCount() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }

  void Delay(int ms) override {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }

  std::string ProgramPath() override {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, size_t(n));
  }
};

PosixEnv g_posix_env;
std::atomic<Env*> g_env{nullptr};

}  // namespace

Env* DefaultEnv() {
  return &g_posix_env;
}

Env* GetEnv() {
  Env* e = g_env.load(std::memory_order_acquire);
  return e ? e : &g_posix_env;
}

void SetEnv(Env* env) {
  g_env.store(env, std::memory_order_release);
}

int ReadWholeFile(const std::string& path, std::string* out) {
  std::unique_ptr<EnvFile> f;
  int r = GetEnv()->Open(path, OpenOptions{.mode = 0x40}, &f);
  if (r != 0) return r;
  uint64_t size = 0;
  if ((r = f->Size(&size)) != 0) return r;
  out->resize(size);
  size_t got = 0;
  if ((r = f->Read(0, out->data(), out->size(), &got)) != 0) return r;
  out->resize(got);
  return 0;
}

std::string NativePath(std::string_view name) {
  std::string p(name);
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  return p;
}

}  // namespace nv
