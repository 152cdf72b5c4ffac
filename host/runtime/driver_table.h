// The driver table: registered driver names and the libraries that serve
// them. A driver is loaded with dlopen the first time a file declared with its
// name is used; its registration record is read through its exported symbol
// and its entry function through the record.
//
// Search order for a library: the folders of $NVRUN_DRIVER_PATH (':'-separated)
// when set, else the running program's own folder, then the install library
// folder.
//
// Thread-safety: Find and RegisterDriver may be called from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/driver_interface.h"
#include "host/runtime/export.h"

namespace nv {

class NV_API Driver {
 public:
  std::string name;        // registered name ("Norvane")
  std::string library;     // file name ("libnvflat.so")
  std::string reg_symbol;  // exported registration record ("N21$DrvReg")
  std::string path;        // where it was loaded from
  void* handle = nullptr;
  const DrvReg* reg = nullptr;
  EntryFn entry = nullptr;
};

// Adds or replaces a table entry (tests register their own drivers).
NV_API void RegisterDriver(std::string_view name, std::string_view library,
                           std::string_view reg_symbol);
// Loads (once) and answers the driver with that registered name
// (case-insensitive); nullptr with a Spanish message naming the driver and the
// folders searched in *error when it cannot be loaded.
NV_API Driver* FindDriver(std::string_view name, std::string* error);
NV_API std::vector<std::string> DriverSearchFolders();
// Names of the drivers in the table.
NV_API std::vector<std::string> DriverNames();

}  // namespace nv
