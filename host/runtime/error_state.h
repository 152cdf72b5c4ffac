// The runtime's error state: the error number of the last file operation,
// the file it belongs to, and the file-error code and text a driver may set.
// Each thread has its own error state (reports run on threads of their own).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "host/runtime/export.h"

namespace nv {

struct FileDescriptor;

struct ErrorState {
  int code = 0;
  std::string file_error_code;  // driver-specific code text (an SQLSTATE ...)
  std::string file_error;       // driver-specific message
  const FileDescriptor* file = nullptr;
};

// Error numbers the runtime itself uses beyond those of the drivers.
inline constexpr int kErrFileNotFound = 2;
inline constexpr int kErrAccessDenied = 5;
inline constexpr int kErrNoMemory = 8;
inline constexpr int kErrFileNotOpen = 37;
inline constexpr int kErrFileAlreadyOpen = 52;
inline constexpr int kErrNotImplemented = 80;
inline constexpr int kErrNoDriver = 201;  // the file's driver cannot be loaded

NV_API int ErrorCode();
NV_API const std::string& FileErrorCode();
NV_API const std::string& FileError();
NV_API const FileDescriptor* ErrorFile();
// Spanish text of the current error number (with the file-error text when a
// driver gave one).
NV_API std::string ErrorText();
// Spanish text of an error number.
NV_API std::string ErrorTextOf(int code);

NV_API void SetError(int code);
NV_API void SetErrorFile(const FileDescriptor* fd);
NV_API void SetFileError(std::string_view code, std::string_view message);
NV_API void ClearError();

NV_API ErrorState SaveErrorState();
NV_API void RestoreErrorState(const ErrorState& s);

// Fatal runtime errors: the text goes to stderr (and the trace of the file
// when tracing is on) and the program ends. Tests may replace the handler;
// when a handler returns, the program still ends.
using FatalHandler = std::function<void(int code, const std::string& text)>;
NV_API void SetFatalHandler(FatalHandler h);
[[noreturn]] NV_API void RuntimeError(int code, std::string_view text);

}  // namespace nv
