// What every driver's skeleton offers besides the data operations:
// properties of a file, its fields, memos and keys; state snapshots
// (SAVESTATE, RESTORESTATE, FREESTATE); deferred builds with progress and
// completion events; and binding a file to a remote service.
//
// Snapshots re-enter the runtime's file verbs (as a program would), so a
// restore runs every step of the skeleton for each verb it issues.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "drivers/common/skeleton.h"
#include "host/runtime/driver_services.h"
#include "host/runtime/env.h"
#include "host/runtime/error_state.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/string_stack.h"

namespace drv {

using namespace nv;

namespace {

std::string YesNo(bool v) {
  return v ? "1" : "";
}
bool Truthy(const std::string& v) {
  return std::atol(v.c_str()) != 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Properties.

int DriverBase::Properties(OpContext& ctx) {
  const bool set = ctx.op == kOpSetProperty || ctx.op == kOpSetKeyProperty;
  // The property number is the last text: the value comes first when setting.
  const std::string& number = set ? ctx.text[1] : ctx.text[0];
  const int32_t property = int32_t(std::atol(number.c_str()));
  const int32_t index = int32_t(ctx.Word(0));
  bool handled = false;
  int err = 0;
  if (DriverProperty(ctx, property, set, &err)) {
    handled = true;
  } else if (ctx.op == kOpSetKeyProperty || ctx.op == kOpGetKeyProperty) {
    err = KeyProperty(ctx, property, set, &handled);
  } else if (index > 0) {
    err = FieldProperty(ctx, property, index, set, &handled);
  } else if (index < 0) {
    err = MemoProperty(ctx, property, -index, set, &handled);
  } else {
    err = FileProperty(ctx, property, set, &handled);
  }
  // The result tells the runtime whether the driver handled the property;
  // one it does not know is left to the runtime, element unchanged.
  ctx.result = handled ? 1 : 0;
  return err;
}

int DriverBase::FileProperty(OpContext& ctx, int32_t p, bool set, bool* handled) {
  DrvFcbHead* f = ctx.fcb;
  const std::string& v = ctx.text[0];
  std::string& out = ctx.text_result;
  *handled = true;
  auto attr_bit = [&](uint8_t bit, bool settable) {
    if (!set)
      out = YesNo(f->attributes & bit);
    else if (settable)
      f->attributes = Truthy(v) ? (f->attributes | bit) : (f->attributes & ~bit);
  };
  switch (p) {
    case 29440: {
      DrvKcbHead* k = (f->state & kStateDeferredRunning) ? f->deferred_key : f->current_key;
      if (!set) out = std::to_string(k ? reinterpret_cast<intptr_t>(k->decl) : 0);
      return 0;
    }
    case 29441:
      if (!(f->state & kStateOpen)) return 37;
      if (!set) {
        out = std::to_string(LogoutNumberOf(f->fd));
      } else {
        long n = std::atol(v.c_str());
        out = std::to_string(n >= 0 ? AddLogoutFile(f->fd) : DeleteLogoutFile(f->fd));
      }
      return 0;
    case 29442:
      if (set) {
        if (f->trace_file.empty()) f->trace_file = DefaultTraceFile();
        return DrvTraceLine(f, v);
      }
      return 0;
    case 29443:
      if (!set) {
        out = f->trace_on ? f->trace_file : "";
      } else {
        f->trace_handle = -1;
        f->trace_on = !v.empty();
        f->trace_file = v;
      }
      return 0;
    case 29444:
      if (!set) out = YesNo(f->state & kStateWatching);
      return 0;
    case 29445:
      if (!set) out = YesNo(f->state & kStateHeld);
      return 0;
    case 29446:
      if (!set) {
        out = YesNo(f->state & kStateDeferredRunning);
      } else {
        long n = std::atol(v.c_str());
        if (n == 0) {
          f->state &= ~kStateDeferNext;
        } else {
          f->state ^= kStateDeferNext;
          long clamped = std::clamp(n < 0 ? 1L : n, 1L, 100L);
          f->progress_step = int16_t(101 - clamped);
        }
      }
      return 0;
    case 29447:
      if (!set) out = std::to_string((f->state & kStateDeferredRunning) ? f->progress_value : 0);
      return 0;
    case 29453:
      if (!set) out = ctx.text[0];
      return 0;
    case 29455:
      if (!set) out = std::to_string(f->keys.size());
      return 0;
    case 29456:
    case 29457: {
      size_t binary = 0;
      for (DrvMemoHead* m : f->memos) binary += (m->flags & kMemoBinary) ? 1 : 0;
      if (!set)
        out = std::to_string(p == 29456 ? int64_t(binary)
                                        : int64_t(f->keys.size()) - int64_t(binary));
      return 0;
    }
    case 29458:
      if (!set) out = std::to_string(f->fields.size());
      return 0;
    case 29459:
      attr_bit(kFcbScrambled, true);
      return 0;
    case 29460:
      if (!set)
        out = f->driver_string;
      else
        f->driver_string = v, f->fixed_names |= 4;
      return 0;
    case 29461:
      if (!set)
        out = f->owner;
      else
        f->owner = v, f->fixed_names |= 2;
      return 0;
    case 29462:
      if (!set) {
        out = f->name;
      } else {
        f->name = v;
        f->fixed_names |= 1;
        CompleteName(f);
      }
      return 0;
    case 29463:
      if (!set) out = f->full_name;
      return 0;
    case 29464:
      attr_bit(kFcbOem, true);
      return 0;
    case 29465:
      attr_bit(kFcbReclaim, false);
      return 0;
    case 29481:
      if (!set)
        out = YesNo(f->trace_details);
      else
        f->trace_details = Truthy(v);
      return 0;
    case 29508:
      if (!set) out = YesNo(KeyStateBit22(f));
      return 0;
    case 29510:
      if (!set) {
        out = f->remote_binding;
        return 0;
      }
      return Bind(ctx, v);
    case 29511: {
      if (set) return 0;
      OpContext bytes;
      bytes.op = kOpBytes;
      bytes.fd = ctx.fd;
      bytes.fcb = f;
      int err = (f->state & kStateOpen) ? Run(bytes) : 0;
      out = std::to_string(err ? 0 : bytes.result);
      f->bookkeeping |= kKeepClearError;
      return err;
    }
    case 29515:
      if (!set) {
        out = std::to_string(reinterpret_cast<intptr_t>(f->record)) + ":" +
              std::to_string(f->record_length) + ":" + std::to_string(ctx.fd->record_length);
      }
      return 0;
    case 31893:
      attr_bit(kFcbThreaded, false);
      return 0;
    case 31942:
      attr_bit(kFcbCreate, false);
      return 0;
    default:
      *handled = false;
      return 0;
  }
}

int DriverBase::FieldProperty(OpContext& ctx, int32_t p, int32_t n, bool set, bool* handled) {
  DrvFcbHead* f = ctx.fcb;
  std::string& out = ctx.text_result;
  *handled = false;
  if (p == 31851) {  // the n-th key declaration, asked with a file index n
    *handled = true;
    if (!set) {
      out = std::to_string(size_t(n) <= f->keys.size()
                               ? reinterpret_cast<intptr_t>(f->keys[size_t(n - 1)]->decl)
                               : 0);
    }
    return 0;
  }
  if (size_t(n) > f->fields.size()) return 0;
  DrvFieldHead* fld = f->fields[size_t(n - 1)];
  const FieldDesc& d = *fld->desc;
  *handled = true;
  switch (p) {
    case 29458:
      if (!set) out = std::to_string(d.type == kTypeGroup ? d.span : 1);
      return 0;
    case 29462:
      if (!set)
        out = fld->name == d.label ? "" : fld->name;
      else
        fld->name = ctx.text[0].empty() ? d.label : ctx.text[0];
      return 0;
    case 29463:
      if (!set) out = d.label;
      return 0;
    case 29474:
      if (!set)
        out = std::to_string(d.type == kTypeDecimal || d.type == kTypePDecimal ? d.places : 0);
      return 0;
    case 29475:
      if (!set) out = std::to_string(d.ndims > 0 ? d.Elements() : 0);
      return 0;
    case 29476:
      if (!set) out = std::to_string(fld->group);
      return 0;
    case 31745:
      if (!set) out = TypeName(d.type);
      return 0;
    case 31929:
      if (!set) out = std::to_string(d.size);
      return 0;
    default:
      *handled = false;
      return 0;
  }
}

int DriverBase::MemoProperty(OpContext& ctx, int32_t p, int32_t n, bool set, bool* handled) {
  DrvFcbHead* f = ctx.fcb;
  std::string& out = ctx.text_result;
  *handled = false;
  if (size_t(n) > f->memos.size()) return 0;
  DrvMemoHead* m = f->memos[size_t(n - 1)];
  *handled = true;
  switch (p) {
    case 29462:
      if (!set) out = m->external_name;
      return 0;
    case 29463:
      if (!set) out = m->name;
      return 0;
    case 29473:
      if (!set) out = YesNo(m->flags & kMemoBit1);
      return 0;
    case 31929:
      if (m->flags & kMemoBinary) {
        *handled = false;
        return 0;
      }
      if (!set) out = std::to_string(m->size);
      return 0;
    case 31935:
    case 31744:
      if (!set) {
        out.assign(m->buffer.get(), m->size);
        out.resize(Clip(out).size());
      } else {
        size_t len = std::min<size_t>(ctx.text[0].size(), m->size);
        std::memcpy(m->buffer.get(), ctx.text[0].data(), len);
        std::memset(m->buffer.get() + len, ' ', m->size - len);
      }
      return 0;
    default:
      *handled = false;
      return 0;
  }
}

int DriverBase::KeyProperty(OpContext& ctx, int32_t p, bool set, bool* handled) {
  DrvKcbHead* k = ctx.kcb;
  std::string& out = ctx.text_result;
  const int32_t c = int32_t(ctx.Word(0));  // component, 1-based
  *handled = true;
  if (set) return 0;  // key properties are read-only here
  const bool component_ok = c >= 1 && size_t(c) <= k->components.size();
  switch (p) {
    case 29462:
      out = k->external_name;
      return 0;
    case 29463:
      out = k->name;
      return 0;
    case 29466:
      out = std::to_string(k->components.size());
      return 0;
    case 29467:
      out = YesNo(k->attributes & ((1u << 0) | (1u << 5)));
      return 0;
    case 29468:
      out = YesNo(k->attributes & (1u << 1));
      return 0;
    case 29469:
      out = YesNo(k->attributes & (1u << 2));
      return 0;
    case 29470:
      out = YesNo(k->attributes & (1u << 4));
      return 0;
    case 29471:
      out = component_ok ? std::to_string(k->components[size_t(c - 1)].field->number) : "0";
      return 0;
    case 29472:
      out = YesNo(component_ok && !k->components[size_t(c - 1)].descending);
      return 0;
    case 31745:
      out = (k->attributes & (1u << 5)) ? "INDEX" : "KEY";
      return 0;
    default:
      *handled = false;
      return 0;
  }
}

// ---------------------------------------------------------------------------
// State snapshots.

namespace {

struct Snapshot {
  ErrorState error;
  FileDescriptor* fd = nullptr;
  uint32_t open_mode = 0;
  uint32_t state = 0;
  uint32_t last_op = 0;
  uint32_t last_error = 0;
  KeyDecl* key = nullptr;  // key of the current sequence, nullptr for record order
  uint32_t last_op2 = 0;
  int32_t hold_timeout = -1;
  KeyDecl* set_key = nullptr;
  int32_t set_pointer = 0;
  std::string reset_text;
  std::string file_position;  // POSITION(file), unless the last operation was a read in order
  std::string position;       // after NEXT, PREVIOUS or SKIP
};

// Handles are the snapshots' addresses; only live ones are accepted.
std::mutex g_snap_mu;
std::map<intptr_t, Snapshot*>& Snapshots() {
  static auto* m = new std::map<intptr_t, Snapshot*>;
  return *m;
}

bool IsSequential(uint32_t op) {
  return op == kOpNext || op == kOpPrevious || op == kOpSkip;
}

}  // namespace

int DriverBase::SaveState(OpContext& ctx) {
  DrvFcbHead* f = ctx.fcb;
  auto* s = new Snapshot;
  s->error = SaveErrorState();
  s->fd = ctx.fd;
  s->open_mode = f->open_mode;
  s->state = f->state;
  s->last_op = f->last_op;
  s->last_error = f->last_error;
  s->key = f->current_key ? f->current_key->decl : nullptr;
  s->last_op2 = f->last_op2;
  s->hold_timeout = f->hold_timeout;
  s->set_key = f->last_set_key ? f->last_set_key->decl : nullptr;
  s->set_pointer = f->last_set_pointer;
  s->reset_text = f->reset_text;
  if ((f->state & kStateOpen) && s->last_op2 != 0 && !IsSequential(s->last_op2)) {
    CallFileVerb(ctx.fd, kOpPosition, nullptr, {}, {}, &s->file_position);
  }
  if (s->last_op == kOpNext || s->last_op == kOpPrevious) {
    s->position = f->last_position;
  } else if (s->last_op == kOpSkip && (f->state & kStateOpen)) {
    if (s->key)
      CallFileVerb(ctx.fd, kOpPositionKey, s->key, {}, {}, &s->position);
    else
      CallFileVerb(ctx.fd, kOpPosition, nullptr, {}, {}, &s->position);
  }
  RestoreErrorState(s->error);
  ctx.result = reinterpret_cast<intptr_t>(s);
  std::lock_guard<std::mutex> lock(g_snap_mu);
  Snapshots()[ctx.result] = s;
  return 0;
}

int DriverBase::RestoreState(OpContext& ctx) {
  const intptr_t handle = ctx.Word(0);
  if (handle == 0) return 78;
  Snapshot* s = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_snap_mu);
    auto it = Snapshots().find(handle);
    if (it != Snapshots().end()) s = it->second;
  }
  if (s == nullptr) return 78;
  // 1. The error state; a snapshot of another file is refused.
  RestoreErrorState(s->error);
  if (s->fd != ctx.fd) return 47;
  FileDescriptor* fd = ctx.fd;
  DrvFcbHead* f = ctx.fcb;
  // 2. Open or closed as it was.
  const bool was_open = (s->state & kStateOpen) != 0;
  if (!was_open) {
    if (f->state & kStateOpen) CallFileVerb(fd, kOpClose);
    RestoreErrorState(s->error);
    return 0;
  }
  if (!(f->state & kStateOpen)) {
    CallFileVerb(fd, kOpOpen, nullptr, {intptr_t(s->open_mode)});
    if (ErrorCode() != 0) return ErrorCode();
  }
  f = static_cast<DrvFcbHead*>(fd->drv_fcb);
  // 3. Streaming and the file lock.
  if (s->state & kStateStreaming) CallFileVerb(fd, kOpStream);
  if (s->state & kStateLocked) CallFileVerb(fd, kOpLock);
  int err = 0;
  // 4. The current record, read again.
  if (s->last_op2 != 0) {
    if (s->state & kStateWatching) CallFileVerb(fd, kOpWatch);
    if (s->state & kStateHeld) CallFileVerb(fd, kOpHold);
    if (IsSequential(s->last_op2)) {
      if (s->key)
        CallFileVerb(fd, kOpResetKey, s->key, {}, {s->position});
      else
        CallFileVerb(fd, kOpResetFile, nullptr, {}, {s->position});
      CallFileVerb(fd, s->last_op2 == kOpPrevious ? kOpPrevious : kOpNext);
      if (ErrorCode() == 0) {
        std::string now;
        if (s->key)
          CallFileVerb(fd, kOpPositionKey, s->key, {}, {}, &now);
        else
          CallFileVerb(fd, kOpPosition, nullptr, {}, {}, &now);
        if (now != s->position) err = 35;
      }
    } else if (!s->file_position.empty()) {
      CallFileVerb(fd, kOpRegetFile, nullptr, {}, {s->file_position});
    }
  }
  // 5. The sequence, as the last operation left it.
  f = static_cast<DrvFcbHead*>(fd->drv_fcb);
  switch (s->last_op) {
    case kOpNext:
    case kOpPrevious:
    case kOpSkip:
      if (f) {
        f->restore_position = s->position;
        f->current_key = s->key ? static_cast<DrvKcbHead*>(s->key->drv_kcb) : nullptr;
      }
      break;
    case kOpSetFile:
      CallFileVerb(fd, kOpSetFile);
      break;
    case kOpSetFileKey:
      CallFileVerb(fd, kOpSetFileKey, s->set_key);
      break;
    case kOpSetFilePointer:
      CallFileVerb(fd, kOpSetFilePointer, nullptr, {s->set_pointer});
      break;
    case kOpSetKey:
      CallFileVerb(fd, kOpSetKey, s->set_key);
      break;
    case kOpSetKeyKey:
      CallFileVerb(fd, kOpSetKeyKey, s->set_key);
      break;
    case kOpSetKeyPointer:
      CallFileVerb(fd, kOpSetKeyPointer, s->set_key, {s->set_pointer});
      break;
    case kOpSetKeyKeyPointer:
      CallFileVerb(fd, kOpSetKeyKeyPointer, s->set_key, {s->set_pointer});
      break;
    case kOpResetFile:
      CallFileVerb(fd, kOpResetFile, nullptr, {}, {s->reset_text});
      break;
    case kOpResetKey:
      CallFileVerb(fd, kOpResetKey, s->key, {}, {s->reset_text});
      break;
    default:
      break;
  }
  // 6. Requests pending for the next read.
  if (s->state & kStateWatchRequested) CallFileVerb(fd, kOpWatch);
  if (s->state & kStateHoldRequested) CallFileVerb(fd, kOpHoldTimeout, nullptr, {s->hold_timeout});
  RestoreErrorState(s->error);
  return err;
}

int DriverBase::FreeState(OpContext& ctx) {
  const intptr_t handle = ctx.Word(0);
  if (handle == 0) return 0;
  std::lock_guard<std::mutex> lock(g_snap_mu);
  auto it = Snapshots().find(handle);
  if (it != Snapshots().end()) {
    delete it->second;
    Snapshots().erase(it);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Deferred builds.

bool DriverBase::DeferBuild(OpContext& ctx) {
  const int32_t op = ctx.op;
  if (op != kOpBuildFile && op != kOpBuildIndex && op != kOpBuildKey && op != kOpPack) return false;
  DrvFcbHead* f = ctx.fcb;
  if (!(f->state & kStateDeferNext) || (f->state & kStateDeferredRunning)) return false;
  f->state &= ~kStateDeferNext;
  f->deferred_op = uint32_t(op);
  f->deferred_key = ctx.kcb;
  f->deferred_text = ctx.text[0];
  PostWindowMessage(kMsgDeferredBuild, 0, reinterpret_cast<intptr_t>(ctx.fd));
  return true;
}

int DriverBase::RunDeferred(OpContext& ctx) {
  DrvFcbHead* f = ctx.fcb;
  if (f->deferred_op == 0) return 0;
  OpContext build;
  build.op = int32_t(f->deferred_op);
  build.fd = ctx.fd;
  build.fcb = f;
  build.kcb = f->deferred_key;
  build.text[0] = f->deferred_text;
  build.words = ctx.words;
  f->deferred_op = 0;
  f->state |= kStateDeferredRunning;
  // -1 until the build starts reading the records (BuildProgress with 0).
  f->progress_value = -1;
  int err = 0;
  try {
    err = Run(build);
  } catch (const AbortError& a) {
    err = a.code;
  }
  // The operation may have freed the block: take it anew from the descriptor.
  f = static_cast<DrvFcbHead*>(ctx.fd->drv_fcb);
  const bool started = err == 0 || err == -1 || (f != nullptr && f->progress_value >= 0);
  if (f == nullptr) {
    // Made as the first operation on a file makes it: driver string options
    // and activation included.
    DrvFcbHead* fresh = nullptr;
    if (CreateFcbAll(ctx.fd, &fresh) == 0) ReadTraceSettings(fresh);
    f = fresh;
  }
  if (f) {
    f->state &= ~kStateDeferredRunning;
    f->progress_value = 0;
    f->deferred_text.clear();
    f->deferred_key = nullptr;
    ctx.fcb = f;
  }
  if (err == -1) return -1;  // the program closed the file during a progress event
  if (err != 0 && err != -1) {
    SetError(err);
    SetErrorFile(ctx.fd);
  }
  int answer = DoEvent(kEventBuildDone, 1, started ? 512 : 0, err);
  if (answer != 0 && err == 0) err = 93;
  return err;
}

int DriverBase::BuildProgress(DrvFcbHead* f, uint64_t done, uint64_t total) {
  if (!(f->state & kStateDeferredRunning)) return 0;
  if (done == 0) {
    f->progress_value = 0;  // the build has started
    return 0;
  }
  if (f->progress_step <= 0) return 0;
  const uint64_t n = uint64_t(101 - std::clamp<int>(f->progress_step, 1, 100));
  uint64_t k = std::clamp<uint64_t>(total / (n ? n : 1), 100, 10000);
  if (done == 0 || done % k != 0) return 0;
  f->progress_value = int16_t(std::max<uint64_t>(1, total ? done * 100 / total : 100));
  const uint32_t saved = f->state;
  f->state |= kStateOpen;
  FileDescriptor* fd = f->fd;
  int answer = DoEvent(kEventBuildProgress, 0);
  auto* now = static_cast<DrvFcbHead*>(fd->drv_fcb);
  if (now != f || !(now->state & kStateOpen)) return -1;
  f->state = (f->state & ~kStateOpen) | (saved & kStateOpen);
  return answer != 0 ? 93 : 0;
}

// ---------------------------------------------------------------------------
// Remote binding. The table is this driver's own, process-wide.

namespace {

struct Binding {
  std::string text;
  std::string driver;
  intptr_t handle = 0;
};
std::mutex g_bind_mu;
std::map<std::pair<FileDescriptor*, std::thread::id>, Binding>& BindingTable() {
  static auto* t = new std::map<std::pair<FileDescriptor*, std::thread::id>, Binding>;
  return *t;
}

std::pair<FileDescriptor*, std::thread::id> BindingKey(FileDescriptor* fd) {
  return {fd, (fd->attributes & kFileThreaded) ? std::this_thread::get_id() : std::thread::id()};
}

bool AnyBinding() {
  std::lock_guard<std::mutex> lock(g_bind_mu);
  return !BindingTable().empty();
}

}  // namespace

int DriverBase::Bind(OpContext& ctx, const std::string& text) {
  FileDescriptor* fd = ctx.fd;
  const bool bound = (fd->flags & kDescRemote) != 0;
  auto key = BindingKey(fd);
  if (!text.empty() && bound) return 96;
  if (text.empty()) {
    if (!bound) return 0;
    intptr_t handle = 0;
    {
      std::lock_guard<std::mutex> lock(g_bind_mu);
      auto it = BindingTable().find(key);
      if (it != BindingTable().end()) {
        handle = it->second.handle;
        BindingTable().erase(it);
      }
    }
    if (handle) GetRemoteService()->DestroyRemoteFile(handle);
    fd->flags &= uint8_t(~kDescRemote);
    ctx.fcb->remote_binding.clear();
    return 0;
  }
  {
    std::lock_guard<std::mutex> lock(g_bind_mu);
    BindingTable()[key] = Binding{text, Reg().name, 0};
  }
  RemoteService* service = GetRemoteService();
  intptr_t handle = 0;
  int err = service->FindRemoteDriver(Reg().name);
  if (err == 0) err = service->FindRemoteFile(Reg().name, text, fd, &handle);
  std::lock_guard<std::mutex> lock(g_bind_mu);
  if (err != 0) {
    BindingTable().erase(key);
    return err;
  }
  BindingTable()[key].handle = handle;
  fd->flags |= kDescRemote;
  ctx.fcb->remote_binding = text;
  return 0;
}

int DriverBase::LookUpBinding(FileDescriptor* fd, intptr_t* handle) {
  std::lock_guard<std::mutex> lock(g_bind_mu);
  auto it = BindingTable().find(BindingKey(fd));
  if (it == BindingTable().end() || it->second.handle == 0) return kErrNotImplemented;
  *handle = it->second.handle;
  return 0;
}

int DriverBase::Forward(OpContext& ctx, intptr_t handle, bool* free_after) {
  switch (ctx.op) {
    case kOpSetProperty:
      if (std::atol(ctx.text[1].c_str()) == 29510) return Dispatch(ctx, free_after);
      [[fallthrough]];
    case kOpOpen:
    case kOpShare:
    case kOpClose:
    case kOpCreate:
    case kOpNext:
    case kOpPrevious:
    case kOpSetFile:
    case kOpSetKey:
    case kOpSetKeyKey:
    case kOpPosition:
    case kOpPositionKey:
    case kOpResetFile:
    case kOpResetKey:
    case kOpSend: {
      intptr_t words[4] = {ctx.Word(0), ctx.Word(1), 0, 0};
      intptr_t key_words[5] = {reinterpret_cast<intptr_t>(ctx.kcb ? ctx.kcb->decl : nullptr),
                               ctx.Word(0), ctx.Word(1), 0, 0};
      const OpInfo info = GetOpInfo(ctx.op);
      uint32_t state = ctx.fcb->state;
      int err =
          GetRemoteService()->CallRemoteFile(handle, ctx.op, info.key ? key_words : words, ctx.text,
                                             info.texts, &ctx.result, &ctx.text_result, &state);
      if (ctx.op == kOpSetProperty) ctx.fcb->state = state;
      return err;
    }
    case kOpAdd:
    case kOpBuildFile:
    case kOpBuildIndex:
    case kOpBuildKey:
    case kOpCopy:
    case kOpDelete:
    case kOpHold:
    case kOpHoldTimeout:
    case kOpPack:
    case kOpFlush:
    case kOpPut:
    case kOpRecords:
    case kOpRelease:
    case kOpRemove:
    case kOpStream:
      return kErrNotImplemented;
    default:
      return Dispatch(ctx, free_after);
  }
}

// OPEN and SHARE of a file that is not bound are refused while any binding
// exists in the process.
bool RemoteBindingsExist() {
  return AnyBinding();
}

}  // namespace drv
