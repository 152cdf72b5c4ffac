// Profile files are read whole, split into lines that keep their endings, and
// looked up line by line; a write edits the one line concerned (or inserts
// lines) and writes the whole file back through a temporary file.
#include "host/runtime/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include "host/runtime/env.h"

namespace nv {
namespace {

std::mutex g_write_mutex;

std::string_view Trim(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() &&
         (t.back() == ' ' || t.back() == '\t' || t.back() == '\r' || t.back() == '\n')) {
    t.remove_suffix(1);
  }
  return t;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string ResolvePath(std::string_view file) {
  if (file.empty()) return DefaultProfilePath();
  std::string path(file);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

// Lines with their endings; the last may have none.
std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  if (!in) return lines;
  std::ostringstream ss;
  ss << in.rdbuf();
  const std::string all = ss.str();
  size_t start = 0;
  while (start < all.size()) {
    size_t nl = all.find('\n', start);
    size_t end = nl == std::string::npos ? all.size() : nl + 1;
    lines.push_back(all.substr(start, end - start));
    start = end;
  }
  return lines;
}

enum class LineKind { kOther, kSection, kEntry };

struct Parsed {
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section or entry name, trimmed
  std::string_view value;  // entry value, trimmed
};

Parsed ParseLine(std::string_view line, bool first) {
  Parsed p;
  if (first && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
  std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';') return p;
  if (t.front() == '[') {
    size_t close = t.find(']');
    if (close == std::string_view::npos) return p;  // unterminated: an odd line
    p.kind = LineKind::kSection;
    p.name = Trim(t.substr(1, close - 1));
    return p;
  }
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return p;
  p.kind = LineKind::kEntry;
  p.name = Trim(t.substr(0, eq));
  p.value = Trim(t.substr(eq + 1));
  return p;
}

// Index of the first line of entry `entry` in a section named `section`, or
// -1. *section_found tells whether such a section exists, *insert_at where a
// new entry of the first such section goes (after its last non-blank line).
long Find(const std::vector<std::string>& lines, std::string_view section, std::string_view entry,
          bool* section_found, size_t* insert_at) {
  bool in_section = false;
  bool first_section_open = false;
  *section_found = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    Parsed p = ParseLine(lines[i], i == 0);
    if (p.kind == LineKind::kSection) {
      in_section = EqualNoCase(p.name, section);
      if (in_section && !*section_found) {
        *section_found = true;
        first_section_open = true;
        *insert_at = i + 1;
      } else if (!in_section) {
        first_section_open = false;
      } else {
        first_section_open = false;  // a repeated section: new entries go to the first
      }
      continue;
    }
    if (first_section_open && !Trim(lines[i]).empty()) *insert_at = i + 1;
    if (in_section && p.kind == LineKind::kEntry && EqualNoCase(p.name, entry)) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

bool HasLineBreak(std::string_view t) {
  return t.find_first_of("\r\n") != std::string_view::npos;
}

// Writes the file through the Env (so tests can fail it): a temporary file
// in the same folder, synced, then renamed over the old one; on any failure
// the old file stays as it was and the temporary file goes.
bool WriteAtomically(const std::string& path, const std::string& data) {
  std::filesystem::path target(path);
  std::error_code ec;
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  Env* env = GetEnv();
  std::string tmp;
  if (env->TempName(target.parent_path().string(), target.filename().string() + ".", &tmp) != 0)
    return false;
  struct stat st;
  ::chmod(tmp.c_str(), stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0644);
  std::unique_ptr<EnvFile> f;
  OpenOptions o;
  o.mode = 0x12;  // write, deny all
  o.truncate = true;
  bool ok = env->Open(tmp, o, &f) == 0 && f->Write(0, data.data(), data.size()) == 0 &&
            f->Sync(false) == 0;
  f.reset();
  if (ok) ok = env->Rename(tmp, path) == 0;
  if (!ok) env->Remove(tmp);
  return ok;
}

}  // namespace

std::string DefaultProfilePath() {
  const char* p = std::getenv("NVRUN_PROFILE");
  if (p && *p) return p;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/fonvex/fonvex.ini";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config/fonvex/fonvex.ini";
  return ".config/fonvex/fonvex.ini";
}

std::string GetProfileString(std::string_view file, std::string_view section,
                             std::string_view entry, std::string_view def) {
  if (Trim(section).empty() || Trim(entry).empty()) return std::string(def);
  std::vector<std::string> lines = ReadLines(ResolvePath(file));
  bool found = false;
  size_t insert_at = 0;
  long i = Find(lines, Trim(section), Trim(entry), &found, &insert_at);
  if (i < 0) return std::string(def);
  return std::string(ParseLine(lines[static_cast<size_t>(i)], i == 0).value);
}

long GetProfileInt(std::string_view file, std::string_view section, std::string_view entry,
                   long def) {
  const std::string marker("\x01");
  std::string v = GetProfileString(file, section, entry, marker);
  if (v == marker) return def;
  const char* s = v.c_str();
  size_t k = 0;
  if (s[k] == '+' || s[k] == '-') ++k;
  if (s[k] < '0' || s[k] > '9') return def;
  errno = 0;
  char* end = nullptr;
  long r = std::strtol(s, &end, 10);
  if (errno == ERANGE) return def;
  return r;
}

namespace {

bool ValidEntry(std::string_view entry, std::string_view value) {
  return !entry.empty() && !HasLineBreak(entry) && !HasLineBreak(value) &&
         entry.find('=') == std::string_view::npos && entry.front() != ';' && entry.front() != '[';
}

// Sets entry=value in the lines (names and value trimmed already).
void SetEntry(std::vector<std::string>* lines, std::string_view section, std::string_view entry,
              std::string_view value, const std::string& eol) {
  bool found = false;
  size_t insert_at = 0;
  long i = Find(*lines, section, entry, &found, &insert_at);
  if (i >= 0) {
    std::string& line = (*lines)[static_cast<size_t>(i)];
    std::string ending = line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0
                             ? "\r\n"
                             : (line.back() == '\n' ? "\n" : "");
    // Keep the entry's spelling and whatever precedes it (a BOM on line 0).
    size_t eq = line.find('=');
    line = line.substr(0, eq + 1) + std::string(value) + ending;
  } else if (found) {
    lines->insert(lines->begin() + static_cast<long>(insert_at),
                  std::string(entry) + "=" + std::string(value) + eol);
  } else {
    lines->push_back("[" + std::string(section) + "]" + eol);
    lines->push_back(std::string(entry) + "=" + std::string(value) + eol);
  }
}

}  // namespace

bool WriteProfileStrings(std::string_view file, std::string_view section,
                         const std::vector<ProfileEntry>& entries) {
  section = Trim(section);
  if (section.empty() || HasLineBreak(section) || section.find(']') != std::string_view::npos) {
    return false;
  }
  for (const ProfileEntry& e : entries) {
    if (!ValidEntry(Trim(e.entry), Trim(e.value))) return false;
  }
  const std::string path = ResolvePath(file);
  std::lock_guard<std::mutex> lock(g_write_mutex);
  std::vector<std::string> lines = ReadLines(path);
  // Keep the file's own line ending style.
  std::string eol = "\n";
  if (!lines.empty() && lines[0].size() >= 2 &&
      lines[0].compare(lines[0].size() - 2, 2, "\r\n") == 0) {
    eol = "\r\n";
  }
  if (!lines.empty() && lines.back().back() != '\n') lines.back() += eol;
  for (const ProfileEntry& e : entries)
    SetEntry(&lines, section, Trim(e.entry), Trim(e.value), eol);
  std::string data;
  for (const std::string& l : lines) data += l;
  return WriteAtomically(path, data);
}

bool WriteProfileString(std::string_view file, std::string_view section, std::string_view entry,
                        std::string_view value) {
  return WriteProfileStrings(file, section, {{entry, value}});
}

}  // namespace nv
