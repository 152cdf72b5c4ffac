// The submission ring of ReadRing (see read_ring.h).
#include "host/runtime/read_ring.h"

#include <linux/io_uring.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

namespace nv {

namespace {

// Forks seen: a ring made before the last fork belongs to the parent.
std::atomic<uint32_t> g_forks{0};

void ForkChild() {
  g_forks.fetch_add(1, std::memory_order_relaxed);
}

constexpr unsigned kEntries = 64;

class Ring {
 public:
  Ring() {
    static const bool once = [] {
      pthread_atfork(nullptr, nullptr, ForkChild);
      return true;
    }();
    (void)once;
    forks_ = g_forks.load(std::memory_order_relaxed);
    io_uring_params p{};
    const long fd = syscall(__NR_io_uring_setup, kEntries, &p);
    if (fd < 0) return;
    fd_ = int(fd);
    sq_size_ = p.sq_off.array + p.sq_entries * sizeof(unsigned);
    cq_size_ = p.cq_off.cqes + p.cq_entries * sizeof(io_uring_cqe);
    sqe_size_ = p.sq_entries * sizeof(io_uring_sqe);
    sq_ = Map(sq_size_, IORING_OFF_SQ_RING);
    cq_ = Map(cq_size_, IORING_OFF_CQ_RING);
    sqes_ = static_cast<io_uring_sqe*>(Map(sqe_size_, IORING_OFF_SQES));
    if (sq_ == nullptr || cq_ == nullptr || sqes_ == nullptr) {
      Release();
      return;
    }
    auto* sq = static_cast<uint8_t*>(sq_);
    auto* cq = static_cast<uint8_t*>(cq_);
    sq_tail_ = reinterpret_cast<unsigned*>(sq + p.sq_off.tail);
    sq_mask_ = *reinterpret_cast<unsigned*>(sq + p.sq_off.ring_mask);
    sq_array_ = reinterpret_cast<unsigned*>(sq + p.sq_off.array);
    cq_head_ = reinterpret_cast<unsigned*>(cq + p.cq_off.head);
    cq_tail_ = reinterpret_cast<unsigned*>(cq + p.cq_off.tail);
    cq_mask_ = *reinterpret_cast<unsigned*>(cq + p.cq_off.ring_mask);
    cqes_ = reinterpret_cast<io_uring_cqe*>(cq + p.cq_off.cqes);
    capacity_ = std::min(p.sq_entries, kEntries);
    ok_ = true;
  }
  ~Ring() { Release(); }
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;

  bool usable() const { return ok_ && forks_ == g_forks.load(std::memory_order_relaxed); }

  // One batch of at most capacity_ pieces: submitted and waited for
  // together. False when the ring failed (it is then given up).
  bool Batch(int fd, EnvFile::Piece* pieces, unsigned count) {
    unsigned tail = *sq_tail_;
    for (unsigned i = 0; i < count; ++i) {
      const unsigned idx = tail & sq_mask_;
      io_uring_sqe* e = &sqes_[idx];
      std::memset(e, 0, sizeof *e);
      e->opcode = IORING_OP_READ;
      e->fd = fd;
      e->off = pieces[i].offset;
      e->addr = reinterpret_cast<uintptr_t>(pieces[i].buf);
      e->len = unsigned(pieces[i].n);
      e->user_data = i;
      sq_array_[idx] = idx;
      ++tail;
    }
    __atomic_store_n(sq_tail_, tail, __ATOMIC_RELEASE);
    unsigned submitted = 0, done = 0, failures = 0;
    while (done < count) {
      const long r = syscall(__NR_io_uring_enter, fd_, count - submitted, count - done,
                             IORING_ENTER_GETEVENTS, nullptr, 0);
      if (r < 0) {
        if (errno == EINTR) continue;
        // The reads under way must end before their buffers go back to the
        // caller: wait for them, and then give the ring up.
        ok_ = false;
        if (submitted == done || ++failures > 1000) return false;
        submitted = count;  // nothing more to submit, only to wait for
        continue;
      }
      submitted += unsigned(r);
      unsigned head = *cq_head_;
      const unsigned end = __atomic_load_n(cq_tail_, __ATOMIC_ACQUIRE);
      for (; head != end; ++head, ++done) {
        const io_uring_cqe& c = cqes_[head & cq_mask_];
        EnvFile::Piece& p = pieces[c.user_data];
        p.got = c.res == int(p.n) ? p.n : 0;  // anything else is read again
      }
      __atomic_store_n(cq_head_, head, __ATOMIC_RELEASE);
    }
    return true;
  }

  unsigned capacity() const { return capacity_; }

 private:
  void* Map(size_t size, off_t what) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd_, what);
    if (p == MAP_FAILED) return nullptr;
    madvise(p, size, MADV_DONTFORK);  // a child makes its own
    return p;
  }
  void Release() {
    // In a forked child the mappings are not there (MADV_DONTFORK; their
    // addresses may hold the child's own memory since) and the descriptor
    // is the child's own copy: only the descriptor goes.
    if (forks_ == g_forks.load(std::memory_order_relaxed)) {
      if (sqes_) munmap(sqes_, sqe_size_);
      if (cq_) munmap(cq_, cq_size_);
      if (sq_) munmap(sq_, sq_size_);
    }
    if (fd_ >= 0) close(fd_);
    sq_ = cq_ = nullptr;
    sqes_ = nullptr;
    fd_ = -1;
    ok_ = false;
  }

  int fd_ = -1;
  bool ok_ = false;
  uint32_t forks_ = 0;
  void* sq_ = nullptr;
  void* cq_ = nullptr;
  io_uring_sqe* sqes_ = nullptr;
  size_t sq_size_ = 0, cq_size_ = 0, sqe_size_ = 0;
  unsigned* sq_tail_ = nullptr;
  unsigned sq_mask_ = 0;
  unsigned* sq_array_ = nullptr;
  unsigned* cq_head_ = nullptr;
  unsigned* cq_tail_ = nullptr;
  unsigned cq_mask_ = 0;
  io_uring_cqe* cqes_ = nullptr;
  unsigned capacity_ = 0;
};

}  // namespace

void ReadRing::Submit(int fd, EnvFile::Piece* pieces, size_t count) {
  for (size_t i = 0; i < count; ++i) pieces[i].got = 0;
  if (count < 2) return;  // one piece: a plain read costs no more
  thread_local std::unique_ptr<Ring> ring;
  thread_local bool given_up = false;
  if (given_up) return;
  if (!ring || !ring->usable()) {
    ring.reset();  // none yet, or the parent's before a fork
    ring = std::make_unique<Ring>();
    if (!ring->usable()) {
      ring.reset();
      given_up = true;
      return;
    }
  }
  for (size_t at = 0; at < count;) {
    const unsigned n = unsigned(std::min<size_t>(count - at, ring->capacity()));
    if (!ring->Batch(fd, pieces + at, n)) {
      ring.reset();
      given_up = true;
      return;
    }
    at += n;
  }
}

}  // namespace nv
