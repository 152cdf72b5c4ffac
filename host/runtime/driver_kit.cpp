// The runtime's side of the driver interface: string copies, the state check
// before and the state update after each operation, the operation trace, the
// note of active drivers, and re-entry into the file verbs.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "host/runtime/date_time.h"
#include "host/runtime/driver_interface.h"
#include "host/runtime/env.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"

namespace nv {

std::string MakeCString(const char* addr, uint32_t len) {
  if (addr == nullptr) return {};
  if (len == kLenCString) return std::string(addr);
  if (len == kLenPString) return std::string(addr + 1, static_cast<unsigned char>(addr[0]));
  size_t n = len;
  while (n > 0 && addr[n - 1] == ' ') --n;
  return std::string(addr, n);
}

// Files declared per thread already get one descriptor per thread from the
// runtime (each report run opens its own files), so the brackets only count.
void ThreadedFileOpen(FileDescriptor*) {}
void ThreadedFileClose(FileDescriptor*) {}

namespace {

bool NeedsOpenFile(int32_t op) {
  switch (op) {
    case kOpAdd: case kOpAppend: case kOpBof: case kOpDelete: case kOpEmpty: case kOpEof:
    case kOpGetKey: case kOpGetPointer: case kOpGetOrdinal: case kOpHold: case kOpHoldTimeout:
    case kOpLock: case kOpLockTimeout: case kOpNext: case kOpPointer: case kOpPointerKey:
    case kOpFlush: case kOpPut: case kOpPrevious: case kOpRecords: case kOpRecordsKey:
    case kOpRelease: case kOpSetFile: case kOpSetFileKey: case kOpSetFilePointer: case kOpSetKey:
    case kOpSetKeyKey: case kOpSetKeyPointer: case kOpSetKeyKeyPointer: case kOpSkip:
    case kOpUnlock: case kOpBytes: case kOpPutPointer: case kOpStream: case kOpWatch:
    case kOpPosition: case kOpPositionKey: case kOpResetFile: case kOpResetKey: case kOpNoMemo:
    case kOpRegetFile: case kOpRegetKey:
      return true;
    default:
      return false;
  }
}

bool IsRead(int32_t op) {
  switch (op) {
    case kOpNext: case kOpPrevious: case kOpGetKey: case kOpGetPointer: case kOpGetOrdinal:
    case kOpRegetFile: case kOpRegetKey:
      return true;
    default:
      return false;
  }
}

}  // namespace

int DrvCheckState(DrvFcbHead* fcb, DrvKcbHead*, int32_t op, const char*, size_t) {
  if (fcb == nullptr) return 0;
  const bool open = (fcb->state & kStateOpen) != 0;
  if (!open && NeedsOpenFile(op)) return kErrFileNotOpen;
  if (open && (op == kOpOpen || op == kOpShare)) return kErrFileAlreadyOpen;
  return 0;
}

void DrvUpdateState(DrvFcbHead* fcb, DrvKcbHead*, int32_t op, int error, int created) {
  if (fcb == nullptr) return;
  if (created) fcb->bookkeeping |= kKeepClearError | kKeepLastOp | kKeepLastOp2;
  uint32_t& s = fcb->state;
  if (IsRead(op)) {
    const bool watch = (s & kStateWatchRequested) != 0;
    const bool hold = (s & kStateHoldRequested) != 0;
    s &= ~(kStateWatchRequested | kStateHoldRequested);
    if (error == 0) {
      s = watch ? (s | kStateWatching) : (s & ~kStateWatching);
      if (hold) s |= kStateHeld;
    }
    return;
  }
  // A CLOSE that answers an error (a flush the disk refused) has still
  // closed the driver's handles: the file is closed whatever the answer, or
  // every later OPEN of it would be refused as already open.
  const bool closing = op == kOpClose || op == kOpFinalClose;
  if (error != 0 && error != -1 && !closing) return;
  switch (op) {
    case kOpOpen:
    case kOpShare: s |= kStateOpen; break;
    case kOpClose:
    case kOpFinalClose:
      s &= kStateDeferredRunning | kStateDeferNext;
      break;
    case kOpStream: s |= kStateStreaming; break;
    case kOpFlush: s &= ~kStateStreaming; break;
    case kOpLock:
    case kOpLockTimeout: s |= kStateLocked; break;
    case kOpUnlock: s &= ~kStateLocked; break;
    case kOpWatch: s |= kStateWatchRequested; break;
    case kOpHold:
    case kOpHoldTimeout: s |= kStateHoldRequested; break;
    case kOpRelease: s &= ~(kStateHoldRequested | kStateHeld); break;
    default: break;
  }
}

int DrvTraceLine(DrvFcbHead* fcb, std::string_view line) {
  if (fcb == nullptr || fcb->trace_file.empty()) return 0;
  std::string text(line);
  text += "\r\n";
  if (fcb->trace_handle >= 0) {
    return ::write(fcb->trace_handle, text.data(), text.size()) == ssize_t(text.size())
               ? 0
               : OsErrorFromErrno(errno);
  }
  int fd = ::open(NativePath(fcb->trace_file).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                  0666);
  if (fd < 0) return OsErrorFromErrno(errno);
  ssize_t w = ::write(fd, text.data(), text.size());
  ::close(fd);
  return w == ssize_t(text.size()) ? 0 : kOsWriteFault;
}

void DrvTraceOp(DrvFcbHead* fcb, DrvKcbHead* kcb, const char* driver, int32_t op, int error,
                int64_t ticks) {
  if (fcb == nullptr || !fcb->trace_on) return;
  Env* env = GetEnv();
  int h = 0, m = 0, s = 0, hs = 0;
  HmsFromTime(env->Clock(), &h, &m, &s, &hs);
  char head[64];
  std::snprintf(head, sizeof head, "%02d:%02d:%02d.%02d ", h, m, s, hs);
  std::string line = head;
  line += driver ? driver : "";
  line += " ";
  line += fcb->name;
  line += " ";
  line += GetOpInfo(op).name;
  if (kcb) line += " " + kcb->name;
  line += " error=" + std::to_string(error) + " ms=" + std::to_string(ticks);
  if (fcb->trace_details && fcb->record && fcb->record_length > 0 && error == 0) {
    line += " [";
    for (uint32_t i = 0; i < fcb->record_length; ++i) {
      unsigned char c = fcb->record[i];
      line += (c >= 0x20 && c != 0x7F) ? char(c) : '.';
    }
    line += "]";
  }
  DrvTraceLine(fcb, line);
}

void ActivateDriver(FileDescriptor* fd, uint32_t mode) {
  if (fd == nullptr || fd->runtime_file == nullptr) return;
  static_cast<File*>(fd->runtime_file)->NoteActive(true, mode);
}

void DeactivateDriver(FileDescriptor* fd) {
  if (fd == nullptr || fd->runtime_file == nullptr) return;
  static_cast<File*>(fd->runtime_file)->NoteActive(false, 0);
}

intptr_t CallFileVerb(FileDescriptor* fd, int32_t op, KeyDecl* key,
                      std::initializer_list<intptr_t> words,
                      std::initializer_list<std::string_view> texts, std::string* text_out) {
  if (fd == nullptr || fd->runtime_file == nullptr) return 0;
  return static_cast<File*>(fd->runtime_file)->Call(op, key, words, texts, text_out);
}

}  // namespace nv
