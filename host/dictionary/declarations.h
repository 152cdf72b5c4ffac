// The catalogue of data files: for every file label the agenda and the
// reports name, its prefix, record layout (records.h), keys, memos, default
// driver and on-disk name, and what the dictionary does with it (aliases,
// auto-numbered code key, file-name variable, related files).
//
// An alias ("ALMA11") is a second record buffer and position over the file
// of another label ("FXMA11"): its declaration is the same layout and keys
// under its own prefix ("AMA11:NOMBRE", key "AMA11:MA11_C1") and it always
// shares the base file's driver, owner and name.
//
// Thread-safety: the catalogue is built once and immutable.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/declaration.h"
#include "host/runtime/export.h"

namespace nv::dict {

// Registered name of the default store.
inline constexpr const char* kDefaultDriver = "Norvane";
// Driver of the line-oriented text file SALIDA.
inline constexpr const char* kTextDriver = "ASCII";
// Folder of the data files, as the declarations write it.
inline constexpr const char* kDataFolder = ".\\Archivos\\";
// Folder of the older DOS directory's files (FXMA06DOS, FXRE01DOS, FXTA06DOS).
inline constexpr const char* kDosFolder = ".\\Archivos\\DOS\\";

struct FileInfo {
  std::string label;                 // "ALMA11"
  std::string prefix;                // "AMA11"
  std::string base;                  // label of the file an alias views; empty for a file
  std::string driver;                // default driver
  std::string default_name;          // ".\Archivos\FXMA11"
  std::string name_var;              // member of DIC:NOMBRE_ARCH naming the file; empty = none
  std::string code_field;            // auto-numbered code field ("MA11:CODIGO"); empty = none
  std::string code_key;              // its key ("MA11:MA11_CP")
  bool create_on_open = false;       // a missing file is created when first used
  bool movable = true;               // the dictionary profile section may move it
  std::vector<std::string> related;  // labels a relation opens with it

  // Label whose store this file uses: the base for an alias, else itself.
  const std::string& store_label() const { return base.empty() ? label : base; }
};

// Every declared file, in a fixed order (files before their aliases).
NV_API const std::vector<FileInfo>& Catalogue();
// The entry of a label (case-insensitive); nullptr for an unknown label.
NV_API const FileInfo* FindFileInfo(std::string_view label);

// The declaration of a label with its default driver and name; an unknown
// label gives a declaration with an empty label and no record.
NV_API FileDecl DefaultDecl(std::string_view label);

}  // namespace nv::dict
