#include "host/report/text_encoding.h"

#include "host/runtime/codepage.h"

namespace nv::report {

std::string Utf8FromDocumentText(std::string_view ansi) {
  return nv::Utf8FromAnsi(ansi);
}

}  // namespace nv::report
