// Profile (INI) files: reading and writing values by section and entry.
//
// Syntax: "[section]" lines open a section; "entry=value" lines inside hold
// values; lines starting with ';' are comments. Sections and entries are
// matched without regard to case; names and values are trimmed of
// surrounding blanks. When a section or an entry appears twice, the first
// one counts. A missing or unreadable file reads as empty. Odd lines (blank,
// no '=', an unterminated '[', CR LF endings, a UTF-8 byte-order mark) are
// tolerated: they are ignored for look-ups and kept as they are on write.
//
// Thread safety: every call re-reads the file. Writes in one process are
// serialised, and each replaces the file atomically (temporary file in the
// same folder, fsync, rename), so a reader sees either the old or the new
// file, never a half-written one.
//
// An empty file name means the system's default profile (DefaultProfilePath).
// '\' in file names is taken as '/'.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/export.h"

namespace nv {

// $NVRUN_PROFILE if set and non-empty, else $XDG_CONFIG_HOME/fonvex/fonvex.ini,
// else $HOME/.config/fonvex/fonvex.ini (".config/fonvex/fonvex.ini" relative
// to the working folder when HOME is unset as well).
NV_API std::string DefaultProfilePath();

NV_API std::string GetProfileString(std::string_view file, std::string_view section,
                                    std::string_view entry, std::string_view def);
// The value's leading integer (optional sign, then decimal digits; any text
// after the digits is ignored, so "12 ; note" reads 12). A missing entry, a
// value that does not start with a number, or one outside the range of long
// gives def.
NV_API long GetProfileInt(std::string_view file, std::string_view section, std::string_view entry,
                          long def);
// Sets entry=value, creating the file (and its folder), the section and the
// entry as needed; every other line is kept in order. Refuses (false) an
// empty section or entry, names with line breaks, a section containing ']',
// an entry containing '=' or starting with ';' or '[', and a value with line
// breaks — each would corrupt the file. False also when the file cannot be
// written; the old file is then unchanged.
NV_API bool WriteProfileString(std::string_view file, std::string_view section,
                               std::string_view entry, std::string_view value);
// Sets several entries of one section in one write: either all of them
// are written or (refused or failed) none is.
struct ProfileEntry {
  std::string_view entry;
  std::string_view value;
};
NV_API bool WriteProfileStrings(std::string_view file, std::string_view section,
                                const std::vector<ProfileEntry>& entries);

// A named profile file (the framework's profile object). An empty name is
// the system's default profile.
class NV_API ProfileFile {
 public:
  ProfileFile() = default;
  explicit ProfileFile(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }
  void set_name(std::string name) { name_ = std::move(name); }

  std::string GetString(std::string_view section, std::string_view entry,
                        std::string_view def = "") const {
    return GetProfileString(name_, section, entry, def);
  }
  long GetInt(std::string_view section, std::string_view entry, long def = 0) const {
    return GetProfileInt(name_, section, entry, def);
  }
  bool WriteString(std::string_view section, std::string_view entry, std::string_view value) const {
    return WriteProfileString(name_, section, entry, value);
  }

 private:
  std::string name_;
};

}  // namespace nv
