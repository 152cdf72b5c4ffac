// Re-linking of call records to the directory. The directory entry of a
// call is the owner of the longest directory number that is a prefix of the
// call's number; whenever a directory number N is added, changed or
// deleted, the calls whose number starts with N are looked up again.
//
// Invariants:
//   - A call number is looked up with nv::dict::PrefixLookup (see there for
//     how its probes and gaps keep a run to about one read per directory
//     number in its range).
//   - The one-entry cache (last call number and its answer), the lengths
//     learnt and the gaps live for one re-linking run only: a run starts
//     with all of them empty, so nothing read before a directory change is
//     reused after it.
//   - A run visits FXMO01, FXMO02, FXTR01, FXTR02 in that order, each
//     through its number key from N onwards, and stops in a file at the
//     first call whose clipped number does not start with clipped N. Only
//     CODIGO and GRUAGE of the visited calls are written.
//   - The four files are in stream mode from Begin to Finish; Finish
//     flushes them. A call file that cannot be opened has no calls (one
//     that exists but fails to open is reported, a missing one is not).
//
// States of a run:  created --Begin--> running --Step...--> done --Finish--> finished
//
// Thread-safety: the program's main thread (it uses the dictionary's files).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/dictionary/prefix_lookup.h"
#include "host/runtime/file.h"

namespace nv::dict {
class Dictionary;
}

namespace agenda {

// The longest-prefix lookup lives with the dictionary (its one home, shared
// with the reports' directory descriptions).
using CallLink = nv::dict::NumberOwner;
using DirectoryLookup = nv::dict::PrefixLookup;

// One call file as the re-linking sees it: where its number, code and group
// live in the record.
struct CallFileView {
  nv::File* file = nullptr;
  nv::KeyDecl* number_key = nullptr;
  size_t nrotel = 0, codigo = 0, gruage = 0;  // offsets
  const char* label = "";                     // for error reports
};
// The view of FXMO01/FXMO02 (call legs) or FXTR01/FXTR02 (transfer headers).
CallFileView CallLegView(nv::File& file, std::string_view key_label);
CallFileView TransferView(nv::File& file, std::string_view key_label);

// One re-linking run for a directory number N.
class CallRelinker {
 public:
  // `calls` in processing order; files with a null pointer are skipped.
  CallRelinker(nv::File& re09, std::vector<CallFileView> calls, std::string_view number);
  ~CallRelinker();
  CallRelinker(const CallRelinker&) = delete;
  CallRelinker& operator=(const CallRelinker&) = delete;

  // A caller that keeps the call files in stream mode itself (the text
  // import, over many numbers) is told before each write instead: Begin
  // then streams nothing and Finish flushes nothing.
  void SetBeforeWrite(std::function<void(nv::File&)> hook) { before_write_ = std::move(hook); }

  // Step 1: stream mode on every call file, then each is positioned at N.
  void Begin();
  // Reads at most `limit` call records (0: no limit), continuing where the
  // last step stopped. Answers the number of call records read.
  int Step(int limit);
  bool done() const { return current_ >= calls_.size(); }
  // Ends the stream mode (flushes the files). Called by the destructor when
  // the caller did not.
  void Finish();

  int64_t visited() const { return visited_; }
  int64_t changed() const { return changed_; }  // calls whose link changed
  int errors() const { return errors_; }
  // The first failure of the run (a call not written, a file not
  // positioned): its file's label and error code; 0 when none.
  int first_error() const { return first_error_; }
  const char* first_error_label() const { return first_error_label_; }
  const DirectoryLookup& lookup() const { return lookup_; }
  const std::string& number() const { return number_; }

 private:
  void Position(size_t i);

  DirectoryLookup lookup_;
  std::function<void(nv::File&)> before_write_;
  std::vector<CallFileView> calls_;
  std::string number_;  // clipped
  size_t current_ = 0;
  bool begun_ = false, finished_ = false;
  std::vector<bool> positioned_;
  int64_t visited_ = 0, changed_ = 0;
  void Failed(const CallFileView& v, int code);

  int errors_ = 0;
  int first_error_ = 0;
  const char* first_error_label_ = "";
};

// Uses (opens) the directory and the four call files of the program's
// dictionary for one run and closes them again; the call files missing on
// disk are left out.
class RelinkFiles {
 public:
  explicit RelinkFiles(nv::dict::Dictionary& dic);
  ~RelinkFiles();
  RelinkFiles(const RelinkFiles&) = delete;
  RelinkFiles& operator=(const RelinkFiles&) = delete;
  bool ok() const { return re09_ != nullptr; }
  nv::File& re09();
  std::vector<CallFileView> calls() const { return calls_; }

 private:
  nv::dict::Dictionary& dic_;
  nv::File* re09_ = nullptr;
  std::vector<std::string> used_;
  std::vector<CallFileView> calls_;
  std::vector<uint8_t> saved_re09_;
};

// The per-tick limit of the window and its clock animation.
inline constexpr int kRecordsPerTick = 10;
inline constexpr int kClockPictures = 17;
// Picture name of clock frame n (1..17).
std::string ClockPicture(int n);

// Runs the re-linking for a number to completion without a window (the text
// import runs it for each imported number). Answers the calls visited, or
// -1 when the directory could not be opened.
int64_t RelinkCalls(std::string_view number);

// The window "Actualizando..." that re-links the calls of a number over
// timer ticks of at most 10 call records; returns when all four files are
// done. Answers the calls visited (-1: directory not available).
int64_t Actualizar_MOyTR(std::string_view number);

}  // namespace agenda
