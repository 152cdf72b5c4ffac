// The renderers' edge: Windows-1252 texts of a document become UTF-8 here.
#pragma once

#include <string>
#include <string_view>

#include "host/runtime/export.h"

namespace nv::report {

// UTF-8 form of a Windows-1252 text (the runtime's conversion).
NV_API std::string Utf8FromDocumentText(std::string_view ansi);

}  // namespace nv::report
