// Read runs: consecutive reads of a file opened shared pay the header lock,
// the header read and the journal check once per run, not once per record.
//
// A read operation (GET, NEXT, PREVIOUS, SET, SKIP, POSITION ...) that finds
// no run takes the header byte lock *shared* and starts one: the header and
// the key headers are read again and the journal checked as for any
// operation, and the lock is kept when the operation ends. The following
// read operations of the same open find the lock taken and use the header,
// the key pages and the record blocks read earlier in the run, without a
// system call. A run ends at an operation that writes (or reads to hold),
// CLOSE, a writer of this process wanting the lock (EndIdleRuns), or a
// writer of another program waiting, which the run looks for (one system
// call) every kLookOps operations. Finding none, it goes on without letting
// go of the lock: no writer can have written meanwhile, so the header, key
// pages and records it read stand. A run left idle (the program stopped
// reading) is ended by a thread of the driver kRunMs after it last looked,
// so an idle run never keeps the lock longer than that (no run is left idle
// while that thread is not running; a fork waits until it has started,
// flat_runs.cpp).
//
// Writers take the byte lock exclusively, so no byte of the file changes
// while a run holds it: a reader sees every record and key entry as the
// last writer left them, never half written. To keep readers that start
// runs one after another from starving a writer, a writer first takes byte
// 1 of the data file exclusively (its intent), and a reader takes byte 1
// shared before it waits for byte 0: once a writer waits, new runs wait
// behind it, and the runs under way end when they next look (within
// kLookOps operations). A writer therefore waits at most for that (kRunMs
// for a run whose program stopped reading) plus the operation under way.
//
// Invariants:
//  - run.state is kRunIdle or kRunInOp exactly while this open keeps the
//    shared byte lock for a run, and then the open is in the runs list;
//  - an operation takes an idle run with one atomic exchange (no mutex); the
//    driver's thread takes one it ends the same way (kRunIdle to
//    kRunReleasing, under the runs mutex), so the two never both act on it:
//    an operation that finds kRunReleasing waits for kRunNone;
//  - f->flags kRunLock is set during an operation that goes on under a run.
//
// The run clock is the system's monotonic clock, not the Env's: a test's
// fake clock must not keep a lock for ever.
#pragma once

#include <atomic>
#include <cstdint>

namespace flat {

struct FlatFcb;

// Looking less often costs the writer more than the looks cost the reader:
// a run's first operations re-read key pages and may wait for the
// processor, and a writer waits for the slowest of the runs under way
// (bench_flat_shared: 64 operations doubled the writer's mean ADD time).
inline constexpr uint32_t kLookOps = 32;
// A reader's process taken off the processor between two reads leaves its
// run idle: with runs that go on, a writer met such a run at every other
// ADD, and 4 ms here doubled its mean ADD time with 4 readers.
inline constexpr int64_t kRunMs = 1;

enum RunState : uint8_t { kRunNone, kRunIdle, kRunInOp, kRunReleasing };

// Per-open state of a run: operations since it last looked for a writer,
// and when the driver's thread may end it if left idle (written under the
// runs mutex; the thread reads it there).
struct ReadRun {
  std::atomic<uint8_t> state{kRunNone};
  uint32_t ops = 0;
  int64_t deadline_us = 0;
};

// At the start of an operation of a file opened shared: true when a run is
// held and the operation reads only (it goes on under the run); otherwise a
// run still held is ended first.
bool ResumeRun(FlatFcb* f, bool reads_only);
// Takes the byte lock shared for a read operation and starts a run: 0 and
// true in *started when the operation goes on under the run; 0 and false
// when it must take the exclusive lock (a journal or busy mark to repair,
// another program's LOCK); another number when the header cannot be read.
int StartRun(FlatFcb* f, bool* started);
// At the end of an operation under a run: keeps the lock for the next read
// or lets it go when the run is over.
void RunOpEnded(FlatFcb* f);
// Ends f's run now (a write, CLOSE).
void EndRun(FlatFcb* f);
// Ends every idle run of this process: before a writer waits for the byte
// lock, so that an open of this program never makes another wait.
void EndIdleRuns();

}  // namespace flat
