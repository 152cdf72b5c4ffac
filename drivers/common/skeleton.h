// The dispatch skeleton every file driver runs around each operation, and the
// pieces all drivers share: creating and freeing the per-file, per-field,
// per-key and per-memo blocks, driver strings, SEND "REGISTER", the LOCK
// retry loops, tracing and the bookkeeping after each operation.
//
// A driver derives from DriverBase, implements Run() for its operations and
// the block factory, and exports its registration record and an entry
// function that calls Entry():
//
//   FlatDriver g_driver;
//   extern "C" NV_API intptr_t NORVANE(int32_t op, nv::FileDescriptor* fd,
//                                      intptr_t* w) { return g_driver.Entry(op, fd, w); }
//
// Errors: deep routines of a driver abandon an operation with Abort(code);
// the skeleton catches it (the driver's recovery point) and posts the code.
// Nothing is thrown out of Entry(). Operations may nest: the skeleton itself
// re-enters the runtime's verbs to restore a position.
//
// Order of the steps around one operation (Entry):
//   view request -> threaded bracket -> remote binding -> pop texts ->
//   create Drv_FCB (+ trace settings) -> key block -> pending restore
//   position -> state check -> name refresh -> run -> trace -> after-op hook
//   -> state update -> push text result -> bookkeeping -> final close ->
//   post error -> result.
#pragma once

#include <cstdint>
#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/driver_interface.h"
#include "host/runtime/error_state.h"
#include "host/runtime/export.h"

namespace drv {

using nv::DrvFcbHead;
using nv::DrvFieldHead;
using nv::DrvKcbHead;
using nv::DrvMemoHead;
using nv::FileDescriptor;

// Abandons the current operation with an error code.
struct AbortError {
  int code;
};
[[noreturn]] void Abort(int code);

// One operation as the skeleton hands it to the driver.
struct OpContext {
  int32_t op = 0;
  FileDescriptor* fd = nullptr;
  DrvFcbHead* fcb = nullptr;
  DrvKcbHead* kcb = nullptr;  // key operations: the key's block
  intptr_t* words = nullptr;  // the further argument words (after the key)
  std::string text[2];        // popped texts, first popped first
  intptr_t result = 0;
  std::string text_result;  // for operations that answer a text

  intptr_t Word(int i) const { return words ? words[i] : 0; }
};

// Walks a driver string: options separated by '/', "//" standing for a
// literal '/', blanks around options ignored. Returns false when none is left.
bool NextDrvStr(std::string_view s, size_t* pos, std::string* option);
// Splits "NAME=value" (NAME upper-cased, blanks around '=' dropped).
void SplitOption(std::string_view option, std::string* name, std::string* value, bool* has_value);
// A yes/no option: answers the state before the change ("ON"/"OFF") and,
// when a value is given, sets it as the rule says.
enum class YesNoRule { kOnWhenOn, kOnUnlessOff };
void YesNoOption(bool* flag, std::string_view value, bool has_value, YesNoRule rule,
                 std::string* answer);

// True while any file of this driver is bound to a remote service.
bool RemoteBindingsExist();

// Errors turned into the driver's numbers: operating-system numbers above 18
// become 5.
inline int OsError(int os) {
  return os > 18 ? 5 : os;
}

class DriverBase {
 public:
  virtual ~DriverBase() = default;

  // The skeleton: one operation from the runtime.
  intptr_t Entry(int32_t op, FileDescriptor* fd, intptr_t* words);

  virtual const nv::DrvReg& Reg() const = 0;

 protected:
  // Trace settings: the profile section ("NWNorvane") and default file.
  virtual const char* TraceSection() const = 0;
  virtual const char* DefaultTraceFile() const = 0;
  // Answer of operation 74 (view entry request).
  virtual intptr_t ViewEntry() { return 0; }
  // Longest record the driver stores (longer: error 47).
  virtual uint32_t MaxRecordLength() const = 0;

  // Allocates the driver's Drv_FCB and its blocks. The head's common fields
  // are filled by the skeleton afterwards (FillHead) unless already set; the
  // driver builds its blocks with BuildCommonBlocks() and checks its types.
  virtual int CreateFcb(FileDescriptor* fd, DrvFcbHead** out) = 0;
  virtual void DeleteFcb(DrvFcbHead* fcb) = 0;
  // Completes a file name with the default extension.
  virtual void CompleteName(DrvFcbHead*) {}
  // Runs an operation the driver implements; answers the error (0 none).
  virtual int Run(OpContext& ctx) = 0;
  // After every operation of a file that is not remote-bound.
  virtual int AfterOp(DrvFcbHead*) { return 0; }
  // One driver option (from the driver string or SEND); answers the error.
  // Values that only SEND may set are set only when `from_send`.
  virtual int Option(DrvFcbHead*, const std::string& /*name*/, const std::string& /*value*/,
                     bool /*has_value*/, bool /*from_send*/, std::string* /*answer*/) {
    return 0;
  }
  // SEND with a message that is not "REGISTER": a driver that reads the
  // message as a whole (not as an option) answers true with the error.
  virtual bool SendText(OpContext&, int* /*error*/) { return false; }
  // A property only this driver knows (29508, the key-state word, ...):
  // answers true when handled, with the error in *error.
  virtual bool DriverProperty(OpContext&, int32_t /*property*/, bool /*set*/, int* /*error*/) {
    return false;
  }
  // Bit 22 of the driver's key-state word (property 29508).
  virtual bool KeyStateBit22(DrvFcbHead*) { return false; }
  // The position kept after NEXT and PREVIOUS (SAVESTATE) may be asked
  // later, just before the next operation that could change it: the
  // driver's POSITION of the current key takes nothing (no lock), and a
  // NEXT or PREVIOUS that fails leaves the current record as it was.
  virtual bool LazyPosition() const { return false; }

 public:
  // Helpers for CreateFcb: copies name, owner, driver string, attributes and
  // the record buffer into the head.
  void FillHead(DrvFcbHead* fcb, FileDescriptor* fd) const;
  // Builds the common part of the field, key and memo blocks into the given
  // arrays (which must stay unmoved while the Drv_FCB lives) and links them
  // into the head and the declarations. Errors 47, 75, 8.
  template <class F, class K, class M>
  int BuildCommonBlocks(DrvFcbHead* fcb, FileDescriptor* fd, std::vector<F>* fields,
                        std::vector<K>* keys, std::vector<M>* memos);
  // Unlinks the blocks from the declarations (memo buffers, key blocks).
  static void UnlinkBlocks(DrvFcbHead* fcb, FileDescriptor* fd);

  // True when the driver's operation list names the code.
  bool Implements(int32_t op) const;

  // Progress of a build that reads `done` of `total` records: during a
  // deferred build with progress events it raises event 5697 every k records.
  // Answers 0 to go on, 93 when the program cancelled, -1 when the program
  // closed the file during the event (the build ends with no error). A call
  // with `done` 0 says the build has started (event 5698 tells a build that
  // could not start from one that failed).
  int BuildProgress(DrvFcbHead* fcb, uint64_t done, uint64_t total);

 private:
  int CreateFcbAll(FileDescriptor* fd, DrvFcbHead** out);
  void ReadTraceSettings(DrvFcbHead* fcb);
  void ProcessDriverString(DrvFcbHead* fcb);
  void RestorePosition(DrvFcbHead* fcb, int32_t op);
  void RefreshNames(DrvFcbHead* fcb, FileDescriptor* fd);
  int Dispatch(OpContext& ctx, bool* free_after);
  int Send(OpContext& ctx, bool* free_after);
  int LockLoop(OpContext& ctx);
  std::string CurrentPosition(OpContext& outer);
  void KeepDuePosition(OpContext& ctx);
  void NoteSequence(OpContext& ctx);

  // Properties (71, 72, 85, 86), state snapshots (98, 99, 102), deferred
  // builds (84) and remote binding: drivers/common/services.cpp.
  int Properties(OpContext& ctx);
  int FileProperty(OpContext& ctx, int32_t property, bool set, bool* handled);
  int FieldProperty(OpContext& ctx, int32_t property, int32_t field, bool set, bool* handled);
  int MemoProperty(OpContext& ctx, int32_t property, int32_t memo, bool set, bool* handled);
  int KeyProperty(OpContext& ctx, int32_t property, bool set, bool* handled);
  int SaveState(OpContext& ctx);
  int RestoreState(OpContext& ctx);
  int FreeState(OpContext& ctx);
  bool DeferBuild(OpContext& ctx);
  int RunDeferred(OpContext& ctx);
  int Bind(OpContext& ctx, const std::string& text);
  int LookUpBinding(FileDescriptor* fd, intptr_t* handle);
  int Forward(OpContext& ctx, intptr_t handle, bool* free_after);

  // The operation list as a set, made at the first question (Implements
  // is asked by every operation). Threads that ask together make the same
  // words.
  mutable std::atomic<bool> implemented_made_{false};
  mutable std::atomic<uint64_t> implemented_[4];
};

// ---------------------------------------------------------------------------

// Common checks and links of the blocks; shared by the template below.
int CheckRecordType(const FileDescriptor* fd, uint32_t max_record_length);
uint16_t GroupOf(const nv::RecordType& rt, uint32_t field);
void FillFieldHead(DrvFieldHead* f, const nv::RecordType& rt, uint32_t number);
int FillKeyHead(DrvKcbHead* k, DrvFcbHead* fcb, nv::KeyDecl* decl, uint32_t number,
                std::vector<DrvFieldHead*>& fields, const nv::RecordType& rt);
int FillMemoHead(DrvMemoHead* m, nv::MemoDecl* decl);

template <class F, class K, class M>
int DriverBase::BuildCommonBlocks(DrvFcbHead* fcb, FileDescriptor* fd, std::vector<F>* fields,
                                  std::vector<K>* keys, std::vector<M>* memos) {
  int err = CheckRecordType(fd, MaxRecordLength());
  if (err) return err;
  const nv::RecordType& rt = *fd->record_type;
  fields->clear();
  fields->resize(rt.FieldCount());
  fcb->fields.clear();
  for (uint32_t i = 0; i < rt.FieldCount(); ++i) {
    FillFieldHead(&(*fields)[i], rt, i + 1);
    fcb->fields.push_back(&(*fields)[i]);
  }
  memos->clear();
  memos->resize(fd->memo_count);
  fcb->memos.clear();
  for (uint32_t i = 0; i < fd->memo_count; ++i) {
    if ((err = FillMemoHead(&(*memos)[i], fd->memos[i])) != 0) return err;
    fcb->memos.push_back(&(*memos)[i]);
  }
  keys->clear();
  keys->resize(fd->key_count);
  fcb->keys.clear();
  for (uint32_t i = 0; i < fd->key_count; ++i) {
    if ((err = FillKeyHead(&(*keys)[i], fcb, fd->keys[i], i, fcb->fields, rt)) != 0) return err;
    fcb->keys.push_back(&(*keys)[i]);
  }
  return 0;
}

}  // namespace drv
