// Fixed-size texts of records: STRING(n) (blank-padded), CSTRING(n)
// (zero-terminated) and PSTRING(n) (length in the first byte), plus the text
// helpers the runtime offers on them. Every text is Windows-1252 bytes.
//
// The templates are standard-layout and exactly N bytes, so they can sit in
// packed record buffers at the positions the record layouts give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "host/runtime/export.h"

namespace nv {

// The text without its trailing blanks.
NV_API std::string_view Clip(std::string_view text);
// The leading blanks moved to the end; the length is kept.
NV_API std::string LeftJustify(std::string_view text);
// Windows-1252 capitals: a-z, à..þ (not ÷), ÿ→Ÿ, š→Š, œ→Œ, ž→Ž.
NV_API char UpperChar(char c);
NV_API std::string Upper(std::string_view text);
// Byte-wise (unsigned) comparison after clipping trailing blanks of both:
// negative, zero or positive.
NV_API int CompareClipped(std::string_view a, std::string_view b);
// Copies src into dst[0..n), cut to n and padded with blanks.
NV_API void AssignPadded(char* dst, size_t n, std::string_view src);

template <size_t N>
struct String {
  static_assert(N > 0, "a STRING holds at least one byte");
  char data_[N];

  String() { std::memset(data_, ' ', N); }
  String(std::string_view text) { Assign(text); }  // NOLINT: implicit on purpose
  String& operator=(std::string_view text) {
    Assign(text);
    return *this;
  }
  void Assign(std::string_view text) { AssignPadded(data_, N, text); }
  void Clear() { std::memset(data_, ' ', N); }

  static constexpr size_t size() { return N; }
  char* data() { return data_; }
  const char* data() const { return data_; }
  std::string_view view() const { return std::string_view(data_, N); }
  std::string_view clipped() const { return Clip(view()); }
  std::string str() const { return std::string(clipped()); }
  bool empty() const { return clipped().empty(); }

  friend bool operator==(const String& a, std::string_view b) {
    return CompareClipped(a.view(), b) == 0;
  }
  template <size_t M>
  friend bool operator==(const String& a, const String<M>& b) {
    return CompareClipped(a.view(), b.view()) == 0;
  }
  template <size_t M>
  friend bool operator<(const String& a, const String<M>& b) {
    return CompareClipped(a.view(), b.view()) < 0;
  }
};

template <size_t N>
struct CString {
  static_assert(N > 0, "a CSTRING holds at least its terminating zero");
  char data_[N];

  CString() { std::memset(data_, 0, N); }
  CString(std::string_view text) { Assign(text); }  // NOLINT: implicit on purpose
  CString& operator=(std::string_view text) {
    Assign(text);
    return *this;
  }
  // Cut to N-1 bytes (or at an embedded zero); the rest is zero-filled.
  void Assign(std::string_view text) {
    size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::memset(data_, 0, N);
    std::memcpy(data_, text.data(), n);
  }
  static constexpr size_t size() { return N; }
  const char* c_str() const { return data_; }
  // Up to the first zero; a corrupt value without zero reads as all N bytes.
  std::string_view view() const {
    const void* z = std::memchr(data_, 0, N);
    return std::string_view(data_, z ? static_cast<const char*>(z) - data_ : N);
  }
  friend bool operator==(const CString& a, std::string_view b) { return a.view() == b; }
};

template <size_t N>
struct PString {
  static_assert(N > 1 && N <= 256, "a PSTRING holds a length byte and up to 255 chars");
  uint8_t len_;
  char data_[N - 1];

  PString() : len_(0) { std::memset(data_, 0, N - 1); }
  PString(std::string_view text) { Assign(text); }  // NOLINT: implicit on purpose
  PString& operator=(std::string_view text) {
    Assign(text);
    return *this;
  }
  void Assign(std::string_view text) {
    size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::memset(data_, 0, N - 1);
    std::memcpy(data_, text.data(), n);
    len_ = static_cast<uint8_t>(n);
  }
  static constexpr size_t size() { return N; }
  // A corrupt length byte larger than the room reads as the room.
  std::string_view view() const {
    size_t n = len_ < N - 1 ? len_ : N - 1;
    return std::string_view(data_, n);
  }
  friend bool operator==(const PString& a, std::string_view b) { return a.view() == b; }
};

}  // namespace nv
