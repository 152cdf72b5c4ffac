// Reads of many pieces of one file in one system call, through the kernel's
// submission ring (io_uring). Internal to the runtime's Env (env_posix.cpp).
//
// Each thread has a ring of its own, made at its first use and kept until
// the thread ends. A forked child does not use its parent's ring (the ring's
// memory is not inherited): it makes its own. Where no ring can be made
// (an older kernel, a sandbox refusing the calls) nothing is read and the
// caller reads the pieces one by one.
#pragma once

#include <cstddef>

#include "host/runtime/env.h"

namespace nv {

struct ReadRing {
  // Reads the pieces of file descriptor fd into their buffers, setting got
  // to the bytes read for each piece read whole; a piece left with got
  // below n (an error, a short read, no ring) is for the caller to read.
  static void Submit(int fd, EnvFile::Piece* pieces, size_t count);
};

}  // namespace nv
