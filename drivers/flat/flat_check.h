// The flat file inspector: prints a data file's header, descriptors,
// records and key trees, and checks that they agree with each other. Used by
// the `flatcheck` tool and by tests after every step that changes a file.
//
// What is checked: the header against the file (signature, checksum of an
// owned file, sizes, description area); the records (deleted count, live
// bounds, the free chain: every link a deleted record, no loop, its length
// the deleted count); the memo file (signature, every chain of a live record
// inside the file, no block in two chains, the free-block chain sane); each
// key file (its tree through the key layer's check, then every entry naming a
// live record whose key value it carries, no record twice, its count the
// number of live records unless the key is optional or an index).
#pragma once

#include <string>

namespace flat {

struct InspectOptions {
  std::string owner;       // owner string of an owned or scrambled file
  bool scrambled = false;  // records scrambled (files declared so)
  bool oem = false;        // strings stored in the OEM code page
  bool print_records = false;
  bool print_keys = false;
};

enum InspectResult { kConsistent = 0, kInconsistent = 1, kBadFile = 2 };

// Inspects the data file at `data_path` (".DAT" completed when missing).
// Appends the listing and every fault found to *report.
InspectResult InspectFlatFile(const std::string& data_path, const InspectOptions& options,
                              std::string* report);

}  // namespace flat
