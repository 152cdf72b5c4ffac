// The dBase III driver's blocks, options, error reporting and the dispatch
// of its operations (see db3_driver.h).
#include "drivers/dbase3/db3_driver.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "drivers/dbase3/xbase_errors.h"
#include "host/runtime/error_state.h"
#include "host/runtime/profile.h"

namespace db3 {

namespace {

std::mutex g_mutex;
MessageBoxHook g_message_box;
bool g_zero_y2k = false;

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
  std::lock_guard<std::mutex> l(g_mutex);
  g_message_box = std::move(hook);
}

void ShowMessage(const std::string& text) {
  MessageBoxHook hook;
  {
    std::lock_guard<std::mutex> l(g_mutex);
    hook = g_message_box;
  }
  if (hook) {
    hook("dBase III Driver", text);
  } else {
    std::fprintf(stderr, "dBase III Driver: %s\n", text.c_str());
  }
}

bool ZeroY2k() {
  std::lock_guard<std::mutex> l(g_mutex);
  return g_zero_y2k;
}

void SetZeroY2k(bool on) {
  std::lock_guard<std::mutex> l(g_mutex);
  g_zero_y2k = on;
}

int ReportError(Db3Fcb* f, int err) {
  if (XbaseOk(err)) return 0;
  const int runtime = RuntimeErrorOf(err);
  if (runtime == err && XbasePlace(err) < 0) return err;  // not an xBase number
  std::string message;
  if (runtime == 90) {
    message = XbaseText(err);
    if (message.size() > 80) message.resize(80);
    nv::SetFileError(std::to_string(err), message);
  } else if (f->ext_errors) {
    // The layer's own text names the fault best; the runtime's otherwise.
    message = *XbaseText(err) ? XbaseText(err) : nv::ErrorTextOf(runtime);
  }
  if (f->ext_errors) {
    std::string base = f->name;
    const size_t slash = base.find_last_of("/\\");
    if (slash != std::string::npos) base = base.substr(slash + 1);
    char text[512];
    std::snprintf(text, sizeof text, "File %s, xBase Error (%d): %s", base.c_str(), err,
                  message.c_str());
    nv::RuntimeError(runtime, text);
  }
  return runtime;
}

std::string CompleteTableName(const std::string& name) {
  std::string n = nv::NativePath(name);
  const size_t slash = n.find_last_of('/');
  const size_t dot = n.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) n += ".DBF";
  return n;
}

void Db3Driver::CompleteName(nv::DrvFcbHead* fcb) {
  if (!fcb->name.empty()) fcb->name = CompleteTableName(fcb->name);
}

int Db3Driver::CreateFcb(nv::FileDescriptor* fd, nv::DrvFcbHead** out) {
  auto* f = new Db3Fcb;
  *out = f;
  FillHead(f, fd);
  // (At most 1023 memos: the descriptor's count byte never says more.)
  int err = BuildCommonBlocks(f, fd, &f->field_blocks, &f->key_blocks, &f->memo_blocks);
  if (err) return err;
  for (Db3Key& k : f->key_blocks) {
    k.unique = (k.attributes & nv::kKeyDup) == 0;
    k.dynamic = k.components.empty();
  }
  CompleteName(f);
  if (nv::GetProfileInt("", "NWdBase3", "Y2KZERO", 0) != 0) SetZeroY2k(true);
  return 0;
}

void Db3Driver::DeleteFcb(nv::DrvFcbHead* fcb) {
  auto* f = static_cast<Db3Fcb*>(fcb);
  CloseFiles(f);
  delete f;
}

int Db3Driver::AfterOp(nv::DrvFcbHead* fcb) {
  auto* f = static_cast<Db3Fcb*>(fcb);
  return ReportError(f, EndOp(f));
}

int Db3Driver::Option(nv::DrvFcbHead* fcb, const std::string& name, const std::string& value,
                      bool has_value, bool /*from_send*/, std::string* answer) {
  auto* f = static_cast<Db3Fcb*>(fcb);
  if (name == "BUFFERS") {
    *answer = std::to_string(f->buffers);
    if (has_value) {
      const int n = std::atoi(value.c_str());
      if (n > 0) f->buffers = n;
      for (Db3Key& k : f->key_blocks)
        if (k.ndx) k.ndx->SetCaching(f->exclusive, size_t(f->buffers));
    }
    return 0;
  }
  if (name == "DELETED") {
    if (!f->open() || !f->ignore_status || f->current == 0 || f->cur_raw.empty()) return 33;
    *answer = f->cur_raw[0] == '*' ? "ON" : "OFF";
    return 0;
  }
  if (name == "EXTERRORS") {
    drv::YesNoOption(&f->ext_errors, value, has_value, drv::YesNoRule::kOnUnlessOff, answer);
    return 0;
  }
  if (name == "IGNORESTATUS") {
    drv::YesNoOption(&f->ignore_status, value, has_value, drv::YesNoRule::kOnUnlessOff, answer);
    return 0;
  }
  if (name == "OMNIS") {
    f->omnis = true;
    answer->clear();
    return 0;
  }
  if (name == "RECOVER") {
    answer->clear();
    if (has_value || !f->open()) return 0;
    int err = BeginOp(f, true);
    if (!err) err = MarkBusy(f);
    if (!err) err = BuildAll(f);
    return ReportError(f, err);
  }
  if (name == "ZEROY2K") {
    bool on = ZeroY2k();
    drv::YesNoOption(&on, value, has_value, drv::YesNoRule::kOnWhenOn, answer);
    SetZeroY2k(on);
    return 0;
  }
  return 0;  // any other option is ignored
}

namespace {

bool Writes(int op) {
  switch (op) {
    case nv::kOpAdd:
    case nv::kOpAppend:
    case nv::kOpPut:
    case nv::kOpPutPointer:
    case nv::kOpDelete:
    case nv::kOpEmpty:
    case nv::kOpBuildFile:
    case nv::kOpBuildKey:
    case nv::kOpBuildIndex:
    case nv::kOpPack:
    case nv::kOpFlush:
      return true;
    default:
      return false;
  }
}

int RunOpen(Db3Fcb* f, drv::OpContext& c) {
  Db3Key* k = c.kcb ? f->key(c.kcb) : nullptr;
  switch (c.op) {
    case nv::kOpAdd:
      return AddRecord(f, true);
    case nv::kOpAppend:
      return AddRecord(f, false);
    case nv::kOpPut:
      return PutRecord(f, 0);
    case nv::kOpPutPointer:
      return int32_t(c.Word(0)) <= 0 ? 35 : PutRecord(f, uint32_t(c.Word(0)));
    case nv::kOpDelete:
      return DeleteRecord(f);
    case nv::kOpDuplicate:
      return Duplicate(f, nullptr, f->current, &c.result);
    case nv::kOpDuplicateKey:
      return Duplicate(f, k, f->current, &c.result);
    case nv::kOpEmpty:
      return EmptyFiles(f);
    case nv::kOpRecords:
      return CountLive(f, &c.result);
    case nv::kOpRecordsKey:
      return CountKey(f, k, &c.result);
    case nv::kOpPointerKey:
      c.result = intptr_t(f->current);
      return 0;
    case nv::kOpGetKey:
      return GetByKey(f, k);
    case nv::kOpGetPointer:
      return GetByPointer(f, int64_t(int32_t(c.Word(0))));
    case nv::kOpGetOrdinal:
      return GetByOrdinal(f, k, int64_t(int32_t(c.Word(0))));
    case nv::kOpSetFile:
      return SetFile(f, 0);
    case nv::kOpSetFilePointer:
      return SetFile(f, int64_t(int32_t(c.Word(0))));
    case nv::kOpSetFileKey:
      return SetFileFromKey(f, k);
    case nv::kOpSetKey:
      return SetKey(f, k, false, false, 0);
    case nv::kOpSetKeyKey:
      return SetKey(f, k, true, false, 0);
    case nv::kOpSetKeyKeyPointer:
      return SetKey(f, k, true, true, int64_t(int32_t(c.Word(0))));
    case nv::kOpSetKeyPointer:
      return SetKeyPointer(f, k, int64_t(int32_t(c.Word(0))));
    case nv::kOpNext:
      return Step(f, +1);
    case nv::kOpPrevious:
      return Step(f, -1);
    case nv::kOpSkip:
      return Skip(f, int64_t(int32_t(c.Word(0))));
    case nv::kOpBof:
      return Peek(f, -1, &c.result);
    case nv::kOpEof:
      return Peek(f, +1, &c.result);
    case nv::kOpResetFile:
      return Reset(f, nullptr, c.text[0], false);
    case nv::kOpResetKey:
      return Reset(f, k, c.text[0], false);
    case nv::kOpRegetFile:
      return Reset(f, nullptr, c.text[0], true);
    case nv::kOpRegetKey:
      return Reset(f, k, c.text[0], true);
    case nv::kOpBuildFile:
      return BuildAll(f);
    case nv::kOpBuildKey:
      return k->dynamic && !k->ndx ? 76 : BuildIndex(f, k);
    case nv::kOpBuildIndex:
      return BuildDynamic(f, k, c.text[0]);
    case nv::kOpPack:
      return PackFiles(f);
    case nv::kOpStream:
      f->streaming = true;
      for (Db3Key& key : f->key_blocks)
        if (key.ndx && f->exclusive) key.ndx->SetDeferred(true);
      return 0;
    case nv::kOpFlush:
      return FlushAndSync(f);
    case nv::kOpWatch:
      f->watch_next = true;
      return 0;
    case nv::kOpNoMemo:
      f->no_memo_next = true;
      return 0;
    case nv::kOpHold:
    case nv::kOpHoldTimeout:
      f->hold_next = true;
      f->hold_seconds = c.op == nv::kOpHold ? -1 : int32_t(c.Word(0));
      return 0;
    case nv::kOpRelease:
      return Release(f);
    case nv::kOpLock:
    case nv::kOpLockTimeout:
      return LockFile(f);
    case nv::kOpUnlock:
      return UnlockFile(f);
    default:
      return nv::kErrNotImplemented;
  }
}

}  // namespace

int Db3Driver::Run(drv::OpContext& c) {
  auto* f = static_cast<Db3Fcb*>(c.fcb);
  int err = 0;
  switch (c.op) {
    case nv::kOpName:
      c.text_result =
          (f->state & nv::kStateOpen) ? f->name : nv::MakeCString(c.fd->name.addr, c.fd->name.len);
      return 0;
    case nv::kOpCreate:
      return ReportError(f, CreateFiles(f));
    case nv::kOpOpen:
    case nv::kOpShare:
      return ReportError(f, OpenFiles(f, uint32_t(c.Word(0))));
    case nv::kOpClose:
      return ReportError(f, CloseFiles(f));
    case nv::kOpRemove:
      return ReportError(f, RemoveFiles(f));
    case nv::kOpCopy:
      return ReportError(f, CopyFiles(f, c.text[0], false));
    case nv::kOpRename:
      return ReportError(f, CopyFiles(f, c.text[0], true));
    case nv::kOpLogout:
    case nv::kOpCommit:
    case nv::kOpRollback:
      return nv::kErrNotImplemented;
    case nv::kOpBytes:
      if (!f->open()) return nv::kErrFileNotOpen;
      if (f->state & nv::kStateBytesRecordLength) {
        c.result = f->hdr.record_length;
        return 0;
      } else {
        uint64_t size = 0;
        if (FlushAppends(f) || f->dbf->Size(&size)) return 5;
        c.result = intptr_t(size);
        return 0;
      }
    default:
      break;
  }
  if (!f->open()) return nv::kErrFileNotOpen;
  switch (c.op) {
    case nv::kOpPointer:
      c.result = intptr_t(f->current);
      return 0;
    case nv::kOpPosition:
    case nv::kOpPositionKey:
      return Position(f, &c.text_result);
    default:
      break;
  }
  if (Writes(c.op) && f->read_only) return 5;
  // A streamed ADD changes nothing others could read (see GuardWrites).
  const bool held_back =
      (c.op == nv::kOpAdd || c.op == nv::kOpAppend) && f->streaming && f->exclusive;
  err = BeginOp(f, Writes(c.op) && !held_back);
  if (!err && Writes(c.op) && c.op != nv::kOpFlush) err = MarkBusy(f);
  if (!err) err = RunOpen(f, c);
  return ReportError(f, err);
}

}  // namespace db3
