// The operating system as the runtime and the drivers see it: files with
// positioned reads and writes, byte-range locks and share modes, the clock,
// delays and temporary names. Everything goes through one Env so that tests
// can fail writes, fill the disk or drive a fake clock (see EnvWrapper).
//
// Error numbers are the runtime's operating-system numbers (the classic DOS
// numbering: 2 file not found, 3 path not found, 4 too many open files,
// 5 access denied, 6 invalid handle, 8 no memory, 32 sharing violation,
// 33 lock violation, 39 disk full, 80 file exists, 87 invalid parameter),
// 0 for success. Drivers turn numbers above 18 into 5 where the formats say so.
//
// Share modes between opens (also between two opens in one process) are kept
// with open-file-description locks on reserved bytes far beyond any data, so
// closing one descriptor never drops the locks of another.
//
// Thread-safety: the process Env may be used from any thread; an EnvFile
// belongs to one open and is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host/runtime/export.h"

namespace nv {

inline constexpr int kOsFileNotFound = 2;
inline constexpr int kOsPathNotFound = 3;
inline constexpr int kOsTooManyFiles = 4;
inline constexpr int kOsAccessDenied = 5;
inline constexpr int kOsInvalidHandle = 6;
inline constexpr int kOsNoMemory = 8;
inline constexpr int kOsWriteFault = 29;
inline constexpr int kOsReadFault = 30;
inline constexpr int kOsSharingViolation = 32;
inline constexpr int kOsLockViolation = 33;
inline constexpr int kOsDiskFull = 39;
inline constexpr int kOsFileExists = 80;
inline constexpr int kOsInvalidParameter = 87;

// The OS number of an errno value.
NV_API int OsErrorFromErrno(int err);

// First byte of the region reserved for share-mode locks.
inline constexpr uint64_t kShareLockBase = uint64_t(1) << 62;

class NV_API EnvFile {
 public:
  virtual ~EnvFile();
  // Reads up to n bytes at offset; *got receives the count (short at the end).
  virtual int Read(uint64_t offset, void* buf, size_t n, size_t* got) = 0;
  // Writes all n bytes at offset (a short write is an error).
  virtual int Write(uint64_t offset, const void* buf, size_t n) = 0;
  // One piece of ReadMany: n bytes at offset into buf; got is set as Read's.
  struct Piece {
    uint64_t offset = 0;
    void* buf = nullptr;
    size_t n = 0;
    size_t got = 0;
  };
  // Reads several pieces, in one system call where the system allows it
  // (read-ahead of records scattered through a file). Answers 0 or the error
  // of the first piece that failed. The default reads them one by one.
  virtual int ReadMany(Piece* pieces, size_t count);
  virtual int Truncate(uint64_t size) = 0;
  virtual int Size(uint64_t* size) = 0;
  // Forces written data to disk; data_only allows fdatasync.
  virtual int Sync(bool data_only) = 0;
  // Byte-range lock. Answers 0 granted, kOsLockViolation when another open
  // holds a conflicting lock (and !wait), another number for a bad request.
  virtual int Lock(uint64_t offset, uint64_t length, bool exclusive, bool wait) = 0;
  virtual int Unlock(uint64_t offset, uint64_t length) = 0;
  // Whether Lock(offset, length, exclusive, false) would be refused now,
  // without taking anything: 0 it would be granted, kOsLockViolation
  // another open holds a conflicting lock, another number for a bad
  // request. One question to the system where it can answer so; the
  // default takes the lock and lets it go.
  virtual int TestLock(uint64_t offset, uint64_t length, bool exclusive);
  virtual const std::string& Path() const = 0;
  // True while another open of this file exists, in this process or
  // another (opens made through an Env; they hold the share-mode locks).
  virtual bool OtherOpens() { return false; }
  // True when the file's path no longer names this file: it was removed, or
  // another file was renamed over it. What is written to it is lost.
  virtual bool Replaced() { return false; }
  // Renames this open file to `to` (replacing what `to` names); Path() then
  // answers `to`. Files of Envs that cannot answer kOsInvalidParameter.
  virtual int RenameTo(const std::string& /*to*/) { return kOsInvalidParameter; }
  // The file mapped read-only into memory, for reads without a system call.
  // *base receives the file's first byte, *length how many bytes may be
  // read from there: the file's size when it was last asked of the system,
  // less what this open's Truncate cut since. `recheck` asks the system
  // again (another open may have grown or cut the file; call it under
  // whatever lock keeps the file from being cut while the bytes are read).
  // Bytes past *length must never be touched (the system would kill the
  // program). The view lasts until the next call with `recheck` or the
  // file is closed. Answers false where the Env has none (the caller reads
  // through Read; test Envs that fail reads answer false).
  virtual bool View(bool recheck, const uint8_t** base, uint64_t* length) {
    (void)recheck;
    *base = nullptr;
    *length = 0;
    return false;
  }
};

// How to open: access (0 read, 1 write, 2 read and write) and share mode
// (0x00 compatibility, 0x10 deny all, 0x20 deny write, 0x30 deny read,
// 0x40 deny none) as the file verbs give them; plus creation flags.
struct OpenOptions {
  uint32_t mode = 0x22;
  bool create = false;     // create when missing
  bool truncate = false;   // cut to 0 bytes
  bool exclusive = false;  // fail with kOsFileExists when it exists
};

class NV_API Env {
 public:
  virtual ~Env();

  virtual int Open(const std::string& path, const OpenOptions& options,
                   std::unique_ptr<EnvFile>* out) = 0;
  virtual int Remove(const std::string& path) = 0;
  virtual int Rename(const std::string& from, const std::string& to) = 0;
  virtual int CopyFile(const std::string& from, const std::string& to) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual bool IsDirectory(const std::string& path) = 0;
  // Creates a new empty file with a unique name in `dir` and answers its name.
  virtual int TempName(const std::string& dir, const std::string& prefix, std::string* out) = 0;

  // Today's day number and the time of day (1..8640000).
  virtual int32_t Today() = 0;
  virtual int32_t Clock() = 0;
  // Milliseconds of a monotonic clock.
  virtual int64_t TickCount() = 0;
  // Waits `ms` milliseconds.
  virtual void Delay(int ms) = 0;

  // The running program's file name and folder.
  virtual std::string ProgramPath() = 0;
};

// The Env in force (the real one unless a test installed another).
NV_API Env* GetEnv();
// Installs an Env for the whole process; nullptr restores the real one.
NV_API void SetEnv(Env* env);
NV_API Env* DefaultEnv();

// Forwards everything to another Env; tests override what they change.
class NV_API EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  int Open(const std::string& path, const OpenOptions& o, std::unique_ptr<EnvFile>* out) override {
    return target_->Open(path, o, out);
  }
  int Remove(const std::string& p) override { return target_->Remove(p); }
  int Rename(const std::string& a, const std::string& b) override { return target_->Rename(a, b); }
  int CopyFile(const std::string& a, const std::string& b) override {
    return target_->CopyFile(a, b);
  }
  bool Exists(const std::string& p) override { return target_->Exists(p); }
  bool IsDirectory(const std::string& p) override { return target_->IsDirectory(p); }
  int TempName(const std::string& d, const std::string& p, std::string* o) override {
    return target_->TempName(d, p, o);
  }
  int32_t Today() override { return target_->Today(); }
  int32_t Clock() override { return target_->Clock(); }
  int64_t TickCount() override { return target_->TickCount(); }
  void Delay(int ms) override { target_->Delay(ms); }
  std::string ProgramPath() override { return target_->ProgramPath(); }

 private:
  Env* target_;
};

// Reads a whole small file (profiles, reports in tests); 0 on success.
NV_API int ReadWholeFile(const std::string& path, std::string* out);

// Turns a declared file name into a Linux path: '\' becomes '/'; case kept.
NV_API std::string NativePath(std::string_view name);

}  // namespace nv
