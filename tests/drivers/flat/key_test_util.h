// Helpers shared by the key layer's tests: a scratch folder and key specs.
#pragma once

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "drivers/flat/key_codec.h"

namespace flat::test {

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::string t = (std::filesystem::temp_directory_path() / "nvkeyXXXXXX").string();
    path_ = mkdtemp(t.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  size_t Count() const {
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(path_);
         it != std::filesystem::directory_iterator(); ++it)
      ++n;
    return n;
  }

 private:
  std::string path_;
};

// A key of one string component of `size` bytes at offset 0.
inline KeySpec StringKey(uint16_t size, bool dup = true) {
  KeySpec s;
  KeyComponent c;
  c.stored_type = kStoredString;
  c.size = size;
  c.field_number = 1;
  s.components.push_back(c);
  s.dup = dup;
  s.name = "K:NAME";
  return s;
}

// A value of `size` bytes starting with the decimal text of n (zero-padded
// to 8 digits), blank-padded.
inline std::string Value(uint32_t n, size_t size) {
  char b[16];
  std::snprintf(b, sizeof b, "%08u", n);
  std::string v(b);
  v.resize(size, ' ');
  return v.substr(0, size);
}

inline const uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

}  // namespace flat::test
