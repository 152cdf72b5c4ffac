// The longest-prefix rule of the directory, in one place: the owner of a
// called number is the owner of the longest directory number (FXRE09,
// clipped) that is a prefix of the clipped called number. The re-linking of
// calls and the reports' directory descriptions both ask it.
//
// Invariants:
//   - The lookup of a number X probes FXRE09 by RE09:RE09_C3 (first
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
//
// Thread-safety: one object per thread and file (it moves the file's
// position and buffer).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/export.h"
#include "host/runtime/file.h"

namespace nv::dict {

// The owner of a number: directory code and group (0, 0 = none).
struct NumberOwner {
  int32_t codigo = 0;
  int32_t gruage = 0;
  bool operator==(const NumberOwner&) const = default;
};

// Longest-prefix lookup of numbers in the directory (FXRE09 open).
class NV_API PrefixLookup {
 public:
  explicit PrefixLookup(nv::File& re09);
  // The owner of the longest directory number that is a prefix of the
  // clipped number; the cached answer when the number is the last one,
  // else probes that reuse the gaps of earlier probes (for numbers met in
  // ascending order).
  NumberOwner Find(std::string_view number);
  // The same, always probing the directory with one exact keyed read (GET)
  // per length present (the lengths learnt are kept; no gaps).
  NumberOwner Lookup(std::string_view number);
  // Lookup that leaves the matching number's record in the file's buffer;
  // false when no directory number is a prefix.
  bool LookupRecord(std::string_view number);
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
    NumberOwner link;  // the owner of `next`
  };
  NumberOwner Walk(std::string_view x);
  void Probe(char first, uint8_t length, std::string_view prefix, Gap* gap);

  nv::File& re09_;
  nv::KeyDecl* key_;
  Gap gaps_[kWidth + 1];
  int gap_char_ = -1;  // the first character the gaps belong to
  bool cached_ = false;
  std::string cache_number_;
  NumberOwner cache_link_;
  bool known_[256] = {};
  std::vector<uint8_t> lengths_[256];
  int64_t lookups_ = 0, probes_ = 0, scans_ = 0;
};

}  // namespace nv::dict
