// Conversion between the runtime's ANSI code page (Windows-1252), the OEM code
// page (850) and UTF-8 (the edge towards the UI, PDFs and logs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/runtime/export.h"

namespace nv {

// Both directions are total and inverse of each other: OemToAnsi(AnsiToOem(b))
// == b for every byte, so a text survives any number of round trips.
NV_API uint8_t AnsiToOem(uint8_t ansi);
NV_API uint8_t OemToAnsi(uint8_t oem);
// In place over p[0..n).
NV_API void AnsiToOem(char* p, size_t n);
NV_API void OemToAnsi(char* p, size_t n);

// Windows-1252 to UTF-8. The five bytes 1252 leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) become the C1 controls of the same value.
NV_API std::string Utf8FromAnsi(std::string_view ansi);
// UTF-8 to Windows-1252: characters with no Windows-1252 form, and malformed
// UTF-8 sequences, become '?'.
NV_API std::string AnsiFromUtf8(std::string_view utf8);

}  // namespace nv
