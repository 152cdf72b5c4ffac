// Re-linking of call records to the directory. The directory entry of a
// call is the owner of the longest directory number that is a prefix of the
// call's number; whenever a directory number N is added, changed or
// deleted, the calls whose number starts with N are looked up again.
//
// Invariants:
//   - The lookup of a call number X probes FXRE09 by RE09:RE09_C3 (first
//     character ascending, length from longest to shortest, number): for
//     each length present under X's first character, longest first and no
//     longer than X, one keyed read of (first character, length, the first
//     `length` characters of X). The first hit is the longest directory
//     number that is a prefix of X, so a lookup costs at most one keyed read
//     per distinct length present. Numbers are compared clipped of trailing
//     blanks.
//   - The lengths present under a first character are learnt by walking
//     RE09_C3 once, one positioned read per distinct length (and one that
//     finds the end), the first time a lookup meets that character.
//   - A run meets the calls in number order, so successive lookups probe
//     nearby keys. Its probes are positioned reads (SET then NEXT), and each
//     leaves a gap per length: the probed prefix P and the first directory
//     number Q of that length at or after it. A later prefix P' of that
//     length with P <= P' < Q has no number; P' = Q is Q. Gaps are only
//     trusted when P, P' and Q are all digits, whose order every store's
//     key agrees with; anything else is probed again. Thus a run reads the
//     directory about once per directory number in its range and length,
//     however many calls it visits.
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
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/file.h"

namespace nv::dict {
class Dictionary;
}

namespace agenda {

// The owner of a call's number: directory code and group (0, 0 = none).
struct CallLink {
  int32_t codigo = 0;
  int32_t gruage = 0;
  bool operator==(const CallLink&) const = default;
};

// Longest-prefix lookup of call numbers in the directory (FXRE09 open).
class DirectoryLookup {
 public:
  explicit DirectoryLookup(nv::File& re09);
  // The owner of the longest directory number that is a prefix of the
  // clipped number; the cached answer when the number is the last one,
  // else probes that reuse the gaps of earlier probes (for numbers met in
  // ascending order).
  CallLink Find(std::string_view number);
  // The same, always probing the directory with one exact keyed read (GET)
  // per length present (the lengths learnt are kept; no gaps).
  CallLink Lookup(std::string_view number);
  // Forgets the cached answer, the lengths learnt and the gaps.
  void ResetCache();
  int64_t lookups() const { return lookups_; }  // lookups that read the directory
  int64_t probes() const { return probes_; }    // keyed reads of those lookups
  int64_t scans() const { return scans_; }      // reads that learnt the lengths
  int64_t reads() const { return probes_ + scans_; }
  // The lengths present under a first character, longest first.
  const std::vector<uint8_t>& Lengths(char first);

 private:
  static constexpr size_t kWidth = 40;  // RE09:NROTEL
  // What a positioned probe at one length learnt (see the invariants).
  struct Gap {
    bool known = false;
    bool digits = false;  // from and next are digits only
    bool end = false;     // no number of this length at or after `from`
    bool exact = false;   // `next` is a well-formed number of this length
    std::string from, next;
    CallLink link;  // the owner of `next`
  };
  CallLink Walk(std::string_view x);
  void Probe(char first, uint8_t length, std::string_view prefix, Gap* gap);

  nv::File& re09_;
  nv::KeyDecl* key_;
  Gap gaps_[kWidth + 1];
  int gap_char_ = -1;  // the first character the gaps belong to
  bool cached_ = false;
  std::string cache_number_;
  CallLink cache_link_;
  bool known_[256] = {};
  std::vector<uint8_t> lengths_[256];
  int64_t lookups_ = 0, probes_ = 0, scans_ = 0;
};

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
