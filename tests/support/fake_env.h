// Test Envs: a fake clock that delays advance instead of waiting, and a file
// layer that fails writes after a budget of bytes or calls.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "host/runtime/env.h"

namespace nvtest {

// The clock stands still until a Delay moves it on (1000 ms = 100 hundredths).
class FakeClockEnv : public nv::EnvWrapper {
 public:
  FakeClockEnv() : nv::EnvWrapper(nv::DefaultEnv()) {}
  int32_t Today() override { return today; }
  int32_t Clock() override { return clock; }
  int64_t TickCount() override { return ticks; }
  void Delay(int ms) override {
    ++delays;
    ticks += ms;
    clock += ms / 10;
    if (clock > 8640000) {
      clock -= 8640000;
      ++today;
    }
  }

  int32_t today = 82000;
  int32_t clock = 3600001;  // 10:00:00
  int64_t ticks = 0;
  int delays = 0;
};

// Fails writes once `write_budget` bytes have been written through it, or
// once `call_budget` write calls have passed (negative: never), with
// `error` (39, disk full, by default). With `only`
// set, only files whose path contains it are affected. With `fail_syncs`,
// every flush fails with kOsWriteFault.
class FailingEnv : public nv::EnvWrapper {
 public:
  explicit FailingEnv(nv::Env* target = nv::DefaultEnv(), std::string only = {})
      : nv::EnvWrapper(target), only_(std::move(only)) {}
  int Open(const std::string& path, const nv::OpenOptions& o,
           std::unique_ptr<nv::EnvFile>* out) override {
    std::unique_ptr<nv::EnvFile> f;
    int r = target()->Open(path, o, &f);
    if (r != 0) return r;
    if (!only_.empty() && path.find(only_) == std::string::npos) {
      *out = std::move(f);
    } else {
      *out = std::make_unique<File>(std::move(f), this);
    }
    return 0;
  }

  std::atomic<int64_t> write_budget{-1};
  std::atomic<int> call_budget{-1};
  std::atomic<int> error{nv::kOsDiskFull};
  std::atomic<int> writes{0};
  std::atomic<bool> fail_syncs{false};
  std::atomic<int> failing_syncs{0};  // the next n syncs fail, then they work again

 private:
  std::string only_;
  class File : public nv::EnvFile {
   public:
    File(std::unique_ptr<nv::EnvFile> f, FailingEnv* env) : f_(std::move(f)), env_(env) {}
    int Read(uint64_t o, void* b, size_t n, size_t* got) override { return f_->Read(o, b, n, got); }
    int Write(uint64_t o, const void* b, size_t n) override {
      if (int calls = env_->call_budget.load(); calls >= 0) {
        if (env_->writes.load() >= calls) return env_->error.load();
      }
      ++env_->writes;
      int64_t budget = env_->write_budget.load();
      if (budget >= 0) {
        if (int64_t(n) > budget) {
          env_->write_budget = 0;
          return env_->error.load();
        }
        env_->write_budget = budget - int64_t(n);
      }
      return f_->Write(o, b, n);
    }
    int Truncate(uint64_t s) override { return f_->Truncate(s); }
    int Size(uint64_t* s) override { return f_->Size(s); }
    int Sync(bool d) override {
      if (env_->fail_syncs) return nv::kOsWriteFault;
      if (env_->failing_syncs.load() > 0) {
        --env_->failing_syncs;
        return nv::kOsWriteFault;
      }
      return f_->Sync(d);
    }
    int Lock(uint64_t o, uint64_t l, bool e, bool w) override { return f_->Lock(o, l, e, w); }
    int Unlock(uint64_t o, uint64_t l) override { return f_->Unlock(o, l); }
    const std::string& Path() const override { return f_->Path(); }
    bool OtherOpens() override { return f_->OtherOpens(); }
    bool Replaced() override { return f_->Replaced(); }
    int RenameTo(const std::string& to) override { return f_->RenameTo(to); }

   private:
    std::unique_ptr<nv::EnvFile> f_;
    FailingEnv* env_;
  };
};

// Installs an Env for the life of the object.
class ScopedEnv {
 public:
  explicit ScopedEnv(nv::Env* e) { nv::SetEnv(e); }
  ~ScopedEnv() { nv::SetEnv(nullptr); }
};

}  // namespace nvtest
