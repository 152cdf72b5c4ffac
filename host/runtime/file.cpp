// The runtime's file verbs: each verb becomes one call of the driver's entry
// function with the operation code, its argument words and its texts.
#include "host/runtime/file.h"

#include <algorithm>
#include <cstring>

#include "host/runtime/driver_services.h"
#include "host/runtime/driver_table.h"
#include "host/runtime/error_state.h"
#include "host/runtime/string_stack.h"

namespace nv {

File::File(FileDecl decl) : decl_(std::move(decl)) {
  if (!decl_.record) RuntimeError(0, "Declaración sin registro: " + decl_.label);
  record_.assign(decl_.record->length, 0);
  ClearRecord(*decl_.record, record_.data(), 0);
  name_ = decl_.name;
  owner_ = decl_.owner;
  driver_string_ = decl_.driver_string;
  BuildDescriptor();
}

File::~File() {
  if (fd_.drv_fcb != nullptr && driver_ != nullptr) Call(kOpFinalClose);
  // A file gone from memory takes no part in the logout any more (a later
  // file at the same address must not inherit its membership).
  DeleteLogoutFile(&fd_);
}

void File::BuildDescriptor() {
  const RecordType& rt = *decl_.record;
  keys_.resize(decl_.keys.size());
  key_names_.resize(decl_.keys.size());
  key_externals_.resize(decl_.keys.size());
  key_components_.resize(decl_.keys.size());
  for (size_t i = 0; i < decl_.keys.size(); ++i) {
    const KeyDef& k = decl_.keys[i];
    key_names_[i] = k.label;
    key_externals_[i] = k.external;
    for (const std::string& c : k.components) {
      bool desc = !c.empty() && c[0] == '-';
      std::string label = (!c.empty() && (c[0] == '-' || c[0] == '+')) ? c.substr(1) : c;
      int n = rt.FindField(label);
      if (n == 0) RuntimeError(0, "La clave " + k.label + " nombra un campo inexistente: " + label);
      key_components_[i].push_back(desc ? ~n : n);
    }
    KeyDecl& kd = keys_[i];
    kd.external_name = {key_externals_[i].c_str(), kLenCString};
    kd.name = {key_names_[i].c_str(), kLenCString};
    kd.drv_kcb = nullptr;
    kd.attributes = k.attributes;
    kd.component_count = uint8_t(key_components_[i].size());
    kd.components = key_components_[i].data();
  }
  for (KeyDecl& kd : keys_) keys_ptrs_.push_back(&kd);

  memos_.resize(decl_.memos.size());
  memo_names_.resize(decl_.memos.size());
  memo_externals_.resize(decl_.memos.size());
  for (size_t i = 0; i < decl_.memos.size(); ++i) {
    const MemoDef& m = decl_.memos[i];
    memo_names_[i] = m.label;
    memo_externals_[i] = m.external;
    MemoDecl& md = memos_[i];
    md.external_name = {memo_externals_[i].c_str(), kLenCString};
    md.name = {memo_names_[i].c_str(), kLenCString};
    md.buffer = nullptr;
    md.drv_memo = nullptr;
    md.size = m.size;
    md.flags = m.flags;
  }
  for (MemoDecl& md : memos_) memos_ptrs_.push_back(&md);

  fd_.header = 0;
  fd_.name = {name_.c_str(), kLenCString};
  fd_.driver_string = {driver_string_.c_str(), kLenCString};
  fd_.owner = {owner_.c_str(), kLenCString};
  fd_.attributes = decl_.attributes;
  fd_.key_count = uint8_t(keys_.size());
  fd_.memo_count = uint8_t(memos_.size());
  fd_.record_length = rt.length;
  fd_.record_type = &rt;
  fd_.keys = keys_ptrs_.empty() ? nullptr : keys_ptrs_.data();
  fd_.memos = memos_ptrs_.empty() ? nullptr : memos_ptrs_.data();
  fd_.record = record_.data();
  fd_.drv_fcb = nullptr;
  fd_.flags = 0;
  fd_.runtime_file = this;
}

KeyDecl* File::key(std::string_view label) {
  for (size_t i = 0; i < key_names_.size(); ++i) {
    const std::string& n = key_names_[i];
    if (n.size() == label.size() &&
        std::equal(n.begin(), n.end(), label.begin(), [](char a, char b) {
          return std::toupper(static_cast<unsigned char>(a)) ==
                 std::toupper(static_cast<unsigned char>(b));
        }))
      return keys_ptrs_[i];
  }
  return nullptr;
}

std::string File::MemoText(int i) const {
  const MemoDecl& m = memos_.at(size_t(i));
  if (m.buffer == nullptr) return {};
  return std::string(m.buffer, m.size);
}

void File::SetMemoText(int i, std::string_view text) {
  MemoDecl& m = memos_.at(size_t(i));
  if (m.buffer == nullptr) return;
  size_t n = std::min<size_t>(text.size(), m.size);
  std::memcpy(m.buffer, text.data(), n);
  std::memset(m.buffer + n, ' ', m.size - n);
}

void File::SetName(std::string_view name) {
  name_ = std::string(name);
  fd_.name = {name_.c_str(), kLenCString};
}

void File::SetOwner(std::string_view owner) {
  owner_ = std::string(owner);
  fd_.owner = {owner_.c_str(), kLenCString};
}

void File::SetDriverString(std::string_view s) {
  driver_string_ = std::string(s);
  fd_.driver_string = {driver_string_.c_str(), kLenCString};
}

Driver* File::driver() {
  if (driver_ != nullptr) return driver_;
  std::string error;
  driver_ = FindDriver(decl_.driver, &error);
  if (driver_ == nullptr) {
    SetError(kErrNoDriver);
    SetErrorFile(&fd_);
    SetFileError("", error);
  }
  return driver_;
}

intptr_t File::Call(int32_t op, KeyDecl* key, std::initializer_list<intptr_t> words,
                    std::initializer_list<std::string_view> texts, std::string* text_out) {
  const OpInfo info = GetOpInfo(op);
  if (text_out) text_out->clear();
  ClearError();
  Driver* d = driver();
  if (d == nullptr) return 0;
  // The driver pops the first text first: push them in reverse order.
  for (auto it = texts.end(); it != texts.begin();) PushString(*--it);
  // At least a few zero words, so that a driver reading an argument the
  // caller left out reads 0 rather than past the array.
  intptr_t w[8] = {};
  size_t n = 0;
  if (key != nullptr) w[n++] = reinterpret_cast<intptr_t>(key);
  for (intptr_t v : words) {
    if (n < std::size(w)) w[n++] = v;
  }
  intptr_t result = d->entry(op, &fd_, w);
  if (info.text_result) {
    std::string t = PopTemp();
    if (text_out) *text_out = std::move(t);
  }
  return result;
}

// --- verbs

int File::Add() { Call(kOpAdd); return ErrorCode(); }
int File::Append() { Call(kOpAppend); return ErrorCode(); }
bool File::Bof() { return Call(kOpBof) != 0; }
int File::BuildIndex(KeyDecl* k, std::string_view components) {
  Call(kOpBuildIndex, k, {}, {components});
  return ErrorCode();
}
int File::Build() { Call(kOpBuildFile); return ErrorCode(); }
int File::Build(KeyDecl* k) { Call(kOpBuildKey, k); return ErrorCode(); }
int64_t File::Bytes() { return int64_t(Call(kOpBytes)); }
bool File::Eof() { return Call(kOpEof) != 0; }
int File::Close() { Call(kOpClose); return ErrorCode(); }
int File::Commit() { Call(kOpCommit); return ErrorCode(); }
int File::Copy(std::string_view target) { Call(kOpCopy, nullptr, {}, {target}); return ErrorCode(); }
int File::Create() { Call(kOpCreate); return ErrorCode(); }
int File::Delete() { Call(kOpDelete); return ErrorCode(); }
bool File::Duplicate() { return Call(kOpDuplicate) != 0; }
bool File::Duplicate(KeyDecl* k) { return Call(kOpDuplicateKey, k) != 0; }
int File::Empty() { Call(kOpEmpty); return ErrorCode(); }
int File::Flush() { Call(kOpFlush); return ErrorCode(); }
int File::Get(KeyDecl* k) { Call(kOpGetKey, k); return ErrorCode(); }
int File::Get(int32_t pointer) { Call(kOpGetPointer, nullptr, {pointer}); return ErrorCode(); }
int File::GetOrdinal(KeyDecl* k, int32_t ordinal) {
  Call(kOpGetOrdinal, k, {ordinal});
  return ErrorCode();
}
int File::Hold() { Call(kOpHold); return ErrorCode(); }
int File::Hold(int32_t seconds) { Call(kOpHoldTimeout, nullptr, {seconds}); return ErrorCode(); }
int File::Lock() { Call(kOpLock); return ErrorCode(); }
int File::Lock(int32_t seconds) { Call(kOpLockTimeout, nullptr, {seconds}); return ErrorCode(); }
int File::Logout() { Call(kOpLogout); return ErrorCode(); }
std::string File::Name() {
  std::string s;
  Call(kOpName, nullptr, {}, {}, &s);
  return s;
}
int File::Next() { Call(kOpNext); return ErrorCode(); }
int File::NoMemo() { Call(kOpNoMemo); return ErrorCode(); }
int File::Open(uint32_t mode) { Call(kOpOpen, nullptr, {intptr_t(mode)}); return ErrorCode(); }
int File::Share(uint32_t mode) { Call(kOpShare, nullptr, {intptr_t(mode)}); return ErrorCode(); }
int File::Pack() { Call(kOpPack); return ErrorCode(); }
int32_t File::Pointer() { return int32_t(Call(kOpPointer)); }
int32_t File::Pointer(KeyDecl* k) { return int32_t(Call(kOpPointerKey, k)); }
std::string File::Position() {
  std::string s;
  Call(kOpPosition, nullptr, {}, {}, &s);
  return s;
}
std::string File::Position(KeyDecl* k) {
  std::string s;
  Call(kOpPositionKey, k, {}, {}, &s);
  return s;
}
bool File::LastPosition(KeyDecl* k, std::string* out) {
  const auto* h = static_cast<const DrvFcbHead*>(fd_.drv_fcb);
  if (h == nullptr || !(h->bookkeeping & kKeepLastOp) || h->last_error != 0 ||
      (h->last_op != uint32_t(kOpNext) && h->last_op != uint32_t(kOpPrevious)))
    return false;
  const void* want = k ? k->drv_kcb : nullptr;
  if (want == nullptr && k != nullptr) return false;
  if (static_cast<const void*>(h->current_key) != want) return false;
  if (h->position_due) {
    *out = k ? Position(k) : Position();
    return true;
  }
  *out = h->last_position;
  return true;
}
int File::Previous() { Call(kOpPrevious); return ErrorCode(); }
int File::Put() { Call(kOpPut); return ErrorCode(); }
int File::Put(int32_t pointer) { Call(kOpPutPointer, nullptr, {pointer}); return ErrorCode(); }
int64_t File::Records() { return int64_t(Call(kOpRecords)); }
int64_t File::Records(KeyDecl* k) { return int64_t(Call(kOpRecordsKey, k)); }
int File::Reget(std::string_view pos) { Call(kOpRegetFile, nullptr, {}, {pos}); return ErrorCode(); }
int File::Reget(KeyDecl* k, std::string_view pos) {
  Call(kOpRegetKey, k, {}, {pos});
  return ErrorCode();
}
int File::Release() { Call(kOpRelease); return ErrorCode(); }
int File::Remove() { Call(kOpRemove); return ErrorCode(); }
int File::Rename(std::string_view n) { Call(kOpRename, nullptr, {}, {n}); return ErrorCode(); }
int File::Reset(std::string_view pos) { Call(kOpResetFile, nullptr, {}, {pos}); return ErrorCode(); }
int File::Reset(KeyDecl* k, std::string_view pos) {
  Call(kOpResetKey, k, {}, {pos});
  return ErrorCode();
}
int File::Rollback() { Call(kOpRollback); return ErrorCode(); }
std::string File::Send(std::string_view message) {
  std::string s;
  Call(kOpSend, nullptr, {}, {message}, &s);
  return s;
}
int File::Set() { Call(kOpSetFile); return ErrorCode(); }
int File::SetFromKey(KeyDecl* k) { Call(kOpSetFileKey, k); return ErrorCode(); }
int File::SetFromPointer(int32_t p) { Call(kOpSetFilePointer, nullptr, {p}); return ErrorCode(); }
int File::Set(KeyDecl* k) { Call(kOpSetKey, k); return ErrorCode(); }
int File::Set(KeyDecl* k, KeyDecl*) { Call(kOpSetKeyKey, k); return ErrorCode(); }
int File::SetOrdinal(KeyDecl* k, int32_t ordinal) {
  Call(kOpSetKeyPointer, k, {ordinal});
  return ErrorCode();
}
int File::Set(KeyDecl* k, KeyDecl*, int32_t p) {
  Call(kOpSetKeyKeyPointer, k, {p});
  return ErrorCode();
}
int File::Skip(int32_t count) { Call(kOpSkip, nullptr, {count}); return ErrorCode(); }
int File::Stream() { Call(kOpStream); return ErrorCode(); }
int File::Unlock() { Call(kOpUnlock); return ErrorCode(); }
int File::Watch() { Call(kOpWatch); return ErrorCode(); }
intptr_t File::SaveState() { return Call(kOpSaveState); }
int File::RestoreState(intptr_t h) { Call(kOpRestoreState, nullptr, {h}); return ErrorCode(); }
int File::FreeState(intptr_t h) { Call(kOpFreeState, nullptr, {h}); return ErrorCode(); }
std::string File::GetProperty(int32_t property, int32_t index) {
  std::string s;
  Call(kOpGetProperty, nullptr, {index}, {std::to_string(property)}, &s);
  return s;
}
int File::SetProperty(int32_t property, std::string_view value, int32_t index) {
  Call(kOpSetProperty, nullptr, {index}, {value, std::to_string(property)});
  return ErrorCode();
}
std::string File::GetKeyProperty(KeyDecl* k, int32_t property, int32_t index) {
  std::string s;
  Call(kOpGetKeyProperty, k, {index}, {std::to_string(property)}, &s);
  return s;
}
int File::SetKeyProperty(KeyDecl* k, int32_t property, std::string_view value, int32_t index) {
  Call(kOpSetKeyProperty, k, {index}, {value, std::to_string(property)});
  return ErrorCode();
}
int File::CurrentKey() { return int(Call(kOpCurrentKey)); }
int File::Clear(int fill) { Call(kOpClear, nullptr, {fill}); return ErrorCode(); }

}  // namespace nv
