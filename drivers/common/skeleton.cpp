// The dispatch skeleton shared by every file driver (see skeleton.h).
#include "drivers/common/skeleton.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "host/runtime/env.h"
#include "host/runtime/error_state.h"
#include "host/runtime/profile.h"
#include "host/runtime/string_stack.h"

namespace drv {

using namespace nv;

void Abort(int code) {
  throw AbortError{code};
}

// ---------------------------------------------------------------------------
// Driver strings.

bool NextDrvStr(std::string_view s, size_t* pos, std::string* option) {
  option->clear();
  while (*pos < s.size()) {
    std::string cur;
    while (*pos < s.size()) {
      char c = s[*pos];
      if (c == '/') {
        if (*pos + 1 < s.size() && s[*pos + 1] == '/') {
          cur += '/';
          *pos += 2;
          continue;
        }
        ++*pos;
        break;
      }
      cur += c;
      ++*pos;
    }
    size_t b = cur.find_first_not_of(' ');
    size_t e = cur.find_last_not_of(' ');
    if (b != std::string::npos) {
      *option = cur.substr(b, e - b + 1);
      return true;
    }
  }
  return false;
}

void SplitOption(std::string_view option, std::string* name, std::string* value, bool* has_value) {
  size_t eq = option.find('=');
  std::string_view n = option.substr(0, eq);
  while (!n.empty() && n.back() == ' ') n.remove_suffix(1);
  while (!n.empty() && n.front() == ' ') n.remove_prefix(1);
  name->clear();
  for (char c : n) *name += char(std::toupper(static_cast<unsigned char>(c)));
  *has_value = eq != std::string_view::npos;
  value->clear();
  if (*has_value) {
    std::string_view v = option.substr(eq + 1);
    while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
    while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    *value = std::string(v);
  }
}

static bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

void YesNoOption(bool* flag, std::string_view value, bool has_value, YesNoRule rule,
                 std::string* answer) {
  *answer = *flag ? "ON" : "OFF";
  if (!has_value) return;
  *flag = rule == YesNoRule::kOnWhenOn ? EqualsNoCase(value, "ON") : !EqualsNoCase(value, "OFF");
}

// ---------------------------------------------------------------------------
// Blocks.

int CheckRecordType(const FileDescriptor* fd, uint32_t max_record_length) {
  if (fd->record_length > max_record_length) return 47;
  const RecordType* rt = fd->record_type;
  if (rt == nullptr || rt->fields.empty() || rt->fields[0].type != kTypeGroup) return 75;
  // Groups nest at most 100 levels deep.
  std::vector<size_t> ends;
  for (size_t i = 0; i < rt->fields.size(); ++i) {
    while (!ends.empty() && i > ends.back()) ends.pop_back();
    const FieldDesc& f = rt->fields[i];
    if (f.type == kTypeGroup) {
      ends.push_back(i + f.span);
      if (ends.size() > 100) return 75;
    }
  }
  for (uint32_t i = 0; i < fd->memo_count; ++i) {
    if (fd->memos[i] == nullptr || fd->memos[i]->size > 65535) return 47;
  }
  return 0;
}

uint16_t GroupOf(const RecordType& rt, uint32_t field) {
  uint16_t group = 0;
  for (uint32_t g = 1; g < field && g < rt.fields.size(); ++g) {
    const FieldDesc& f = rt.fields[g];
    if (f.type == kTypeGroup && field <= g + f.span) group = uint16_t(g);
  }
  return group;
}

void FillFieldHead(DrvFieldHead* f, const RecordType& rt, uint32_t number) {
  f->desc = &rt.fields[number];
  f->number = number;
  f->name = f->desc->name.empty() ? f->desc->label : f->desc->name;
  f->group = GroupOf(rt, number);
}

int FillKeyHead(DrvKcbHead* k, DrvFcbHead* fcb, KeyDecl* decl, uint32_t number,
                std::vector<DrvFieldHead*>& fields, const RecordType&) {
  if (decl == nullptr) return 75;
  k->fcb = fcb;
  k->external_name = MakeCString(decl->external_name.addr, decl->external_name.len);
  k->name = MakeCString(decl->name.addr, decl->name.len);
  // Bits 0 to 4 as declared; bit 5 an index; bit 6 an index whose
  // components come with its first BUILD (a dynamic index).
  k->attributes = decl->attributes & 0x1F;
  if (decl->attributes & kKeyIndex) {
    k->attributes |= 1u << 5;
    if (decl->component_count == 0) k->attributes |= 1u << 6;
  }
  k->number = number;
  k->decl = decl;
  k->components.clear();
  for (uint32_t c = 0; c < decl->component_count; ++c) {
    int32_t v = decl->components[c];
    bool desc = v < 0;
    int32_t n = desc ? ~v : v;
    if (n < 1 || size_t(n) > fields.size()) return 75;
    DrvFieldHead* f = fields[size_t(n - 1)];
    if (f->desc->Elements() > 1) return 75;  // an array cannot be a key component
    k->components.push_back({f, desc});
  }
  decl->drv_kcb = k;
  return 0;
}

int FillMemoHead(DrvMemoHead* m, MemoDecl* decl) {
  m->decl = decl;
  m->external_name = MakeCString(decl->external_name.addr, decl->external_name.len);
  m->name = MakeCString(decl->name.addr, decl->name.len);
  m->size = decl->size;
  m->flags = decl->flags;
  m->buffer.reset(new (std::nothrow) char[decl->size + 1]);
  if (!m->buffer) return 8;
  std::memset(m->buffer.get(), ' ', decl->size);
  m->buffer[decl->size] = '\0';
  decl->buffer = m->buffer.get();
  decl->drv_memo = m;
  return 0;
}

void DriverBase::UnlinkBlocks(DrvFcbHead* fcb, FileDescriptor* fd) {
  for (uint32_t i = 0; i < fd->memo_count; ++i) {
    if (fd->memos[i]) {
      fd->memos[i]->buffer = nullptr;
      fd->memos[i]->drv_memo = nullptr;
    }
  }
  for (uint32_t i = 0; i < fd->key_count; ++i) {
    if (fd->keys[i]) fd->keys[i]->drv_kcb = nullptr;
  }
  if (fcb) {
    fcb->memos.clear();
    fcb->keys.clear();
    fcb->fields.clear();
  }
}

void DriverBase::FillHead(DrvFcbHead* fcb, FileDescriptor* fd) const {
  fcb->name = MakeCString(fd->name.addr, fd->name.len);
  fcb->owner = MakeCString(fd->owner.addr, fd->owner.len);
  fcb->driver_string = MakeCString(fd->driver_string.addr, fd->driver_string.len);
  fcb->attributes = uint8_t((fd->attributes >> 1) & 0x3F);
  fcb->record = fd->record;
  fcb->record_length = fd->record_length;
  fcb->reg = &Reg();
  fcb->fd = fd;
}

bool DriverBase::Implements(int32_t op) const {
  if (!implemented_made_.load(std::memory_order_acquire)) {
    uint64_t words[4] = {};
    const uint8_t* list = Reg().operations;
    for (int i = 1; list != nullptr && i <= list[0]; ++i)
      words[list[i] / 64] |= uint64_t(1) << (list[i] % 64);
    for (int w = 0; w < 4; ++w) implemented_[w].store(words[w], std::memory_order_relaxed);
    implemented_made_.store(true, std::memory_order_release);
  }
  if (op < 0 || op >= 256) return false;
  return (implemented_[op / 64].load(std::memory_order_relaxed) >> (op % 64) & 1) != 0;
}

int DriverBase::CreateFcbAll(FileDescriptor* fd, DrvFcbHead** out) {
  DrvFcbHead* fcb = nullptr;
  int err = 0;
  try {
    err = CreateFcb(fd, &fcb);
  } catch (const AbortError& a) {
    err = a.code;
  } catch (const std::bad_alloc&) {
    err = 8;
  }
  if (err != 0) {
    if (fcb) {
      UnlinkBlocks(fcb, fd);
      DeleteFcb(fcb);
    }
    fd->drv_fcb = nullptr;
    return err;
  }
  fd->drv_fcb = fcb;
  ProcessDriverString(fcb);
  ActivateDriver(fd, 0);
  *out = fcb;
  return 0;
}

void DriverBase::ReadTraceSettings(DrvFcbHead* fcb) {
  const char* section = TraceSection();
  fcb->trace_on = GetProfileInt("", section, "Profile", 0) != 0;
  if (!fcb->trace_on) return;
  std::string file = GetProfileString("", section, "TraceFile", "");
  if (file.size() > 260) file.resize(260);
  fcb->trace_file = file.empty() ? DefaultTraceFile() : file;
  bool details = GetProfileInt("", section, "Details", 0) != 0;
  if (details && (fcb->attributes & kFcbScrambled)) {
    // Scrambled records go into the trace only when the driver string allows.
    details = false;
    size_t pos = 0;
    std::string opt, name, value;
    bool has_value = false;
    while (NextDrvStr(fcb->driver_string, &pos, &opt)) {
      SplitOption(opt, &name, &value, &has_value);
      if (name == "ALLOWDETAILS") details = true;
    }
  }
  fcb->trace_details = details;
}

void DriverBase::ProcessDriverString(DrvFcbHead* fcb) {
  size_t pos = 0;
  std::string opt, name, value, answer;
  bool has_value = false;
  while (NextDrvStr(fcb->driver_string, &pos, &opt)) {
    SplitOption(opt, &name, &value, &has_value);
    try {
      Option(fcb, name, value, has_value, false, &answer);
    } catch (const AbortError&) {
      // An option of the declaration that cannot apply now is ignored.
    }
  }
}

// A restore position left by RESTORESTATE: the file goes back to the saved
// record so that NEXT, PREVIOUS or SKIP continue after it.
void DriverBase::RestorePosition(DrvFcbHead* fcb, int32_t op) {
  std::string pos = std::move(fcb->restore_position);
  fcb->restore_position.clear();
  FileDescriptor* fd = fcb->fd;
  KeyDecl* key = fcb->current_key ? fcb->current_key->decl : nullptr;
  auto reset = [&] {
    if (key)
      CallFileVerb(fd, kOpResetKey, key, {}, {pos});
    else
      CallFileVerb(fd, kOpResetFile, nullptr, {}, {pos});
  };
  reset();
  CallFileVerb(fd, op == kOpNext ? kOpNext : kOpPrevious, nullptr);
  if (ErrorCode() != 0) {
    reset();
  } else {
    std::string now;
    if (key)
      CallFileVerb(fd, kOpPositionKey, key, {}, {}, &now);
    else
      CallFileVerb(fd, kOpPosition, nullptr, {}, {}, &now);
    if (now != pos) reset();
  }
  ClearError();
}

void DriverBase::RefreshNames(DrvFcbHead* fcb, FileDescriptor* fd) {
  auto refresh = [](std::string* dst, const StrDesc& d, uint32_t fixed, uint32_t bit) {
    if (fixed & bit) return;
    std::string s = MakeCString(d.addr, d.len);
    if (!s.empty()) *dst = std::move(s);
  };
  refresh(&fcb->name, fd->name, fcb->fixed_names, 1);
  refresh(&fcb->owner, fd->owner, fcb->fixed_names, 2);
  refresh(&fcb->driver_string, fd->driver_string, fcb->fixed_names, 4);
  CompleteName(fcb);
}

static bool RefreshesName(int32_t op) {
  switch (op) {
    case kOpBuildFile:
    case kOpCopy:
    case kOpCreate:
    case kOpEmpty:
    case kOpName:
    case kOpRemove:
    case kOpRename:
    case kOpShare:
    case kOpBytes:
    case kOpSend:
    case kOpGetProperty:
    case kOpOpen:
    case kOpPack:
      return true;
    default:
      return false;
  }
}

int DriverBase::Send(OpContext& ctx, bool* free_after) {
  const std::string& msg = ctx.text[0];
  if (msg == "REGISTER") {
    ctx.result = reinterpret_cast<intptr_t>(&Reg());
    ctx.text_result = std::to_string(ctx.result);
    if (!(ctx.fcb->state & kStateOpen)) *free_after = true;
    return 0;
  }
  if (msg.empty()) return 0;
  int error = 0;
  if (SendText(ctx, &error)) return error;
  std::string name, value;
  bool has_value = false;
  SplitOption(msg, &name, &value, &has_value);
  return Option(ctx.fcb, name, value, has_value, true, &ctx.text_result);
}

// LOCK(file) retries while the file is locked by another program; LOCK(file,
// seconds) retries on any error until the clock has run on by the seconds.
int DriverBase::LockLoop(OpContext& ctx) {
  Env* env = GetEnv();
  if (ctx.op == kOpLock) {
    for (;;) {
      int err = Run(ctx);
      if (err != 32) return err;
      env->Delay(1000);
    }
  }
  const int64_t limit = int64_t(ctx.Word(0)) * 100;
  const int32_t start = env->Clock();
  for (;;) {
    int err = Run(ctx);
    if (err == 0) return 0;
    int64_t elapsed = int64_t(env->Clock()) - start;
    if (elapsed < 0) elapsed += 8640000;  // past midnight
    if (elapsed >= limit) return err;
    env->Delay(1000);
  }
}

int DriverBase::Dispatch(OpContext& ctx, bool* free_after) {
  switch (ctx.op) {
    case kOpCurrentKey: {
      ctx.result = 0;
      for (size_t i = 0; i < ctx.fcb->keys.size(); ++i) {
        if (ctx.fcb->keys[i] == ctx.fcb->current_key) ctx.result = intptr_t(i + 1);
      }
      return 0;
    }
    case kOpClear: {
      int fill = int(ctx.Word(0));
      if (ctx.fd->record_type) ClearRecord(*ctx.fd->record_type, ctx.fd->record, fill);
      for (DrvMemoHead* m : ctx.fcb->memos) {
        int mfill = (fill == 0 && (m->flags & kMemoBit1)) ? -1 : fill;
        ClearMemo(m->buffer.get(), m->size, mfill);
      }
      return 0;
    }
    case kOpEntryPoint:
      ctx.result = reinterpret_cast<intptr_t>(Reg().entry);
      return 0;
    case kOpAccepted92:
    case kOpAccepted93:
      return 0;
    case kOpRecordsGreater: {
      OpContext count = ctx;
      count.op = kOpRecords;
      count.result = 0;
      int err = Run(count);
      intptr_t n = err ? 0 : count.result;
      ctx.result = n > ctx.Word(0) ? 1 : 0;
      return 0;
    }
    case kOpFinalClose: {
      OpContext close = ctx;
      close.op = kOpClose;
      int err = (ctx.fcb->state & kStateOpen) ? Run(close) : 0;
      *free_after = true;
      return err;
    }
    case kOpSend:
      return Send(ctx, free_after);
    case kOpLock:
    case kOpLockTimeout:
      if (!Implements(ctx.op)) return kErrNotImplemented;
      return LockLoop(ctx);
    case kOpSetProperty:
    case kOpGetProperty:
    case kOpSetKeyProperty:
    case kOpGetKeyProperty:
      return Properties(ctx);
    case kOpSaveState:
      return SaveState(ctx);
    case kOpRestoreState:
      return RestoreState(ctx);
    case kOpFreeState:
      return FreeState(ctx);
    case kOpRunDeferred:
      return RunDeferred(ctx);
    default:
      if (!Implements(ctx.op)) return kErrNotImplemented;
      if (DeferBuild(ctx)) return 0;
      // Refusals common to every driver.
      if ((ctx.op == kOpOpen || ctx.op == kOpShare) && ctx.fcb->name.empty()) return 45;
      if ((ctx.op == kOpOpen || ctx.op == kOpShare) && !(ctx.fd->flags & kDescRemoteTarget) &&
          RemoteBindingsExist())
        return 90;
      if (ctx.op == kOpCreate && !(ctx.fcb->attributes & kFcbCreate)) return 54;
      if (ctx.op == kOpBuildIndex && ctx.text[0].find_first_not_of(' ') == std::string::npos)
        return 76;
      return Run(ctx);
  }
}

// What RESTORESTATE issues again: the key and pointer of the last SET and
// the text of the last RESET.
void DriverBase::NoteSequence(OpContext& ctx) {
  DrvFcbHead* f = ctx.fcb;
  switch (ctx.op) {
    case kOpSetFile:
      f->last_set_key = nullptr;
      break;
    case kOpSetFilePointer:
      f->last_set_key = nullptr;
      f->last_set_pointer = int32_t(ctx.Word(0));
      break;
    case kOpSetFileKey:
    case kOpSetKey:
    case kOpSetKeyKey:
      f->last_set_key = ctx.kcb;
      break;
    case kOpSetKeyPointer:
    case kOpSetKeyKeyPointer:
      f->last_set_key = ctx.kcb;
      f->last_set_pointer = int32_t(ctx.Word(0));
      break;
    case kOpResetFile:
    case kOpResetKey:
      f->reset_text = ctx.text[0];
      break;
    default:
      break;
  }
}

// The position of the record just read, by the current key or in record
// order, asked of the driver directly (no bookkeeping of its own). Whatever
// the question takes (a shared file's header lock) is given up by the
// caller's after-operation hook.
std::string DriverBase::CurrentPosition(OpContext& outer) {
  OpContext pos;
  pos.fd = outer.fd;
  pos.fcb = outer.fcb;
  pos.kcb = outer.fcb->current_key;
  pos.op = pos.kcb ? kOpPositionKey : kOpPosition;
  int err = 0;
  try {
    err = Run(pos);
  } catch (const AbortError& a) {
    err = a.code;
  }
  return err == 0 ? pos.text_result : std::string();
}

// Operations that leave what the kept position would answer as it is: a
// position still due stays due over them (NEXT and PREVIOUS make a new one
// when they succeed, and leave the current record when they fail).
static bool KeepsDuePosition(int32_t op) {
  switch (op) {
    case kOpNext:
    case kOpPrevious:
    case kOpPosition:
    case kOpPositionKey:
    case kOpPointer:
      return true;
    default:
      return false;
  }
}

// A position left due by NEXT or PREVIOUS is asked now, before an operation
// that could change it.
void DriverBase::KeepDuePosition(OpContext& ctx) {
  DrvFcbHead* f = ctx.fcb;
  f->position_due = false;
  f->last_position = CurrentPosition(ctx);
}

intptr_t DriverBase::Entry(int32_t op, FileDescriptor* fd, intptr_t* words) {
  // 1. The view entry request touches nothing.
  if (op == kOpViewEntry) return ViewEntry();
  if (fd == nullptr) return 0;
  intptr_t no_words[4] = {};
  if (words == nullptr) words = no_words;

  // 2. Files declared per thread.
  ThreadedFileOpen(fd);

  // 3. The recovery point is the try block of step 12: nested operations
  // have their own.

  // 4. Remote binding: a bound file's binding is looked up.
  const OpInfo info = GetOpInfo(op);
  int err = 0;
  intptr_t binding = 0;
  if (fd->flags & kDescRemote) err = LookUpBinding(fd, &binding);

  // 5. The texts of the operation.
  OpContext ctx;
  ctx.op = op;
  ctx.fd = fd;
  for (int i = 0; i < info.texts; ++i) ctx.text[i] = PopTemp();

  // 6. The Drv_FCB, created by the first operation on the file.
  auto* fcb = static_cast<DrvFcbHead*>(fd->drv_fcb);
  bool created = false;
  if (err == 0 && fcb == nullptr) {
    err = CreateFcbAll(fd, &fcb);
    if (err == 0) {
      created = true;
      ReadTraceSettings(fcb);
    }
  }
  if (fcb == nullptr) {
    if (info.text_result) PushString("");
    if (err != 0 && err != -1) {
      SetError(err);
      SetErrorFile(fd);
    }
    if (op == kOpBof || op == kOpEof) return 1;
    return 0;
  }
  ctx.fcb = fcb;

  // 7. The clock for the trace.
  const int64_t start = fcb->trace_on ? GetEnv()->TickCount() : 0;

  // 8. The key of a key operation.
  if (info.key) {
    auto* kd = reinterpret_cast<KeyDecl*>(words[0]);
    ctx.kcb = kd ? static_cast<DrvKcbHead*>(kd->drv_kcb) : nullptr;
    ++words;
    if (ctx.kcb == nullptr && err == 0) err = 75;
  }
  ctx.words = words;

  // The position kept by the last NEXT or PREVIOUS, when still due and
  // this operation could change it (see step 18).
  if (fcb->position_due && !KeepsDuePosition(op)) KeepDuePosition(ctx);

  // 9. A restore position pending from RESTORESTATE.
  if (err == 0 && (op == kOpNext || op == kOpPrevious || op == kOpSkip) &&
      !fcb->restore_position.empty()) {
    RestorePosition(fcb, op);
  }

  // 10. The runtime's state check.
  if (err == 0) err = DrvCheckState(fcb, ctx.kcb, op, ctx.text[0].data(), ctx.text[0].size());

  // 11. Name refresh while the file is closed.
  if (err == 0 && RefreshesName(op) && !(fcb->state & kStateOpen)) RefreshNames(fcb, fd);

  // 12-13. The operation, under the recovery point.
  bool free_after = false;
  if (err == 0) {
    try {
      err = binding ? Forward(ctx, binding, &free_after) : Dispatch(ctx, &free_after);
    } catch (const AbortError& a) {
      err = a.code;
    } catch (const std::bad_alloc&) {
      err = 8;
    }
  }
  // The operation may have replaced or freed the block (a deferred build).
  fcb = static_cast<DrvFcbHead*>(fd->drv_fcb);
  if (fcb && fcb == ctx.fcb && err == 0) NoteSequence(ctx);

  // The position kept by step 18 after NEXT and PREVIOUS is asked while the
  // operation still holds what it took (a shared file's header lock), so
  // that it costs no second lock; step 15 then gives it all up.
  const bool keeps_position = fcb && fcb == ctx.fcb && err == 0 &&
                              (op == kOpNext || op == kOpPrevious) &&
                              (fcb->bookkeeping & kKeepLastOp);
  // A driver that allows it leaves the position due instead: it is asked
  // only when an operation that could change it comes (most walks never
  // save their state, and each NEXT would pay for the question).
  const bool remote = (fd->flags & kDescRemote) != 0;
  const bool lazy_position = keeps_position && !remote && LazyPosition();
  const bool early_position = keeps_position && !remote && !lazy_position;
  std::string position = early_position ? CurrentPosition(ctx) : std::string();

  // 14. Trace.
  if (fcb && fcb->trace_on) {
    DrvTraceOp(fcb, ctx.kcb, Reg().name, op, err, GetEnv()->TickCount() - start);
  }

  // 15. The driver's after-operation hook.
  if (fcb && !(fd->flags & kDescRemote)) {
    int after = 0;
    try {
      after = AfterOp(fcb);
    } catch (const AbortError& a) {
      after = a.code;
    }
    if (err == 0) err = after;
  }

  // 16. State update.
  if (fcb) DrvUpdateState(fcb, ctx.kcb, op, err, created ? 1 : 0);

  // 17. The text result.
  if (info.text_result) PushString(fcb ? ctx.text_result : std::string());

  // 18. Bookkeeping.
  if (fcb) {
    fcb->op_error = uint32_t(err == -1 ? 0 : err);
    if (err == 0 && (fcb->bookkeeping & kKeepClearError)) ClearError();
    if (fcb->bookkeeping & kKeepLastOp) {
      fcb->last_op = uint32_t(op);
      fcb->last_error = uint32_t(err == -1 ? 0 : err);
      if (err == 0 && keeps_position && !early_position && !lazy_position) {
        // Asked outside the bracket (a remote-bound file, whose hook step
        // 15 skips): whatever it took is given up at once.
        position = CurrentPosition(ctx);
        try {
          AfterOp(fcb);
        } catch (const AbortError&) {
        }
      }
      if (err == 0 && keeps_position && !lazy_position) {
        fcb->last_position = std::move(position);
        fcb->position_due = false;
      }
      if (lazy_position) fcb->position_due = true;
    }
    if (fcb->bookkeeping & kKeepLastOp2) fcb->last_op2 = uint32_t(op);
    if (fcb->bookkeeping & kKeepDiscardRestore) fcb->restore_position.clear();
  }

  // 19. Final close (and SEND "REGISTER" on a closed file) frees the block.
  if (fcb && free_after) {
    UnlinkBlocks(fcb, fd);
    DeleteFcb(fcb);
    fd->drv_fcb = nullptr;
    if (op == kOpFinalClose) ThreadedFileClose(fd);
    DeactivateDriver(fd);
  } else if (op == kOpClose) {
    ThreadedFileClose(fd);
    if (fcb) ActivateDriver(fd, 0);
  }
  if (fcb && err == 0 && (op == kOpOpen || op == kOpShare)) ActivateDriver(fd, fcb->open_mode);

  // 20. Post the error; BOF and EOF answer 1 when the test fails.
  if (err != 0 && err != -1) {
    SetError(err);
    SetErrorFile(fd);
    if (op == kOpBof || op == kOpEof) ctx.result = 1;
  }
  // 21. The result.
  if (err == -1 && op == kOpRunDeferred) ctx.result = -1;
  return ctx.result;
}

}  // namespace drv
