// The runtime's file verbs. A File is made from a declaration; it owns the
// record buffer, the key and memo declarations and the file descriptor, and
// passes every verb to the file's driver as an operation code with its
// argument words and texts. After each verb the error code is readable with
// nv::ErrorCode() (0 success); verbs also return it where they answer nothing
// else.
//
// Aliases (a second record buffer and position over the same data file) are
// simply a second File made from the same declaration.
//
// Thread-safety: a File belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/declaration.h"
#include "host/runtime/driver_interface.h"
#include "host/runtime/export.h"

namespace nv {

class Driver;

class NV_API File {
 public:
  explicit File(FileDecl decl);
  ~File();  // final close: the driver frees its block
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // --- declaration and buffers
  const FileDecl& decl() const { return decl_; }
  FileDescriptor* descriptor() { return &fd_; }
  uint8_t* record() { return record_.data(); }
  uint32_t record_length() const { return fd_.record_length; }
  template <class T>
  T& As() {
    static_assert(alignof(T) == 1);
    return *reinterpret_cast<T*>(record_.data());
  }
  int key_count() const { return int(keys_.size()); }
  KeyDecl* key(int i) { return keys_ptrs_.at(size_t(i)); }  // 0-based
  KeyDecl* key(std::string_view label);                     // by label, nullptr when none
  int memo_count() const { return int(memos_.size()); }
  MemoDecl* memo(int i) { return memos_ptrs_.at(size_t(i)); }
  // Text of memo i (up to its size; empty before the driver made the buffer).
  std::string MemoText(int i) const;
  void SetMemoText(int i, std::string_view text);

  // Changes the on-disk name (as a program assigns the name variable).
  void SetName(std::string_view name);
  void SetOwner(std::string_view owner);
  void SetDriverString(std::string_view s);

  // --- verbs (operation codes in brackets)
  int Add();                                   // ADD (1)
  int Append();                                // APPEND (4)
  bool Bof();                                  // BOF (2)
  int BuildIndex(KeyDecl* key, std::string_view components);  // BUILD index (5)
  int Build();                                 // BUILD(file) (3)
  int Build(KeyDecl* key);                     // BUILD(key) (6)
  int64_t Bytes();                             // BYTES (52)
  bool Eof();                                  // EOF (14)
  int Close();                                 // CLOSE (7)
  int Commit();                                // COMMIT (8)
  int Copy(std::string_view target);           // COPY (9)
  int Create();                                // CREATE (10)
  int Delete();                                // DELETE (11)
  bool Duplicate();                            // DUPLICATE(file) (12)
  bool Duplicate(KeyDecl* key);                // DUPLICATE(key) (57)
  int Empty();                                 // EMPTY (13)
  int Flush();                                 // FLUSH (29)
  int Get(KeyDecl* key);                       // GET(file, key) (15)
  int Get(int32_t pointer);                    // GET(file, pointer) (16)
  int GetOrdinal(KeyDecl* key, int32_t ordinal);  // GET(key, pointer) (17)
  int Hold();                                  // HOLD(file) (18)
  int Hold(int32_t seconds);                   // HOLD(file, seconds) (19)
  int Lock();                                  // LOCK(file) (20)
  int Lock(int32_t seconds);                   // LOCK(file, seconds) (21)
  int Logout();                                // LOGOUT (22)
  std::string Name();                          // NAME (23)
  int Next();                                  // NEXT (24)
  int NoMemo();                                // NOMEMO (65)
  int Open(uint32_t mode = kReadWrite | kDenyNone);   // OPEN (25)
  int Share(uint32_t mode = kReadWrite | kDenyNone);  // SHARE (48)
  int Pack();                                  // PACK (26)
  int32_t Pointer();                           // POINTER(file) (27)
  int32_t Pointer(KeyDecl* key);               // POINTER(key) (28)
  std::string Position();                      // POSITION(file) (61)
  std::string Position(KeyDecl* key);          // POSITION(key) (62)
  // The position of the record the last NEXT or PREVIOUS read, by `key`
  // (nullptr: record order), as the driver kept it after that read (the
  // runtime asks every driver block to keep it): what POSITION would
  // answer, without another call (a driver that works it out only when
  // asked is asked with POSITION). False, *out untouched, when the last
  // operation was another or failed, or the current key is not `key`.
  bool LastPosition(KeyDecl* key, std::string* out);
  int Previous();                              // PREVIOUS (31)
  int Put();                                   // PUT (30)
  int Put(int32_t pointer);                    // PUT(file, pointer) (54)
  int64_t Records();                           // RECORDS(file) (32)
  int64_t Records(KeyDecl* key);               // RECORDS(key) (33)
  int Reget(std::string_view position);        // REGET(file) (66)
  int Reget(KeyDecl* key, std::string_view position);  // REGET(key) (67)
  int Release();                               // RELEASE (36)
  int Remove();                                // REMOVE (37)
  int Rename(std::string_view new_name);       // RENAME (38)
  int Reset(std::string_view position);        // RESET(file) (63)
  int Reset(KeyDecl* key, std::string_view position);  // RESET(key) (64)
  int Rollback();                              // ROLLBACK (40)
  std::string Send(std::string_view message);  // SEND (60)
  int Set();                                   // SET(file) (41)
  int SetFromKey(KeyDecl* key);                // SET(file, key) (42)
  int SetFromPointer(int32_t pointer);         // SET(file, pointer) (43)
  int Set(KeyDecl* key);                       // SET(key) (44)
  int Set(KeyDecl* key, KeyDecl* same_key);    // SET(key, key) (45)
  int SetOrdinal(KeyDecl* key, int32_t ordinal);  // SET(key, pointer) (46)
  int Set(KeyDecl* key, KeyDecl* same_key, int32_t pointer);  // SET(key, key, pointer) (47)
  int Skip(int32_t count);                     // SKIP (49)
  int Stream();                                // STREAM (56)
  int Unlock();                                // UNLOCK (50)
  int Watch();                                 // WATCH (58)
  intptr_t SaveState();                        // SAVESTATE (98)
  int RestoreState(intptr_t handle);           // RESTORESTATE (99)
  int FreeState(intptr_t handle);              // FREESTATE (102)
  std::string GetProperty(int32_t property, int32_t index = 0);   // (72)
  int SetProperty(int32_t property, std::string_view value, int32_t index = 0);  // (71)
  std::string GetKeyProperty(KeyDecl* key, int32_t property, int32_t index = 0);  // (86)
  int SetKeyProperty(KeyDecl* key, int32_t property, std::string_view value,
                     int32_t index = 0);       // (85)
  int CurrentKey();                            // (73): 1-based, 0 for record order
  int Clear(int fill = 0);                     // CLEAR (82)

  // Any operation code, as the runtime passes it (for tests and the skeleton).
  intptr_t Call(int32_t op, KeyDecl* key = nullptr, std::initializer_list<intptr_t> words = {},
                std::initializer_list<std::string_view> texts = {},
                std::string* text_out = nullptr);

  // The driver serving this file, loading it on first use (nullptr with the
  // error kErrNoDriver posted when it cannot be loaded).
  Driver* driver();

  // The runtime's note of the driver being active for this file (kept from
  // the driver's activate/deactivate calls) and the mode it was given.
  bool driver_active() const { return active_; }
  uint32_t active_mode() const { return active_mode_; }
  void NoteActive(bool active, uint32_t mode) {
    active_ = active;
    active_mode_ = mode;
  }

 private:
  void BuildDescriptor();

  FileDecl decl_;
  FileDescriptor fd_{};
  std::vector<uint8_t> record_;
  std::string name_, owner_, driver_string_;
  std::vector<KeyDecl> keys_;
  std::vector<KeyDecl*> keys_ptrs_;
  std::vector<std::string> key_names_, key_externals_;
  std::vector<std::vector<int32_t>> key_components_;
  std::vector<MemoDecl> memos_;
  std::vector<MemoDecl*> memos_ptrs_;
  std::vector<std::string> memo_names_, memo_externals_;
  Driver* driver_ = nullptr;
  bool active_ = false;
  uint32_t active_mode_ = 0;
};

}  // namespace nv
