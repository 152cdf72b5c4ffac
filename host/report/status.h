// Result of the report engine's fallible calls. Expected failures (a bad
// layout, an unknown band, an output file that cannot be written) are values;
// nothing in the engine throws.
#pragma once

#include <string>
#include <utility>

namespace nv::report {

enum class Code {
  kOk = 0,
  kBadLayout,       // the layout cannot be paginated (sizes, names, positions)
  kUnknownBand,     // Print() named a band the layout does not have
  kNotOpen,         // Print()/Close() on a report that is not open
  kAlreadyOpen,     // Open() on a report that is open
  kNothingToPrint,  // a renderer was given a document without pages
  kOutputFailed,    // the PDF file or the printer could not be written
  kNoApplication,   // a Qt renderer was called without a Q(Gui)Application
  kWrongThread,     // a GUI-only call was made off the GUI thread
};

class Status {
 public:
  Status() = default;
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}
  static Status Ok() { return {}; }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  Code code_ = Code::kOk;
  std::string message_;
};

}  // namespace nv::report
