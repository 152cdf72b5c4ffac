// The flat driver's blocks, options and the dispatch of its operations (see
// flat_driver.h for the invariants). The record layer, reading and the whole
// file operations live in flat_ops.cpp.
#include "drivers/flat/flat_driver.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "drivers/flat/flat_internal.h"
#include "drivers/flat/flat_journal.h"
#include "drivers/flat/flat_ops.h"
#include "drivers/flat/flat_share.h"
#include "host/runtime/error_state.h"
#include "host/runtime/read_fields.h"

namespace flat {

using nv::DrvFcbHead;
using nv::FileDescriptor;

int FlatFcb::Write(nv::EnvFile* f, uint64_t offset, const void* p, size_t n) {
  if (write_error) return write_error;
  if (f == data.get() && !appends.empty()) {
    if (int err = FlushAppends(this)) return err;
  }
  // A zero-byte write would cut the file: it is never made.
  if (n == 0) nv::RuntimeError(0, "ERROR - TRUNCATING FILE AT " + std::to_string(offset));
  int err = BeforeWrite(f, offset, n);
  if (err) return err;
  const bool header = f == data.get() && offset == 0;
  if (f == data.get() && !header) block.Forget();
  CrashPoint(header ? "before-header" : f == data.get() ? "before-data" : "before-memo");
  err = f->Write(offset, p, n);
  if (err) {
    write_error = drv::OsError(err);
    return write_error;
  }
  CrashPoint(header ? "after-header" : f == data.get() ? "after-data" : "after-memo");
  return 0;
}

int FlatFcb::WriteHook(uint64_t, size_t) {
  return write_error;
}

int FlatFcb::WriteHook(nv::EnvFile* file, uint64_t offset, size_t n) {
  int err = BeforeWrite(file, offset, n);
  if (err) return err;
  CrashPoint("before-key");
  return 0;
}

int FlatFcb::WriteHooks(nv::EnvFile* file, const std::vector<std::pair<uint64_t, size_t>>& ranges) {
  if (write_error) return write_error;
  int err = 0;
  if (TxnJournals(this)) {
    err = JournalBeforeWrites(this, file, ranges);
  } else if (!(flags & (kBusyOnDisk | kUnmarkedWrites))) {
    err = WriteBusyMark(this, true);
  }
  if (err) {
    write_error = err;
    return err;
  }
  CrashPoint("before-key");
  return 0;
}

// Every write is either journalled (a transaction can put its bytes back)
// or made under the header's busy mark (a crash leaves the mark, and the
// next open repairs the file).
int FlatFcb::BeforeWrite(nv::EnvFile* file, uint64_t offset, size_t n) {
  if (write_error) return write_error;
  int err = 0;
  if (TxnJournals(this)) {
    err = JournalBeforeWrite(this, file, offset, n);
  } else if (!(flags & (kBusyOnDisk | kUnmarkedWrites))) {
    err = WriteBusyMark(this, true);
  }
  if (err) write_error = err;
  return err;
}

std::string CompleteDataName(const std::string& name) {
  std::string n = nv::NativePath(name);
  size_t slash = n.find_last_of('/');
  size_t dot = n.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) n += ".DAT";
  return n;
}

void FlatDriver::CompleteName(DrvFcbHead* fcb) {
  if (!fcb->name.empty()) fcb->name = CompleteDataName(fcb->name);
}

int FlatDriver::CreateFcb(FileDescriptor* fd, DrvFcbHead** out) {
  auto* f = new FlatFcb;
  *out = f;
  FillHead(f, fd);
  int err = BuildCommonBlocks(f, fd, &f->field_blocks, &f->key_blocks, &f->memo_blocks);
  if (err) return err;
  if ((err = BuildLayout(*fd->record_type, &f->layout)) != 0) return err;
  // One memo per flat file: the header has room for one memo size.
  if (fd->memo_count > 1) return 47;
  for (FlatField& fb : f->field_blocks) fb.stored_type = f->layout.stored_type[fb.number];
  int stored = 0;
  for (size_t i = 0; i < f->key_blocks.size(); ++i) {
    FlatKey& k = f->key_blocks[i];
    k.file_number = int(i + 1);
    // From the declaration: the block's own bits may be renumbered.
    k.index = (k.decl->attributes & nv::kKeyIndex) != 0;
    k.dynamic = k.index && k.components.empty();
    if ((err = MakeKeySpec(f, &k)) != 0) return err;
    if (!k.dynamic) {
      if (k.components.empty()) return 75;
      if ((err = k.shape.Validate(kMaxKeyLength)) != 0) return err;
      k.stored = true;
      ++stored;
    }
    k.cur_key.assign(kKeyBufferSize, '\0');
  }
  if (stored > 255) return 47;
  CompleteName(f);
  return 0;
}

void FlatDriver::DeleteFcb(DrvFcbHead* fcb) {
  auto* f = static_cast<FlatFcb*>(fcb);
  CloseFiles(f, false);
  delete f;
}

int FlatDriver::AfterOp(DrvFcbHead* fcb) {
  auto* f = static_cast<FlatFcb*>(fcb);
  // A read run keeps its lock for the next read.
  if (f->flags & kRunLock) {
    RunOpEnded(f);
    return 0;
  }
  // The operation's writes are all made: the busy mark goes (before the
  // byte lock, so that no other station ever sees a live writer's mark).
  int err = f->open() ? ClearBusyMark(f) : 0;
  // A file that wrote in a transaction keeps the lock until it ends.
  if ((f->flags & kHeaderByteLocked) && !TxnKeepsHeaderLock(f)) UnlockHeader(f);
  const int flushed = FlushAfterUnlock(f);
  return err ? err : flushed;
}

namespace {

// Operations that neither write nor mark anything: on a file opened shared
// they go on under a read run (flat_runs.h). A read that holds writes its
// mark: it takes the exclusive lock as the writes do.
bool ReadsOnly(int op, const FlatFcb* f) {
  switch (op) {
    case nv::kOpGetKey:
    case nv::kOpGetPointer:
    case nv::kOpGetOrdinal:
    case nv::kOpNext:
    case nv::kOpPrevious:
    case nv::kOpRegetFile:
    case nv::kOpRegetKey:
      return !(f->flags & kHoldRequested);
    case nv::kOpRecords:
    case nv::kOpRecordsKey:
    case nv::kOpPointerKey:
    case nv::kOpPositionKey:
    case nv::kOpDuplicate:
    case nv::kOpDuplicateKey:
    case nv::kOpSetFile:
    case nv::kOpSetFilePointer:
    case nv::kOpSetFileKey:
    case nv::kOpSetKey:
    case nv::kOpSetKeyKey:
    case nv::kOpSetKeyKeyPointer:
    case nv::kOpSetKeyPointer:
    case nv::kOpSkip:
    case nv::kOpBof:
    case nv::kOpEof:
    case nv::kOpResetFile:
    case nv::kOpResetKey:
    case nv::kOpNoMemo:
      return true;
    default:
      return false;
  }
}

}  // namespace

int FlatDriver::Option(DrvFcbHead* fcb, const std::string& name, const std::string& value,
                       bool has_value, bool from_send, std::string* answer) {
  auto* f = static_cast<FlatFcb*>(fcb);
  auto yes_no = [&](uint32_t bit, drv::YesNoRule rule) {
    bool on = (f->flags & bit) != 0;
    drv::YesNoOption(&on, value, has_value, rule, answer);
    f->flags = on ? (f->flags | bit) : (f->flags & ~bit);
  };
  if (name == "RECOVER") {
    if (from_send && has_value)
      f->recover_seconds = uint32_t(std::max(0, std::atoi(value.c_str())));
    answer->clear();
    return 0;
  }
  if (name == "IGNORESTATUS") {
    if (f->open() && (f->flags & kOpenShared)) return 63;
    yes_no(kIgnoreStatus, drv::YesNoRule::kOnUnlessOff);
    return 0;
  }
  if (name == "IGNORECORRUPTIONS") {
    yes_no(kIgnoreCorruptions, drv::YesNoRule::kOnWhenOn);
    return 0;
  }
  if (name == "MAINTAINHEADERTIME") {
    yes_no(kMaintainHeaderTime, drv::YesNoRule::kOnWhenOn);
    return 0;
  }
  if (name == "DELETED" || name == "HELD") {
    if (!(f->flags & kIgnoreStatus)) {
      *answer = "OFF";
      return 0;
    }
    if (f->current == 0) return 33;
    uint8_t bit = name == "DELETED" ? kRecDeleted : kRecHeld;
    *answer = (f->current_status & bit) ? "ON" : "OFF";
    return 0;
  }
  return 0;  // any other option is ignored
}

// The fields the program reads after NEXT and PREVIOUS: "3,17" (field
// numbers), or the empty text for whole records. A number that names no
// field answers 75 and leaves whole records.
bool FlatDriver::DriverProperty(drv::OpContext& ctx, int32_t property, bool set, int* error) {
  if (property != nv::kPropReadFields || ctx.Word(0) != 0) return false;
  if (ctx.op != nv::kOpSetProperty && ctx.op != nv::kOpGetProperty) return false;
  auto* f = static_cast<FlatFcb*>(ctx.fcb);
  *error = 0;
  if (!set) {
    for (uint32_t n : f->read_fields)
      ctx.text_result += (ctx.text_result.empty() ? "" : ",") + std::to_string(n);
    return true;
  }
  std::vector<uint32_t> fields;
  const std::string& v = ctx.text[0];
  for (size_t at = 0, end = 0; !v.empty() && end < v.size(); at = end + 1) {
    end = std::min(v.find(',', at), v.size());
    const std::string part = v.substr(at, end - at);
    char* stop = nullptr;
    const long n = std::strtol(part.c_str(), &stop, 10);
    if (part.empty() || *stop != '\0' || n < 1 || size_t(n) > f->fields.size()) {
      NoteReadFields(f, {});
      *error = 75;
      return true;
    }
    fields.push_back(uint32_t(n));
  }
  NoteReadFields(f, std::move(fields));
  return true;
}

int FlatDriver::Run(drv::OpContext& c) {
  auto* f = static_cast<FlatFcb*>(c.fcb);
  FlatKey* k = c.kcb ? f->key(c.kcb) : nullptr;
  switch (c.op) {
    case nv::kOpName:
      c.text_result =
          (f->state & nv::kStateOpen) ? f->name : nv::MakeCString(c.fd->name.addr, c.fd->name.len);
      return 0;
    case nv::kOpCreate:
      return CreateFiles(f);
    case nv::kOpOpen:
    case nv::kOpShare:
      return OpenFiles(f, uint32_t(c.Word(0)));
    case nv::kOpClose:
      return CloseFiles(f, true);
    case nv::kOpRemove:
      return RemoveFiles(f);
    case nv::kOpCopy:
      return CopyFiles(f, c.text[0], false);
    case nv::kOpRename:
      return CopyFiles(f, c.text[0], true);
    case nv::kOpBytes:
      return Bytes(f, &c.result);
    default:
      break;
  }
  if (!f->open()) return nv::kErrFileNotOpen;
  // The position and pointer of the record read last are this open's own:
  // no lock (they are asked after every NEXT and PREVIOUS).
  switch (c.op) {
    case nv::kOpPointer:
      c.result = intptr_t(f->current);
      return 0;
    case nv::kOpPosition:
      return Position(f, nullptr, &c.text_result);
    case nv::kOpPositionKey:
      // After a read answered from another key's entry the record is read,
      // under the lock.
      if (!CurrentKeyNeedsRecord(f, k)) return Position(f, k, &c.text_result);
      break;
    default:
      break;
  }
  // Refused at once while another station has the file (even one whose
  // transaction keeps the header lock); checked again under the lock.
  if (c.op == nv::kOpPack && OpenElsewhere(f)) return 5;
  int err = LockHeader(f, ReadsOnly(c.op, f));
  if (err) return err;
  switch (c.op) {
    case nv::kOpAdd:
      return AddRecord(f, true);
    case nv::kOpAppend:
      return AddRecord(f, false);
    case nv::kOpPut:
      return PutRecord(f, 0);
    case nv::kOpPutPointer:
      return PutRecord(f, int32_t(c.Word(0)) <= 0 ? UINT32_MAX : uint32_t(c.Word(0)));
    case nv::kOpDelete:
      return DeleteRecord(f);
    case nv::kOpDuplicate:
      return Duplicate(f, nullptr, &c.result);
    case nv::kOpDuplicateKey:
      return Duplicate(f, k, &c.result);
    case nv::kOpEmpty:
      return EmptyFile(f);
    case nv::kOpRecords:
      c.result = intptr_t(f->header.records - f->header.deleted);
      return 0;
    case nv::kOpRecordsKey:
      return RecordsOfKey(f, k, &c.result);
    case nv::kOpPointerKey:
      return PointerOfKey(f, k, &c.result);
    case nv::kOpPositionKey:
      return Position(f, k, &c.text_result);
    case nv::kOpGetKey:
      return GetByKey(f, k);
    case nv::kOpGetPointer:
      return GetByPointer(f, int64_t(c.Word(0)));
    case nv::kOpGetOrdinal:
      return GetByOrdinal(f, k, int64_t(c.Word(0)));
    case nv::kOpSetFile:
      return SetFile(f, 1, false);
    case nv::kOpSetFilePointer:
      return SetFile(f, int64_t(c.Word(0)), true);
    case nv::kOpSetFileKey:
      return SetFileFromKey(f, k);
    case nv::kOpSetKey:
      return SetKey(f, k);
    case nv::kOpSetKeyKey:
      return SetKeyFromBuffer(f, k, false, 0);
    case nv::kOpSetKeyKeyPointer:
      return SetKeyFromBuffer(f, k, true, int64_t(c.Word(0)));
    case nv::kOpSetKeyPointer:
      return SetKeyOrdinal(f, k, int64_t(c.Word(0)));
    case nv::kOpNext:
      return Step(f, +1, true);
    case nv::kOpPrevious:
      return Step(f, -1, true);
    case nv::kOpSkip:
      return Skip(f, int64_t(c.Word(0)));
    case nv::kOpBof:
      return Peek(f, -1, &c.result);
    case nv::kOpEof:
      return Peek(f, +1, &c.result);
    case nv::kOpResetFile:
      return Reset(f, nullptr, c.text[0]);
    case nv::kOpResetKey:
      return Reset(f, k, c.text[0]);
    case nv::kOpRegetFile:
      return Reget(f, nullptr, c.text[0]);
    case nv::kOpRegetKey:
      return Reget(f, k, c.text[0]);
    case nv::kOpBuildFile:
      return BuildAll(f);
    case nv::kOpBuildKey:
      return BuildOne(f, k);
    case nv::kOpBuildIndex:
      return BuildIndex(f, k, c.text[0]);
    case nv::kOpPack:
      return PackFile(f);
    case nv::kOpStream:
      f->flags &= ~kFlushAfterWrite;
      if (StreamHoldsKeys(f))
        for (FlatKey& key : f->key_blocks)
          if (key.file) key.file->set_hold_back(true);
      return 0;
    case nv::kOpFlush:
      return FlushFile(f);
    case nv::kOpWatch:
      f->flags |= kWatchRequested;
      return 0;
    case nv::kOpNoMemo:
      f->flags |= kNoMemoNext;
      return 0;
    case nv::kOpHold:
    case nv::kOpHoldTimeout:
      f->flags |= kHoldRequested;
      f->hold_timeout = c.op == nv::kOpHold ? -1 : int32_t(c.Word(0));
      return 0;
    case nv::kOpRelease:
      return ReleaseHeld(f);
    case nv::kOpLock:
    case nv::kOpLockTimeout:
      return LockFile(f);
    case nv::kOpUnlock:
      return UnlockFile(f);
    case nv::kOpLogout:
      return TxnLogout();
    case nv::kOpCommit:
      return TxnCommit();
    case nv::kOpRollback:
      return TxnRollback();
    default:
      return nv::kErrNotImplemented;
  }
}

}  // namespace flat
