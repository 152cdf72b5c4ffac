// The data dictionary at run time: the globals (DIC:CODUSR, DIC:ATRUSR,
// DIC:NOMBRE_ARCH, DIC:CAPTURA), the store choice read from the dictionary
// profile section, one access object per declared file (its record buffer,
// fetch/next/insert/update/delete) and the relations that open a file with
// its related files.
//
// Invariants:
// - Each label has at most one shared access object, created on first use;
//   aliases have their own access object and buffer over the base's store.
// - An access object's file is open exactly while its use count is > 0;
//   every successful UseFile is balanced by one Close.
// - A file's driver and owner are fixed when its access object is made (the
//   store choice is read once, at construction); its name is taken again
//   from DIC:NOMBRE_ARCH each time the file is opened.
// - A record inserted with code 0 through an access object whose file has an
//   auto-numbered code key receives the last code in key order + 1 (1 for an
//   empty file); on failure the buffer's code is 0 again.
//
// Store choice, section "[Dictionary]" of the profile handed to FxdatsInit
// (the program's "agenda.INI" / "fxr4.INI"; the system's default profile when
// none is given):
//   Driver=dBase3        every file moves to this driver
//   Owner=DSN=calls      owner string of every moved file
//   Folder=/srv/fonvex   replaces the ".\Archivos" folder of the file names
//   DosFolder=/mnt/dos   folder of the older DOS directory's three files
//                        (default ".\Archivos\DOS", moved by Folder too)
//   Central=1            exchange number of DIC:CAPTURA (default 1)
//   FXMO01=ODBC;DSN=calls;UID=u;llamadas_sal
//                        one file: driver;owner;name — the driver is the
//                        text before the first ';', the name the text after
//                        the last one, the owner everything between (so an
//                        ODBC owner may hold ';'); "ODBC" alone or
//                        "ODBC;owner" keep the default name.
// Aliases always follow their base file. A file moved to "ODBC" without a
// name uses its label as table name, and its DIC:NOMBRE_ARCH variable (a
// path) is then not used. SALIDA, a text file, is never moved.
//
// Thread-safety: a Dictionary and its access objects belong to the program's
// main thread. A report thread makes its own files with NewFile.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/dictionary/declarations.h"
#include "host/runtime/declaration.h"
#include "host/runtime/export.h"
#include "host/runtime/file.h"
#include "host/runtime/profile.h"

namespace nv::dict {

inline constexpr const char* kProfileSection = "Dictionary";

#pragma pack(push, 1)
// DIC:NOMBRE_ARCH: the file-name variables. A blank variable means the
// declared name.
struct NombreArch {
  String<255> FXMO01;
  String<255> FXMO02;
  String<255> FXTR01;
  String<255> FXTR02;
  String<255> SALIDA;
  String<255> FXMA06DOS;
  String<255> FXRE01DOS;
  String<255> FXTA06DOS;
};
// DIC:CAPTURA: the capture settings of the exchange.
struct Captura {
  int16_t NROCEN;  // exchange number (CENTRAL record shown by the About window)
};
struct Globals {
  Decimal<2, 0> CODUSR;  // logged-in user, 0 = nobody
  String<3> ATRUSR;      // attribute of the logged-in user
  NombreArch NOMBRE_ARCH;
  Captura CAPTURA;
};
#pragma pack(pop)

// Where file errors go: the framework's error reporter implements this.
class NV_API ErrorReporter {
 public:
  virtual ~ErrorReporter();
  // A reported file operation failed: file label, operation ("Fetch",
  // "Insert" ...), error code and the runtime's text for it.
  virtual void FileError(std::string_view label, std::string_view operation, int code,
                         const std::string& text) = 0;
};

// The store of one file after the profile section.
struct StoreChoice {
  std::string driver;
  std::string owner;
  std::string name;  // explicit name; empty = from the name variable or default
};

class Dictionary;

// Access object of one file: its record buffer and verbs.
class NV_API FileAccess {
 public:
  FileAccess(Dictionary* dict, const FileInfo& info, FileDecl decl);
  FileAccess(const FileAccess&) = delete;
  FileAccess& operator=(const FileAccess&) = delete;

  const std::string& label() const { return info_.label; }
  const FileInfo& info() const { return info_; }
  const FileInfo& shape() const { return info_; }  // the same, under its earlier name
  nv::File& file() { return *file_; }
  uint8_t* record() { return file_->record(); }
  template <class R>
  R& rec() {
    return file_->As<R>();
  }
  KeyDecl* key(std::string_view label) { return file_->key(label); }
  bool is_open() const { return uses_ > 0; }
  int uses() const { return uses_; }

  // Declares use of the file: opens it (shared, read and write) on the first
  // use, creating a missing directory file. Answers the error code.
  int UseFile();
  // The same in an open mode of the caller's (nv::kReadWrite | nv::kDenyWrite
  // for a batch writer that wants the file to itself), without report. A
  // later use shares the open the first one made, whatever its mode.
  int TryUseFile(uint32_t mode);
  // Drops one use; the last one closes the file.
  int Close();

  // GET by key from the buffer's key fields; a failure is reported.
  int Fetch(std::string_view key);
  // The same without report: answers the code (35 not found ...).
  int TryFetch(std::string_view key);
  // Positions at the first record not below the buffer's key value (SET
  // key, key); `key` empty = record order from the start.
  int SetOrder(std::string_view key);
  int Next();
  int Previous();
  // ADD, with the auto-numbered code; a failure is reported.
  int Insert();
  int TryInsert();
  // PUT of the current record; a failure is reported.
  int Update();
  int TryUpdate();
  // DELETE of the current record; a failure is reported.
  int Delete();
  int TryDelete();

  // Day number of a date group of the buffer ("MA11:FECALT"); 0 when empty.
  int32_t DateOf(std::string_view group_label);
  // Stores a day number into a date group; false when it is no date group.
  bool SetDate(std::string_view group_label, int32_t date);

 private:
  int Report(std::string_view operation, int code);
  int DoInsert();
  // Gives the buffer the next code when the code field is 0; *assigned
  // tells whether it did.
  int AssignCode(bool* assigned);

  Dictionary* dict_;
  FileInfo info_;
  std::unique_ptr<nv::File> file_;
  int uses_ = 0;
};

class NV_API Dictionary {
 public:
  // Reads the store choice from `profile`'s section (nullptr: the system's
  // default profile). `reporter` may be null (errors are then only kept).
  explicit Dictionary(const ProfileFile* profile = nullptr, ErrorReporter* reporter = nullptr);
  ~Dictionary();  // closes every open file
  Dictionary(const Dictionary&) = delete;
  Dictionary& operator=(const Dictionary&) = delete;

  Globals& globals() { return globals_; }
  ErrorReporter* reporter() const { return reporter_; }
  void set_reporter(ErrorReporter* r) { reporter_ = r; }

  // Store choice of a label (aliases answer their base's).
  StoreChoice Store(std::string_view label) const;
  // The on-disk name the file has when opened now.
  std::string EffectiveName(std::string_view label) const;
  // The declaration with driver, owner and current name; empty label for an
  // unknown label.
  FileDecl Declaration(std::string_view label) const;
  // A file of its own (own buffer and position), for another thread.
  std::unique_ptr<nv::File> NewFile(std::string_view label) const;

  // The shared access object of a label; nullptr for an unknown label.
  FileAccess* Access(std::string_view label);

  // Opens the file and, recursively, its related files (each once). On a
  // failure the files opened by this call are closed again and the code is
  // answered.
  int OpenRelation(std::string_view label);
  // Closes what the matching OpenRelation opened.
  int CloseRelation(std::string_view label);

  // The file-name variable of a label (aliases: their base's); nullptr when
  // the file has none.
  String<255>* NameVariable(std::string_view label);
  const String<255>* NameVariable(std::string_view label) const;
  // Stores the names of the four call files in the program's ".\Archivos"
  // folder, as the main window does before it opens anything.
  void SetCallFileNames();

  // The last error given to Report (also when no reporter is set).
  int last_error() const { return last_error_; }
  void NoteError(int code) { last_error_ = code; }

 private:
  std::string FolderRewrite(const std::string& name) const;

  ErrorReporter* reporter_;
  Globals globals_;
  std::string driver_all_, owner_all_, folder_, dos_folder_;
  std::map<std::string, StoreChoice> per_file_;  // by store label, upper case
  std::map<std::string, std::unique_ptr<FileAccess>> accesses_;
  std::map<std::string, std::vector<std::vector<std::string>>> relations_;
  int last_error_ = 0;
};

// Parses a per-file entry "driver;owner;name" (see above).
NV_API StoreChoice ParseStoreEntry(std::string_view text);

// FXDATS:INIT: builds the program's dictionary over the error reporter and
// profile object (either may be null). A second call replaces the first.
NV_API void FxdatsInit(ErrorReporter* reporter, const ProfileFile* profile);
// FXDATS:KILL: closes every file and drops the dictionary.
NV_API void FxdatsKill();
// The program's dictionary; nullptr outside FxdatsInit..FxdatsKill.
NV_API Dictionary* Dic();
// Changes every time FxdatsInit or FxdatsKill runs (per-thread caches use it).
NV_API uint64_t DicGeneration();

}  // namespace nv::dict
