// The table checker (dbf_check.h).
#include "drivers/dbase3/dbf_check.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "drivers/dbase3/db3_driver.h"

namespace db3 {

namespace {

void Problem(CheckResult* r, const std::string& text) {
  if (r->status < 1) r->status = 1;
  if (r->problems.size() < 100) r->problems.push_back(text);
}

}  // namespace

CheckResult CheckTable(const std::string& table, const std::vector<std::string>& indexes,
                       FILE* out) {
  CheckResult r;
  std::unique_ptr<nv::EnvFile> dbf;
  nv::OpenOptions o;
  o.mode = 0x40;
  if (nv::GetEnv()->Open(table, o, &dbf)) {
    r.status = 2;
    r.problems.push_back("cannot open " + table);
    return r;
  }
  DbfHeader h;
  std::vector<TableField> fields;
  if (int err = ReadDbfHeader(dbf.get(), &h, &fields)) {
    r.status = 2;
    r.problems.push_back("not a dBase III table (xBase error " + std::to_string(err) + ")");
    return r;
  }
  r.records = h.records;
  if (out) {
    std::fprintf(out, "version 0x%02X, updated %02u-%02u-%02u, %u records, header %u, record %u\n",
                 h.version, h.yy, h.mm, h.dd, h.records, h.header_length, h.record_length);
    if (h.raw[kBusyByte])
      std::fprintf(out,
                   "busy mark set: a program streams into the table or stopped before its "
                   "FLUSH; the next open for writing rebuilds the indexes\n");
    for (const TableField& t : fields)
      std::fprintf(out, "  %-11s %c %3u %2u\n", t.name.c_str(), t.type, t.length, t.decimals);
  }
  std::unique_ptr<nv::EnvFile> dbt;
  const bool memo_fields = std::any_of(fields.begin(), fields.end(),
                                       [](const TableField& t) { return t.type == 'M'; });
  if (memo_fields && nv::GetEnv()->Open(SiblingPath(table, ".DBT"), o, &dbt))
    Problem(&r, "memo file missing");
  std::vector<std::vector<uint8_t>> records(h.records);
  for (uint32_t n = 1; n <= h.records; ++n) {
    std::vector<uint8_t>& raw = records[n - 1];
    raw.resize(h.record_length);
    size_t got = 0;
    if (dbf->Read(h.header_length + uint64_t(n - 1) * h.record_length, raw.data(), raw.size(),
                  &got) ||
        got < raw.size()) {
      Problem(&r, "record " + std::to_string(n) + " cannot be read");
      raw.assign(h.record_length, ' ');
      continue;
    }
    if (raw[0] != ' ' && raw[0] != '*')
      Problem(&r, "record " + std::to_string(n) + ": deleted flag " + std::to_string(raw[0]));
    if (raw[0] == ' ') ++r.live;
    for (const TableField& t : fields) {
      const char* cell = reinterpret_cast<const char*>(raw.data() + t.offset);
      const std::string text(cell, t.length);
      if (t.type == 'D' && text != std::string(8, ' ') && JulianFromText(text) == 0)
        Problem(&r, "record " + std::to_string(n) + ": bad date in " + t.name);
      if (t.type == 'M' && dbt) {
        const double block = ParseNumber(cell, t.length);
        std::string memo;
        if (block < 0 || block > 4e9 ||
            (block > 0 && ReadMemo(dbt.get(), uint32_t(block), 1u << 24, &memo) != 0))
          Problem(&r, "record " + std::to_string(n) + ": memo block " + text + " out of range");
      }
    }
  }
  for (const std::string& path : indexes) {
    std::unique_ptr<NdxFile> ndx;
    if (int err = NdxFile::Open(path, true, &ndx)) {
      Problem(&r, path + ": cannot be read (xBase error " + std::to_string(err) + ")");
      continue;
    }
    ExprPtr expr;
    if (CompileExpr(ndx->expression(), fields, &expr)) {
      Problem(&r, path + ": bad key expression " + ndx->expression());
      continue;
    }
    if (out) std::fprintf(out, "index %s: %s\n", path.c_str(), ndx->expression().c_str());
    std::vector<NdxEntry> walked;
    if (int err = ndx->Walk([&](const NdxEntry& e) {
          walked.push_back(e);
          return walked.size() <= size_t(h.records) + 1;
        })) {
      Problem(&r, path + ": tree damaged (xBase error " + std::to_string(err) + ")");
      continue;
    }
    std::vector<NdxEntry> expected;
    for (uint32_t n = 1; n <= h.records; ++n) {
      if (records[n - 1][0] != ' ') continue;
      Value v;
      if (EvalExpr(*expr, records[n - 1].data(), n, &v)) continue;
      NdxEntry e{std::string(), n};
      if (ndx->numeric()) {
        e.key.assign(8, '\0');
        std::memcpy(e.key.data(), &v.number, 8);
      } else {
        e.key = v.text;
        e.key.resize(ndx->key_length(), ' ');
      }
      expected.push_back(e);
    }
    auto less = [&](const NdxEntry& a, const NdxEntry& b) {
      const int c = ndx->Compare(a.key, b.key);
      return c < 0 || (c == 0 && a.record < b.record);
    };
    std::stable_sort(expected.begin(), expected.end(), less);
    if (ndx->unique())
      expected.erase(std::unique(expected.begin(), expected.end(),
                                 [&](const NdxEntry& a, const NdxEntry& b) {
                                   return ndx->Compare(a.key, b.key) == 0;
                                 }),
                     expected.end());
    if (!std::is_sorted(walked.begin(), walked.end(), less))
      Problem(&r, path + ": entries out of order");
    if (walked.size() != expected.size())
      Problem(&r, path + ": " + std::to_string(walked.size()) + " entries for " +
                      std::to_string(expected.size()) + " records");
    for (size_t i = 0; i < std::min(walked.size(), expected.size()); ++i) {
      if (walked[i].record != expected[i].record || walked[i].key != expected[i].key) {
        Problem(&r, path + ": entry " + std::to_string(i + 1) + " is record " +
                        std::to_string(walked[i].record) + ", the records say " +
                        std::to_string(expected[i].record));
        break;
      }
    }
  }
  return r;
}

}  // namespace db3
