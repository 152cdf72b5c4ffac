// The file-driver interface: what passes between the runtime and a file
// driver. A driver is a shared library exporting a registration record
// (`DrvReg`) and an entry function; the runtime calls the entry function with
// an operation code, the file's descriptor and an array of argument words.
// Texts travel on the runtime's string stack (string_stack.h), errors are
// posted to the runtime's error state (error_state.h), never returned.
//
// This header also holds the heads of the driver's per-file and per-key
// control blocks, because the runtime's driver-kit routines (state check,
// state update, operation trace) read them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/declaration.h"
#include "host/runtime/export.h"

namespace nv {

// Entry function of a driver. `words` holds the argument words (may be
// empty); for key operations word 0 is the address of the KeyDecl. The result
// is 0 unless the operation answers one (counts, flags, addresses).
using EntryFn = intptr_t (*)(int32_t op, FileDescriptor* fd, intptr_t* words);

#pragma pack(push, 1)
// Registration record, exported by every driver under its own symbol name.
struct DrvReg {
  char name[21];           // registered driver name ("Norvane")
  char file_name[13];      // the library's own file name
  char notice[41];         // maker's notice
  char description[31];    // shown to users
  EntryFn entry;           // the entry function
  uint32_t capabilities;
  uint8_t limits[28];
  uint32_t field_block_size;
  uint32_t key_block_size;
  uint32_t memo_block_size;
  uint32_t fcb_size;
  uint32_t reserved[3];
  const uint8_t* operations;  // count, codes..., count, field types...
  char companion[13];         // file name of a companion driver library
};
#pragma pack(pop)

// Operation codes (the runtime's file verbs).
enum Op : int32_t {
  kOpAdd = 1,
  kOpBof = 2,
  kOpBuildFile = 3,
  kOpAppend = 4,
  kOpBuildIndex = 5,
  kOpBuildKey = 6,
  kOpClose = 7,
  kOpCommit = 8,
  kOpCopy = 9,
  kOpCreate = 10,
  kOpDelete = 11,
  kOpDuplicate = 12,
  kOpEmpty = 13,
  kOpEof = 14,
  kOpGetKey = 15,
  kOpGetPointer = 16,
  kOpGetOrdinal = 17,
  kOpHold = 18,
  kOpHoldTimeout = 19,
  kOpLock = 20,
  kOpLockTimeout = 21,
  kOpLogout = 22,
  kOpName = 23,
  kOpNext = 24,
  kOpOpen = 25,
  kOpPack = 26,
  kOpPointer = 27,
  kOpPointerKey = 28,
  kOpFlush = 29,
  kOpPut = 30,
  kOpPrevious = 31,
  kOpRecords = 32,
  kOpRecordsKey = 33,
  kOpRelease = 36,
  kOpRemove = 37,
  kOpRename = 38,
  kOpRollback = 40,
  kOpSetFile = 41,
  kOpSetFileKey = 42,
  kOpSetFilePointer = 43,
  kOpSetKey = 44,
  kOpSetKeyKey = 45,
  kOpSetKeyPointer = 46,
  kOpSetKeyKeyPointer = 47,
  kOpShare = 48,
  kOpSkip = 49,
  kOpUnlock = 50,
  kOpBytes = 52,
  kOpPutPointer = 54,
  kOpStream = 56,
  kOpDuplicateKey = 57,
  kOpWatch = 58,
  kOpSend = 60,
  kOpPosition = 61,
  kOpPositionKey = 62,
  kOpResetFile = 63,
  kOpResetKey = 64,
  kOpNoMemo = 65,
  kOpRegetFile = 66,
  kOpRegetKey = 67,
  kOpSetProperty = 71,
  kOpGetProperty = 72,
  kOpCurrentKey = 73,
  kOpViewEntry = 74,
  kOpClear = 82,
  kOpRunDeferred = 84,
  kOpSetKeyProperty = 85,
  kOpGetKeyProperty = 86,
  kOpEntryPoint = 91,
  kOpAccepted92 = 92,
  kOpAccepted93 = 93,
  kOpRecordsGreater = 95,
  kOpSaveState = 98,
  kOpRestoreState = 99,
  kOpFreeState = 102,
  kOpFinalClose = 104,
};

// What an operation carries across the interface.
struct OpInfo {
  const char* name;  // the verb, for traces ("NEXT")
  uint8_t texts;     // texts popped from the string stack
  bool key;          // argument word 0 is a key declaration
  bool text_result;  // a text is pushed back
};
NV_API OpInfo GetOpInfo(int32_t op);

// Access and share modes of OPEN and SHARE.
enum OpenMode : uint32_t {
  kReadOnly = 0x00,
  kWriteOnly = 0x01,
  kReadWrite = 0x02,
  kDenyCompat = 0x00,
  kDenyAll = 0x10,
  kDenyWrite = 0x20,
  kDenyRead = 0x30,
  kDenyNone = 0x40,
};

// State flags of a Drv_FCB head.
enum StateFlag : uint32_t {
  kStateOpen = 1u << 0,
  kStateBytesRecordLength = 1u << 1,
  kStateStreaming = 1u << 3,
  kStateLocked = 1u << 4,
  kStateWriteAccess = 1u << 6,
  kStateExclusive = 1u << 7,
  kStateWatchRequested = 1u << 9,
  kStateWatching = 1u << 10,
  kStateHoldRequested = 1u << 11,
  kStateHeld = 1u << 12,
  kStateDeferredRunning = 1u << 14,
  kStateDeferNext = 1u << 15,
};

// Bookkeeping bits the runtime sets in a Drv_FCB head.
enum Bookkeeping : uint32_t {
  kKeepClearError = 1u << 0,
  kKeepLastOp = 1u << 2,
  kKeepLastOp2 = 1u << 4,
  kKeepDiscardRestore = 1u << 5,
};

struct DrvFcbHead;
struct DrvKcbHead;

// Head of a driver's per-field block.
struct DrvFieldHead {
  const FieldDesc* desc = nullptr;
  uint32_t number = 0;  // 1-based place among the record's fields
  std::string name;     // the field's name (settable through a property)
  uint16_t group = 0;   // number of the group that contains it (0: the record)
};

// Head of a driver's per-memo block.
struct DrvMemoHead {
  MemoDecl* decl = nullptr;
  std::string external_name;
  std::string name;
  uint32_t size = 0;
  uint32_t flags = 0;
  std::unique_ptr<char[]> buffer;  // the memo buffer the declaration points at
};

struct DrvKcbComponent {
  DrvFieldHead* field;
  bool descending;
};

// Head of a driver's per-key control block (Drv_KCB).
struct DrvKcbHead {
  DrvFcbHead* fcb = nullptr;
  std::string external_name;
  std::string name;
  std::vector<DrvKcbComponent> components;
  uint32_t attributes = 0;
  uint32_t number = 0;  // 0-based
  KeyDecl* decl = nullptr;
};

// Head of a driver's per-file control block (Drv_FCB). Each driver's block
// derives from it and adds its own fields. Owned texts are std::string.
struct DrvFcbHead {
  std::string name;           // completed file name
  std::string full_name;      // reserved for the driver
  std::string owner;
  std::string driver_string;
  uint8_t attributes = 0;     // bits 0..5 from the descriptor's bits 1..6
  uint8_t* record = nullptr;
  uint32_t record_length = 0;
  std::vector<DrvMemoHead*> memos;
  std::vector<DrvKcbHead*> keys;
  std::vector<DrvFieldHead*> fields;
  uint32_t open_mode = 0;
  uint32_t last_op = 0;
  uint32_t last_error = 0;
  uint32_t last_op2 = 0;
  uint32_t bookkeeping = 0;   // Bookkeeping bits
  uint32_t state = 0;         // StateFlag bits
  uint32_t fixed_names = 0;   // bit 0 name, bit 1 owner, bit 2 driver string
  uint32_t op_error = 0;
  uint8_t trace_on = 0;
  uint8_t trace_details = 0;
  std::string trace_file;
  int trace_handle = -1;      // open while the program writes its own lines
  uint32_t deferred_op = 0;
  DrvKcbHead* deferred_key = nullptr;
  std::string deferred_text;
  int16_t progress_step = 0;
  int16_t progress_value = 0;
  std::string remote_binding;
  const DrvReg* reg = nullptr;
  FileDescriptor* fd = nullptr;
  DrvKcbHead* current_key = nullptr;
  std::string last_position;
  bool position_due = false;  // last_position still to be asked (drivers/common/skeleton.cpp)
  std::string restore_position;
  std::string reset_text;
  DrvKcbHead* last_set_key = nullptr;
  int32_t last_set_pointer = 0;
  int32_t hold_timeout = -1;

  virtual ~DrvFcbHead() = default;
};

// Attribute bits of a Drv_FCB head (from the descriptor's bits 1..6).
enum FcbAttr : uint8_t {
  kFcbScrambled = 1u << 0,
  kFcbCreate = 1u << 1,
  kFcbReclaim = 1u << 2,
  kFcbThreaded = 1u << 3,
  kFcbOem = 1u << 4,
  kFcbAttr5 = 1u << 5,
};

// ---------------------------------------------------------------------------
// The runtime's driver kit: services the drivers call.

// Copies a string given by address and length convention (kLenCString,
// kLenPString or a fixed blank-padded length) into an owned string.
NV_API std::string MakeCString(const char* addr, uint32_t len);

// Brackets each operation for files declared per thread.
NV_API void ThreadedFileOpen(FileDescriptor* fd);
NV_API void ThreadedFileClose(FileDescriptor* fd);

// The per-operation state check: a non-zero answer is the operation's error.
NV_API int DrvCheckState(DrvFcbHead* fcb, DrvKcbHead* kcb, int32_t op, const char* text,
                         size_t len);
// The state update after every operation; `created` is 1 when this call
// created the Drv_FCB.
NV_API void DrvUpdateState(DrvFcbHead* fcb, DrvKcbHead* kcb, int32_t op, int error, int created);
// One line of the operation trace of a traced file.
NV_API void DrvTraceOp(DrvFcbHead* fcb, DrvKcbHead* kcb, const char* driver, int32_t op,
                       int error, int64_t ticks);
// Appends a line of the program's own to a file's trace.
NV_API int DrvTraceLine(DrvFcbHead* fcb, std::string_view line);

// The runtime's note of which driver serves a file and in which mode.
NV_API void ActivateDriver(FileDescriptor* fd, uint32_t mode);
NV_API void DeactivateDriver(FileDescriptor* fd);

// Re-enters the runtime's file verbs for a descriptor, as a program would
// (used by the skeleton to restore positions and state). Texts are pushed in
// the order given; a text result is popped into `text_out` when not null.
NV_API intptr_t CallFileVerb(FileDescriptor* fd, int32_t op, KeyDecl* key = nullptr,
                             std::initializer_list<intptr_t> words = {},
                             std::initializer_list<std::string_view> texts = {},
                             std::string* text_out = nullptr);

}  // namespace nv
