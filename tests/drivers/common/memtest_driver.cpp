// A small in-memory file driver used only by tests: it exercises the loader
// and the dispatch skeleton end to end before any real driver exists, and
// serves as a second implementation of the driver interface.
//
// Tables live in process memory, by file name. Keys order records by their
// components (strings after clipping, numbers, decimals and dates by value,
// groups by their bytes); records keep their numbers, deleted ones leave a
// hole. Options (driver string or SEND):
// FAILLOCKS=n makes the next n LOCK attempts fail with LOCKERROR=e (32 by
// default); TRACE answers "ON"/"OFF" as a yes/no option.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "drivers/common/skeleton.h"
#include "host/runtime/date_time.h"
#include "host/runtime/decimal.h"
#include "host/runtime/export.h"
#include "host/runtime/fixed_string.h"

namespace {

using namespace nv;

struct Table {
  uint32_t record_length = 0;
  std::vector<std::string> records;  // by record number - 1
  std::vector<bool> deleted;
  bool locked = false;
};

std::map<std::string, Table>& Tables() {
  static std::map<std::string, Table> t;
  return t;
}

struct MemKcb : DrvKcbHead {};
struct MemField : DrvFieldHead {};
struct MemMemo : DrvMemoHead {};

struct MemFcb : DrvFcbHead {
  std::vector<MemField> field_blocks;
  std::vector<MemKcb> key_blocks;
  std::vector<MemMemo> memo_blocks;
  Table* table = nullptr;
  int32_t current = 0;   // record number of the current record, 0 none
  int32_t cursor = 0;    // position in the current order (index), for NEXT/PREVIOUS
  bool at_start = true;  // before the first record of the sequence
  int fail_locks = 0;
  int lock_error = 32;
  bool trace_flag = false;
  std::map<std::string, std::string> properties;
  int builds = 0;
};

// Numeric value of a field for ordering (dates by day number, decimals and
// reals by value).
double FieldNumber(const FieldDesc& f, const uint8_t* p) {
  switch (f.type) {
    case kTypeByte:
      return p[0];
    case kTypeShort: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case kTypeUShort: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case kTypeLong: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case kTypeULong: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case kTypeSReal: {
      float v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case kTypeReal: {
      double v;
      std::memcpy(&v, p, 8);
      return v;
    }
    case kTypeDecimal:
      return DecimalToDouble(p, f.size, f.places);
    case kTypeDate: {
      BinDate d;
      std::memcpy(&d, p, 4);
      return DateFromBin(d);
    }
    case kTypeTime: {
      BinTime t;
      std::memcpy(&t, p, 4);
      return TimeFromBin(t);
    }
    default:
      return 0;
  }
}

// Compares two records by a key's components.
int CompareByKey(const DrvKcbHead* k, const uint8_t* a, const uint8_t* b) {
  for (const DrvKcbComponent& c : k->components) {
    const FieldDesc& f = *c.field->desc;
    int r = 0;
    if (f.type == kTypeString || f.type == kTypeGroup) {
      std::string_view sa(reinterpret_cast<const char*>(a + f.offset), f.size);
      std::string_view sb(reinterpret_cast<const char*>(b + f.offset), f.size);
      r = (k->attributes & kKeyNoCase) ? CompareClipped(Upper(sa), Upper(sb))
                                       : CompareClipped(sa, sb);
    } else {
      double va = FieldNumber(f, a + f.offset), vb = FieldNumber(f, b + f.offset);
      r = va < vb ? -1 : (va > vb ? 1 : 0);
    }
    if (c.descending) r = -r;
    if (r != 0) return r;
  }
  return 0;
}

const uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

// Record numbers of the live records in the current order.
std::vector<int32_t> Order(MemFcb* f) {
  std::vector<int32_t> order;
  for (size_t i = 0; i < f->table->records.size(); ++i) {
    if (!f->table->deleted[i]) order.push_back(int32_t(i + 1));
  }
  if (DrvKcbHead* k = f->current_key) {
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
      return CompareByKey(k, Bytes(f->table->records[size_t(a - 1)]),
                          Bytes(f->table->records[size_t(b - 1)])) < 0;
    });
  }
  return order;
}

class MemDriver final : public drv::DriverBase {
 public:
  const DrvReg& Reg() const override;

 protected:
  const char* TraceSection() const override { return "NWMemTest"; }
  const char* DefaultTraceFile() const override { return "MemTest.LOG"; }
  uint32_t MaxRecordLength() const override { return 65535; }

  int CreateFcb(FileDescriptor* fd, DrvFcbHead** out) override {
    auto* f = new MemFcb;
    *out = f;
    FillHead(f, fd);
    return BuildCommonBlocks(f, fd, &f->field_blocks, &f->key_blocks, &f->memo_blocks);
  }
  void DeleteFcb(DrvFcbHead* fcb) override { delete static_cast<MemFcb*>(fcb); }

  int Option(DrvFcbHead* fcb, const std::string& name, const std::string& value, bool has_value,
             bool, std::string* answer) override {
    auto* f = static_cast<MemFcb*>(fcb);
    if (name == "FAILLOCKS" && has_value) f->fail_locks = std::atoi(value.c_str());
    if (name == "LOCKERROR" && has_value) f->lock_error = std::atoi(value.c_str());
    if (name == "BUILDS") *answer = std::to_string(f->builds);
    if (name == "TRACE") {
      drv::YesNoOption(&f->trace_flag, value, has_value, drv::YesNoRule::kOnWhenOn, answer);
    }
    return 0;
  }

  int Run(drv::OpContext& c) override;

  // Properties from 90000 on are this driver's own: they echo what crossed
  // the interface, so that tests can see the texts and words of operations
  // 71, 72, 85 and 86 arrive in their order.
  bool DriverProperty(drv::OpContext& c, int32_t property, bool set, int*) override {
    if (property < 90000) return false;
    auto* f = static_cast<MemFcb*>(c.fcb);
    const std::string key = c.kcb ? c.kcb->name + "/" : std::string();
    const std::string id = key + std::to_string(property) + "#" + std::to_string(c.Word(0));
    if (set) {
      f->properties[id] = c.text[0];
    } else {
      auto it = f->properties.find(id);
      c.text_result = it == f->properties.end() ? "" : it->second;
    }
    return true;
  }

 private:
  int Read(MemFcb* f, int32_t n) {
    if (n < 1 || size_t(n) > f->table->records.size() || f->table->deleted[size_t(n - 1)])
      return 35;
    std::memcpy(f->record, f->table->records[size_t(n - 1)].data(), f->record_length);
    f->current = n;
    return 0;
  }
  int Step(MemFcb* f, int dir) {
    std::vector<int32_t> order = Order(f);
    int32_t next = f->at_start ? (dir > 0 ? f->cursor : f->cursor - 1) : f->cursor + dir;
    if (next < 0 || size_t(next) >= order.size()) return 33;
    f->cursor = next;
    f->at_start = false;
    return Read(f, order[size_t(next)]);
  }
  // Start of a sequence at the first record not below the buffer's key value.
  void SeekKey(MemFcb* f, DrvKcbHead* k) {
    f->current_key = k;
    std::vector<int32_t> order = Order(f);
    int32_t i = 0;
    while (size_t(i) < order.size() &&
           CompareByKey(k, Bytes(f->table->records[size_t(order[size_t(i)] - 1)]), f->record) < 0)
      ++i;
    f->cursor = i;
    f->at_start = true;
  }
  bool IsDuplicate(MemFcb* f, DrvKcbHead* k) {
    if (k->attributes & kKeyDup) return false;
    for (size_t i = 0; i < f->table->records.size(); ++i) {
      if (f->table->deleted[i] || int32_t(i + 1) == f->current) continue;
      if (CompareByKey(k, Bytes(f->table->records[i]), f->record) == 0) return true;
    }
    return false;
  }
};

int MemDriver::Run(drv::OpContext& c) {
  auto* f = static_cast<MemFcb*>(c.fcb);
  switch (c.op) {
    case kOpName:
      c.text_result =
          (f->state & kStateOpen) ? f->name : MakeCString(c.fd->name.addr, c.fd->name.len);
      return 0;
    case kOpCreate: {
      Table& t = Tables()[f->name];
      t = Table{};
      t.record_length = f->record_length;
      return 0;
    }
    case kOpBuildIndex:
    case kOpBuildKey:
    case kOpBuildFile: {
      // Nothing to build in memory; reading the records reports progress.
      const uint64_t total = f->table ? f->table->records.size() : 0;
      for (uint64_t i = 0; i <= total; ++i) {
        int r = BuildProgress(f, i, total);
        if (r != 0) return r;
      }
      ++f->builds;
      return 0;
    }
    case kOpOpen:
    case kOpShare: {
      auto it = Tables().find(f->name);
      if (it == Tables().end()) return 2;
      if (it->second.record_length != f->record_length) return 47;
      f->table = &it->second;
      f->open_mode = uint32_t(c.Word(0));
      f->current = 0;
      f->current_key = nullptr;
      return 0;
    }
    case kOpClose:
      f->table = nullptr;
      f->current = 0;
      return 0;
    case kOpRemove:
      return Tables().erase(f->name) ? 0 : 2;
    case kOpAdd:
    case kOpAppend:
      if (c.op == kOpAdd) {
        int32_t keep = f->current;
        f->current = 0;
        for (DrvKcbHead* k : f->keys) {
          if (IsDuplicate(f, k)) {
            f->current = keep;
            return 40;
          }
        }
      }
      f->table->records.emplace_back(reinterpret_cast<const char*>(f->record), f->record_length);
      f->table->deleted.push_back(false);
      f->current = int32_t(f->table->records.size());
      return 0;
    case kOpPut:
      if (f->current == 0) return 33;
      for (DrvKcbHead* k : f->keys) {
        if (IsDuplicate(f, k)) return 40;
      }
      f->table->records[size_t(f->current - 1)].assign(reinterpret_cast<const char*>(f->record),
                                                       f->record_length);
      return 0;
    case kOpDelete:
      if (f->current == 0) return 33;
      f->table->deleted[size_t(f->current - 1)] = true;
      f->current = 0;
      return 0;
    case kOpEmpty:
      f->table->records.clear();
      f->table->deleted.clear();
      f->current = 0;
      return 0;
    case kOpRecords: {
      c.result = std::count(f->table->deleted.begin(), f->table->deleted.end(), false);
      return 0;
    }
    case kOpRecordsKey:
      c.result = std::count(f->table->deleted.begin(), f->table->deleted.end(), false);
      return 0;
    case kOpGetKey: {
      for (size_t i = 0; i < f->table->records.size(); ++i) {
        if (!f->table->deleted[i] &&
            CompareByKey(c.kcb, Bytes(f->table->records[i]), f->record) == 0)
          return Read(f, int32_t(i + 1));
      }
      return 35;
    }
    case kOpGetPointer:
      return Read(f, int32_t(c.Word(0)));
    case kOpPointer:
      c.result = f->current;
      return 0;
    case kOpSetFile:
      f->current_key = nullptr;
      f->cursor = 0;
      f->at_start = true;
      return 0;
    case kOpSetKey:
      f->current_key = c.kcb;
      f->cursor = 0;
      f->at_start = true;
      return 0;
    case kOpSetKeyKey:
      SeekKey(f, c.kcb);
      return 0;
    case kOpNext:
      return Step(f, +1);
    case kOpPrevious:
      return Step(f, -1);
    case kOpSkip: {
      int32_t n = int32_t(c.Word(0));
      for (int32_t i = 0; i < std::abs(n); ++i) {
        if (int err = Step(f, n > 0 ? 1 : -1)) return err;
      }
      return 0;
    }
    case kOpBof:
    case kOpEof: {
      std::vector<int32_t> order = Order(f);
      int32_t probe = f->at_start ? (c.op == kOpEof ? f->cursor : f->cursor - 1)
                                  : f->cursor + (c.op == kOpEof ? 1 : -1);
      c.result = (probe < 0 || size_t(probe) >= order.size()) ? 1 : 0;
      return 0;
    }
    case kOpPosition:
    case kOpPositionKey:
      if (f->current == 0) return 0;
      c.text_result = std::to_string(f->current);
      return 0;
    case kOpResetFile:
    case kOpResetKey: {
      f->current_key = c.op == kOpResetKey ? c.kcb : nullptr;
      int32_t n = std::atoi(c.text[0].c_str());
      std::vector<int32_t> order = Order(f);
      auto it = std::find(order.begin(), order.end(), n);
      if (it == order.end()) {
        // The record is gone: continue at the first record after where it stood.
        it = std::find_if(order.begin(), order.end(), [&](int32_t r) { return r > n; });
      }
      f->cursor = int32_t(it - order.begin());
      f->at_start = true;
      return 0;
    }
    case kOpDuplicate:
      for (DrvKcbHead* k : f->keys) {
        if (IsDuplicate(f, k)) c.result = 1;
      }
      return 0;
    case kOpDuplicateKey:
      c.result = IsDuplicate(f, c.kcb) ? 1 : 0;
      return 0;
    case kOpLock:
    case kOpLockTimeout:
      if (f->fail_locks > 0) {
        --f->fail_locks;
        return f->lock_error;
      }
      f->table->locked = true;
      return 0;
    case kOpUnlock:
      f->table->locked = false;
      return 0;
    default:
      return kErrNotImplemented;
  }
}

// Operations this driver announces: a subset of the common order.
const uint8_t kOperations[] = {37, 1,  4,  2,  5,  3,  6,  14, 7,  10, 11, 12, 57, 13, 15,
                               16, 20, 21, 23, 24, 25, 27, 61, 62, 31, 30, 32, 33, 37, 63,
                               64, 60, 41, 44, 45, 48, 49, 50, 4,  1,  2,  6,  18};

MemDriver g_driver;

}  // namespace

extern "C" NV_API intptr_t MEMTEST(int32_t op, FileDescriptor* fd, intptr_t* words) {
  return g_driver.Entry(op, fd, words);
}

extern "C" NV_API const DrvReg MEM$DrvReg = {"MemTest",
                                             "NVMEM.DLL",
                                             "Pruebas del equipo de desarrollo",
                                             "Tabla en memoria",
                                             &MEMTEST,
                                             0x00000001,
                                             {0,   255, 0, 254, 0, 255, 255, 0, 0, 0, 254, 0, 0, 0,
                                              255, 255, 0, 0,   0, 0,   0,   0, 0, 0, 0,   0, 0, 0},
                                             uint32_t(sizeof(MemField)),
                                             uint32_t(sizeof(MemKcb)),
                                             uint32_t(sizeof(MemMemo)),
                                             uint32_t(sizeof(MemFcb)),
                                             {0, 0, 0},
                                             kOperations,
                                             "NVMEMS.DLL"};

const DrvReg& MemDriver::Reg() const {
  return MEM$DrvReg;
}
