// What the driver fuzz targets share: a private temporary folder, whole-file
// writes and reads, the input's layout as three files ([a][b][c] followed by
// the lengths of b and c as two little-endian 16-bit numbers), and a call of
// a driver's entry in this process, as the runtime would make it.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/runtime/file.h"

namespace nvfuzz {

inline std::string TempFolder(const std::string& prefix) {
  std::string tmpl = "/tmp/" + prefix + "XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) abort();
  return tmpl;
}

inline void WriteFile(const std::string& path, const uint8_t* p, size_t n) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) abort();
  if (n) std::fwrite(p, 1, n, f);
  std::fclose(f);
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> b;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return b;
  int c;
  while ((c = std::fgetc(f)) != EOF) b.push_back(uint8_t(c));
  std::fclose(f);
  return b;
}

// The seed input of three files.
inline std::vector<uint8_t> JoinThree(std::vector<uint8_t> a, const std::vector<uint8_t>& b,
                                      const std::vector<uint8_t>& c) {
  a.insert(a.end(), b.begin(), b.end());
  a.insert(a.end(), c.begin(), c.end());
  for (size_t n : {b.size(), c.size()}) {
    a.push_back(uint8_t(n));
    a.push_back(uint8_t(n >> 8));
  }
  return a;
}

struct Three {
  const uint8_t* data[3];
  size_t size[3];
};

// Splits an input by its trailing lengths; false when it has none or they
// do not fit.
inline bool SplitThree(const uint8_t* data, size_t size, Three* out) {
  if (size < 4) return false;
  const size_t b = data[size - 4] | size_t(data[size - 3]) << 8;
  const size_t c = data[size - 2] | size_t(data[size - 1]) << 8;
  const size_t body = size - 4;
  if (b + c > body) return false;
  const size_t a = body - b - c;
  *out = {{data, data + a, data + a + b}, {a, b, c}};
  return true;
}

template <class Driver>
intptr_t Call(Driver& driver, nv::File& f, int32_t op, nv::KeyDecl* key = nullptr,
              intptr_t word = 0) {
  intptr_t words[4] = {};
  int i = 0;
  if (key) words[i++] = reinterpret_cast<intptr_t>(key);
  words[i] = word;
  return driver.Entry(op, f.descriptor(), words);
}

}  // namespace nvfuzz
