// The dBase III table layer: field mapping, the table header, records and
// their conversion to and from the record buffer, memo files, the files as
// a whole (CREATE, OPEN, CLOSE, PACK, EMPTY ...), index builds and locks.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "drivers/dbase3/db3_driver.h"
#include "host/runtime/codepage.h"
#include "host/runtime/date_time.h"
#include "host/runtime/decimal.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/picture.h"

namespace db3 {

namespace {

nv::Env* E() {
  return nv::GetEnv();
}

uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string AfterColon(const std::string& s) {
  const size_t c = s.find(':');
  return c == std::string::npos ? s : s.substr(c + 1);
}

std::string Folder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// What an external name "PRE:NAME=N(10,2)" says.
struct ExternalName {
  std::string name;  // before '=' (after ':'), upper case; may be empty
  char type = 0;     // 0: none given
  int length = -1, decimals = 0;
};

int ParseExternal(const std::string& ext, ExternalName* out) {
  const size_t eq = ext.find('=');
  out->name = Upper(AfterColon(ext.substr(0, eq)));
  while (!out->name.empty() && out->name.back() == ' ') out->name.pop_back();
  if (eq == std::string::npos) return 0;
  std::string t = Upper(ext.substr(eq + 1));
  if (t.empty() || !std::strchr("CDLMN", t[0])) return 75;
  out->type = t[0];
  if (t.size() == 1) return 0;
  if (out->type != 'N' || t[1] != '(' || t.back() != ')') return 75;
  const std::string body = t.substr(2, t.size() - 3);
  int len = 0, dec = 0, used = 0;
  char sep = 0;
  if (std::sscanf(body.c_str(), "%d%n", &len, &used) != 1) return 75;
  if (size_t(used) < body.size()) {
    int used2 = 0;
    if (std::sscanf(body.c_str() + used, "%c%d%n", &sep, &dec, &used2) != 2 ||
        (sep != ',' && sep != '.') || size_t(used + used2) != body.size())
      return 75;
  }
  if (len < 1 || len > 20 || dec < 0 || (dec > 0 && dec > len - 2)) return 75;
  out->length = len;
  out->decimals = dec;
  return 0;
}

// Numeric picture "@N-10.2" (flags, width, '.', decimals): width and places.
bool NumericPicture(const std::string& pic, int* length, int* decimals) {
  if (pic.size() < 3 || pic[0] != '@' || (pic[1] != 'N' && pic[1] != 'n')) return false;
  size_t i = 2;
  while (i < pic.size() && !std::isdigit(static_cast<unsigned char>(pic[i]))) ++i;
  int len = 0, dec = 0;
  while (i < pic.size() && std::isdigit(static_cast<unsigned char>(pic[i])))
    len = len * 10 + (pic[i++] - '0');
  if (i < pic.size() && (pic[i] == '.' || pic[i] == '`')) {
    ++i;
    while (i < pic.size() && std::isdigit(static_cast<unsigned char>(pic[i])))
      dec = dec * 10 + (pic[i++] - '0');
  }
  if (len <= 0) return false;
  *length = len;
  *decimals = dec;
  return true;
}

bool IsDecimalType(uint8_t t) {
  return t == nv::kTypeDecimal || t == nv::kTypePDecimal;
}

bool DatePicture(const std::string& pic) {
  return pic.size() >= 3 && pic[0] == '@' && (pic[1] == 'D' || pic[1] == 'd') &&
         std::isdigit(static_cast<unsigned char>(pic[2]));
}

int CheckField(const TableField& t) {
  if (t.name.empty() || t.name.size() > 11) return -228;
  switch (t.type) {
    case 'C':
      return t.length >= 1 && t.length <= 254 ? 0 : -229;
    case 'N':
      if (t.length < 1 || t.length > 19) return -229;
      return t.decimals == 0 || (t.decimals <= t.length - 2 && t.decimals <= 15) ? 0 : -230;
    case 'D':
    case 'L':
    case 'M':
      return 0;
    default:
      return -231;
  }
}

std::string TodayStamp(bool update, uint8_t* y, uint8_t* m, uint8_t* d) {
  int yy = 1900, mm = 1, dd = 1;
  nv::YmdFromDate(E()->Today(), &yy, &mm, &dd);
  int year = (yy - 1900) % 256;
  if (year < 0) year += 256;
  if (update && ZeroY2k()) year %= 100;
  *y = uint8_t(year);
  *m = uint8_t(mm);
  *d = uint8_t(dd);
  return {};
}

}  // namespace

// A table named in lower case ("cust.dbf", as other programs on this
// system write them) has its memo file and backups in lower case too.
std::string SiblingPath(const std::string& table, const char* ext) {
  const size_t slash = table.find_last_of('/');
  const size_t dot = table.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return table + ext;
  std::string e = ext;
  if (std::any_of(table.begin() + long(dot), table.end(),
                  [](char c) { return std::islower(static_cast<unsigned char>(c)); }))
    for (char& c : e) c = char(std::tolower(static_cast<unsigned char>(c)));
  return table.substr(0, dot) + e;
}

// ---------------------------------------------------------------------------
// Field mapping.

int MapFields(Db3Fcb* f, bool creating) {
  std::vector<TableField> from_file;
  if (!creating) from_file.swap(f->table);
  f->table.clear();
  for (Db3Memo& m : f->memo_blocks) m.table = -1;
  uint32_t offset = 1;
  size_t next_file_field = 0;
  std::vector<int> memo_fields_by_order;  // M fields still to link, in order
  for (Db3Field& fb : f->field_blocks) {
    fb.stored = false;
    fb.table = -1;
    fb.memo = -1;
    const nv::FieldDesc& d = *fb.desc;
    if (d.type == nv::kTypeGroup || d.over) continue;
    ExternalName ext;
    if (int err = ParseExternal(d.name, &ext)) return err;
    TableField t;
    t.name = !ext.name.empty() ? ext.name : Upper(AfterColon(d.label));
    fb.typed = ext.type != 0;
    if (ext.type) {
      t.type = ext.type;
      switch (ext.type) {
        case 'C': t.length = uint16_t(d.size); break;
        case 'D': t.length = 8; break;
        case 'L': t.length = 1; break;
        case 'M': t.length = 10; break;
        default:
          if (ext.length > 0) {
            t.length = uint16_t(ext.length);
            t.decimals = uint8_t(ext.decimals);
          } else if (d.type == nv::kTypeReal) {
            t.length = 9;
            t.decimals = 2;
          } else if (IsDecimalType(d.type)) {
            t.length = uint16_t(2 * d.size);
            t.decimals = d.places;
          } else {
            t.length = d.type == nv::kTypeString ? uint16_t(std::min<uint32_t>(d.size, 19))
                       : d.type == nv::kTypeByte ? 3
                       : d.type == nv::kTypeShort || d.type == nv::kTypeUShort ? 6
                                                                                : 11;
          }
      }
    } else {
      int len = 0, dec = 0;
      switch (d.type) {
        case nv::kTypeByte: t.type = 'L'; t.length = 1; break;
        case nv::kTypeDate: t.type = 'D'; t.length = 8; break;
        case nv::kTypeLong: t.type = 'M'; t.length = 10; break;
        case nv::kTypeReal: t.type = 'N'; t.length = 9; t.decimals = 2; break;
        case nv::kTypeShort:
        case nv::kTypeUShort: t.type = 'N'; t.length = 6; break;
        case nv::kTypeULong: t.type = 'N'; t.length = 10; break;
        case nv::kTypeDecimal:
        case nv::kTypePDecimal:
          // Only matched with a table field on OPEN; CREATE needs "=N".
          if (creating) return 75;
          t.type = 'N';
          t.length = uint16_t(2 * d.size);
          t.decimals = d.places;
          break;
        case nv::kTypeString:
          if (DatePicture(d.picture)) {
            t.type = 'D';
            t.length = 8;
          } else if (NumericPicture(d.picture, &len, &dec)) {
            if (uint32_t(len) != d.size) return 75;
            t.type = 'N';
            t.length = uint16_t(len);
            t.decimals = uint8_t(dec);
          } else {
            t.type = 'C';
            t.length = uint16_t(std::min<uint32_t>(d.size, 65535));
            for (size_t m = 0; m < f->memo_blocks.size(); ++m) {
              if (Upper(AfterColon(f->memo_blocks[m].name)) == t.name) {
                t.type = 'M';
                t.length = 10;
                fb.memo = int(m);
              }
            }
          }
          break;
        default:
          return 75;
      }
    }
    if (d.Elements() > 1) return 75;
    if (!creating) {
      // Matched with the table field at its place.
      if (next_file_field >= from_file.size()) return 47;
      const TableField& have = from_file[next_file_field++];
      if (!ext.name.empty() && ext.name.substr(0, 12) != have.name.substr(0, 12)) return 47;
      const TableField declared = t;
      t = have;
      if (fb.typed && declared.type != have.type) return 47;
    } else {
      t.offset = offset;
      offset += t.length;
      if (int err = CheckField(t)) return err;
    }
    fb.stored = true;
    fb.table = int(f->table.size());
    if (t.type == 'M' && fb.memo < 0) memo_fields_by_order.push_back(int(&fb - f->field_blocks.data()));
    f->table.push_back(t);
  }
  if (!creating) {
    // Fields of the table that the declaration does not name stay in it.
    for (; next_file_field < from_file.size(); ++next_file_field)
      f->table.push_back(from_file[next_file_field]);
    f->table_record_length = 1;
    for (const TableField& t : f->table) f->table_record_length += t.length;
  } else {
    if (f->table.empty() || f->table.size() > 128) return -227;
    if (offset > kMaxRecordLength) return -232;
    f->table_record_length = offset;
  }
  // Memo links: named ones first, then the others in order.
  size_t linked = 0;
  for (Db3Field& fb : f->field_blocks)
    if (fb.memo >= 0) {
      f->memo_blocks[size_t(fb.memo)].table = fb.table;
      ++linked;
    }
  size_t next_memo = 0;
  for (int i : memo_fields_by_order) {
    while (next_memo < f->memo_blocks.size() && f->memo_blocks[next_memo].table >= 0) ++next_memo;
    if (next_memo == f->memo_blocks.size()) {
      ++linked;  // one M field too many: counted so that the check fails
      break;
    }
    f->field_blocks[size_t(i)].memo = int(next_memo);
    f->memo_blocks[next_memo].table = f->field_blocks[size_t(i)].table;
    ++linked;
  }
  if (linked + 0 != f->memo_blocks.size() ||
      std::any_of(f->memo_blocks.begin(), f->memo_blocks.end(),
                  [](const Db3Memo& m) { return m.table < 0; })) {
    if (creating) ShowMessage("You have a field of type LONG with no matching memo");
    return 75;
  }
  return 0;
}

namespace {

std::string IndexName(const Db3Key& k) {
  std::string n = k.external_name;
  const size_t slash = n.find_last_of("\\/");
  if (slash != std::string::npos) n = n.substr(slash + 1);
  if (n.empty()) n = AfterColon(k.name);
  const size_t dot = n.find('.');
  if (dot != std::string::npos) n = n.substr(0, dot);
  return n;
}

}  // namespace

namespace {

// Each index's file name, beside the table; needs no field mapping, so
// that REMOVE, COPY and RENAME of a file never opened find the indexes.
int IndexPaths(Db3Fcb* f) {
  std::map<std::string, int> seen;
  for (Db3Key& k : f->key_blocks) {
    if (k.dynamic) continue;
    const std::string name = IndexName(k);
    if (!seen.emplace(Upper(name.substr(0, 8)), 1).second) {
      ShowMessage(
          "This file has two key files with the same name.\nKey names must be unique in the "
          "first 8 characters");
      return 38;
    }
    k.path = Folder(f->name) + name + ".NDX";
  }
  return 0;
}

}  // namespace

int KeyShapes(Db3Fcb* f) {
  if (int err = IndexPaths(f)) return err;
  for (Db3Key& k : f->key_blocks) {
    if (k.dynamic) continue;
    std::vector<KeyComponent> comps;
    for (const nv::DrvKcbComponent& c : k.components) {
      const auto* fb = static_cast<const Db3Field*>(c.field);
      if (!fb->stored) return 75;
      // An index of this format orders every value upwards: a descending
      // component cannot be expressed (kept silently ascending, it would
      // give its readers the wrong order).
      if (c.descending) return 76;
      comps.push_back({&f->table[size_t(fb->table)]});
    }
    if (int err = GenerateKeyExpression(comps, (k.attributes & nv::kKeyNoCase) != 0, &k.expr,
                                        &k.type))
      return err;
  }
  return 0;
}

namespace {

// Compiles a key's expression and finds its type and length on the probe.
int ShapeOf(Db3Fcb* f, Db3Key* k) {
  ExprPtr e;
  if (int err = CompileExpr(k->expr, f->table, &e)) return err;
  const std::vector<uint8_t> probe = ProbeRecord(f->table, f->table_record_length);
  Value v;
  if (int err = EvalExpr(*e, probe.data(), 1, &v)) return err;
  if (v.type == 'L') return -222;
  k->type = v.type;
  k->length = v.type == 'C' ? uint16_t(v.text.size()) : 8;
  if (k->length == 0 || k->length > 100) return -223;
  k->compiled = std::move(e);
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Table header.

std::vector<uint8_t> DbfHeaderBytes(const DbfHeader& h, const std::vector<TableField>& fields,
                                    bool omnis) {
  const size_t hl = 32 * fields.size() + (omnis ? 64 : 33);
  std::vector<uint8_t> b(hl + 1, 0);
  b[0] = h.version;
  b[1] = h.yy;
  b[2] = h.mm;
  b[3] = h.dd;
  Put32(&b[4], h.records);
  b[8] = uint8_t(hl);
  b[9] = uint8_t(hl >> 8);
  b[10] = uint8_t(h.record_length);
  b[11] = uint8_t(h.record_length >> 8);
  for (size_t i = 0; i < fields.size(); ++i) {
    uint8_t* d = &b[32 + 32 * i];
    std::memcpy(d, fields[i].name.data(), std::min<size_t>(fields[i].name.size(), 11));
    d[11] = uint8_t(fields[i].type);
    d[16] = uint8_t(fields[i].length);
    d[17] = fields[i].type == 'C' ? uint8_t(fields[i].length >> 8) : fields[i].decimals;
  }
  b[32 + 32 * fields.size()] = 0x0D;
  b[hl] = 0x1A;
  return b;
}

int ReadDbfHeader(nv::EnvFile* file, DbfHeader* h, std::vector<TableField>* fields) {
  uint8_t b[32];
  size_t got = 0;
  if (file->Read(0, b, 32, &got)) return -202;
  if (got < 32) return -218;
  if (b[0] != 0x03 && b[0] != 0x83) return -218;
  std::memcpy(h->raw, b, 32);
  h->version = b[0];
  h->yy = b[1];
  h->mm = b[2];
  h->dd = b[3];
  h->records = Get32(b + 4);
  h->header_length = uint16_t(b[8] | b[9] << 8);
  h->record_length = uint16_t(b[10] | b[11] << 8);
  if (h->header_length < 65 || h->record_length < 2) return -219;
  if (!fields) return 0;
  std::vector<uint8_t> desc(h->header_length - 32u);
  if (file->Read(32, desc.data(), desc.size(), &got)) return -202;
  if (got < desc.size()) return -219;
  fields->clear();
  uint32_t offset = 1;
  size_t i = 0;
  for (; i + 32 <= desc.size() && desc[i] != 0x0D; i += 32) {
    const uint8_t* d = &desc[i];
    TableField t;
    t.name.assign(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), 11));
    t.type = char(std::toupper(d[11]));
    t.length = d[16];
    t.decimals = d[17];
    if (t.type == 'C') {
      t.length = uint16_t(d[16] | d[17] << 8);
      t.decimals = 0;
    }
    if (t.name.empty() || t.length == 0) return -206;
    if (!std::strchr("CDNLMF", t.type)) return -231;
    t.offset = offset;
    offset += t.length;
    fields->push_back(t);
  }
  if (i >= desc.size() || fields->empty()) return -219;
  if (fields->size() > 128) return -227;
  if (offset != h->record_length) return -232;
  uint64_t size = 0;
  if (file->Size(&size)) return -202;
  if (uint64_t(h->header_length) + uint64_t(h->records) * h->record_length > size) return -206;
  return 0;
}

int WriteHeader(Db3Fcb* f) {
  if (f->streaming && f->exclusive) {
    f->header_dirty = true;
    return 0;
  }
  f->header_dirty = false;
  TodayStamp(true, &f->hdr.yy, &f->hdr.mm, &f->hdr.dd);
  uint8_t* b = f->hdr.raw;
  b[1] = f->hdr.yy;
  b[2] = f->hdr.mm;
  b[3] = f->hdr.dd;
  Put32(b + 4, f->hdr.records);
  return f->dbf->Write(0, b, 32) ? -201 : 0;
}

int MarkBusy(Db3Fcb* f) {
  if (f->busy_marked || !f->streaming || !f->exclusive || f->read_only) return 0;
  const uint8_t on = 1;
  if (f->dbf->Write(kBusyByte, &on, 1)) return -201;
  f->hdr.raw[kBusyByte] = on;
  f->busy_marked = true;
  return 0;
}

namespace {

// The header written now, also while streaming holds it back; with `idle`
// the busy mark goes with it.
int WriteHeaderNow(Db3Fcb* f, bool idle) {
  const bool s = f->streaming;
  const uint8_t mark = f->hdr.raw[kBusyByte];
  if (idle) f->hdr.raw[kBusyByte] = 0;
  f->streaming = false;
  const int err = WriteHeader(f);
  f->streaming = s;
  if (err) {
    f->hdr.raw[kBusyByte] = mark;
    return err;
  }
  if (idle) f->busy_marked = false;
  return 0;
}

// The end-of-file byte after the first `records` records, and nothing after.
int EndTableAt(Db3Fcb* f, uint32_t records) {
  const uint8_t eof = 0x1A;
  const uint64_t at = f->hdr.header_length + uint64_t(records) * f->hdr.record_length;
  if (f->dbf->Write(at, &eof, 1) || f->dbf->Truncate(at + 1)) return -201;
  return 0;
}

constexpr uint64_t kBlock = 64 * 1024;

// Copies the bytes [at, at + n) of the table from its kept blocks, reading
// the blocks that are not kept yet; false when they cannot all be read.
bool FromBlocks(Db3Fcb* f, uint64_t at, uint8_t* out, size_t n) {
  while (n > 0) {
    const uint64_t b = at / kBlock, in = at % kBlock;
    if (b >= f->blocks.size()) f->blocks.resize(size_t(b) + 1);
    auto& block = f->blocks[size_t(b)];
    if (!block) {
      if ((f->blocks_held + 1) * kBlock > uint64_t(f->buffers) * kNdxPage) f->ForgetBlocks();
      if (b >= f->blocks.size()) f->blocks.resize(size_t(b) + 1);
      auto fresh = std::make_unique<std::vector<uint8_t>>(kBlock);
      size_t got = 0;
      if (f->dbf->Read(b * kBlock, fresh->data(), kBlock, &got)) return false;
      fresh->resize(got);
      f->blocks[size_t(b)] = std::move(fresh);
      ++f->blocks_held;
    }
    const std::vector<uint8_t>& have = *f->blocks[size_t(b)];
    if (in >= have.size()) return false;
    const size_t take = std::min<size_t>(n, have.size() - in);
    std::memcpy(out, have.data() + in, take);
    out += take;
    at += take;
    n -= take;
  }
  return true;
}

// A write of this open: the kept blocks it covers are dropped.
void DropBlocks(Db3Fcb* f, uint64_t at, size_t n) {
  for (uint64_t b = at / kBlock; b <= (at + n) / kBlock && b < f->blocks.size(); ++b) {
    if (f->blocks[size_t(b)]) --f->blocks_held;
    f->blocks[size_t(b)].reset();
  }
}

}  // namespace

int ReadRecord(Db3Fcb* f, uint32_t n, std::vector<uint8_t>* raw) {
  if (n == 0 || n > f->hdr.records) return 35;
  raw->resize(f->hdr.record_length);
  if (!f->appends.empty() && n >= f->appends_first) {
    const size_t at = size_t(n - f->appends_first) * f->hdr.record_length;
    std::memcpy(raw->data(), f->appends.data() + at, raw->size());
    return 0;
  }
  if (f->exclusive && f->buffers > 0) {
    return FromBlocks(f, f->RecordOffset(n), raw->data(), raw->size()) ? 0 : -206;
  }
  size_t got = 0;
  if (f->dbf->Read(f->RecordOffset(n), raw->data(), raw->size(), &got)) return -202;
  if (got < raw->size()) return -206;
  return 0;
}

int WriteRecord(Db3Fcb* f, uint32_t n, const uint8_t* raw) {
  if (!f->appends.empty() && n >= f->appends_first) {
    const size_t at = size_t(n - f->appends_first) * f->hdr.record_length;
    std::memcpy(f->appends.data() + at, raw, f->hdr.record_length);
    return 0;
  }
  DropBlocks(f, f->RecordOffset(n), f->hdr.record_length);
  return f->dbf->Write(f->RecordOffset(n), raw, f->hdr.record_length) ? -201 : 0;
}

int AppendRecord(Db3Fcb* f, uint32_t n, const uint8_t* raw) {
  if (f->streaming && f->exclusive) {
    if (f->appends.empty()) f->appends_first = n;
    f->appends.insert(f->appends.end(), raw, raw + f->hdr.record_length);
    return f->appends.size() >= (1u << 20) ? FlushAppends(f) : 0;
  }
  std::vector<uint8_t> bytes(raw, raw + f->hdr.record_length);
  bytes.push_back(0x1A);
  DropBlocks(f, f->RecordOffset(n), bytes.size());
  return f->dbf->Write(f->RecordOffset(n), bytes.data(), bytes.size()) ? -201 : 0;
}

int FlushAppends(Db3Fcb* f) {
  if (f->appends.empty()) return 0;
  f->appends.push_back(0x1A);
  DropBlocks(f, f->RecordOffset(f->appends_first), f->appends.size());
  const int err = f->dbf->Write(f->RecordOffset(f->appends_first), f->appends.data(),
                                f->appends.size())
                      ? -201
                      : 0;
  f->appends.clear();
  return err;
}

// ---------------------------------------------------------------------------
// Memo file.

int ReadMemo(nv::EnvFile* dbt, uint32_t block, size_t max, std::string* text) {
  text->clear();
  if (block == 0) return 0;
  uint64_t size = 0;
  if (dbt->Size(&size)) return -202;
  uint64_t at = uint64_t(block) * 512;
  if (at >= size) return -206;
  char buf[512];
  while (text->size() < max) {
    size_t got = 0;
    if (dbt->Read(at, buf, sizeof buf, &got)) return -202;
    if (got == 0) break;
    const void* end = std::memchr(buf, 0x1A, got);
    const size_t n = end ? size_t(static_cast<const char*>(end) - buf) : got;
    text->append(buf, std::min(n, max - text->size()));
    if (end) break;
    at += got;
  }
  return 0;
}

int WriteMemo(nv::EnvFile* dbt, const std::string& text, uint32_t old_block, uint32_t* block) {
  uint8_t head[512] = {};
  size_t got = 0;
  if (dbt->Read(0, head, 512, &got)) return -202;
  if (got < 4) return -217;
  uint32_t next = Get32(head);
  uint64_t size = 0;
  if (dbt->Size(&size)) return -202;
  if (next == 0 || uint64_t(next) * 512 < size) next = uint32_t((size + 511) / 512);
  std::string bytes = text + "\x1A\x1A";
  const uint32_t blocks = uint32_t((bytes.size() + 511) / 512);
  uint32_t at = 0;
  if (old_block > 0 && old_block < next) {
    // The old text's blocks are used again when the new text fits in them.
    std::string old;
    if (ReadMemo(dbt, old_block, 1u << 20, &old) == 0 && (old.size() + 2 + 511) / 512 >= blocks)
      at = old_block;
  }
  if (at == 0) {
    at = next;
    next += blocks;
  }
  bytes.resize(size_t(blocks) * 512, '\0');
  if (dbt->Write(uint64_t(at) * 512, bytes.data(), bytes.size())) return -201;
  if (Get32(head) != next) {
    Put32(head, next);
    if (dbt->Write(0, head, 4)) return -201;
  }
  *block = at;
  return 0;
}

// ---------------------------------------------------------------------------
// Record buffer <-> table record.

namespace {

double NumberOf(const nv::FieldDesc& d, const uint8_t* p) {
  switch (d.type) {
    case nv::kTypeByte: return p[0];
    case nv::kTypeShort: { int16_t v; std::memcpy(&v, p, 2); return v; }
    case nv::kTypeUShort: { uint16_t v; std::memcpy(&v, p, 2); return v; }
    case nv::kTypeLong: { int32_t v; std::memcpy(&v, p, 4); return v; }
    case nv::kTypeULong: { uint32_t v; std::memcpy(&v, p, 4); return v; }
    case nv::kTypeReal: { double v; std::memcpy(&v, p, 8); return v; }
    default: return ParseNumber(reinterpret_cast<const char*>(p), d.size);
  }
}

void SetNumber(const nv::FieldDesc& d, uint8_t* p, double v) {
  auto clamp = [&](double lo, double hi) { return std::clamp(std::round(v), lo, hi); };
  switch (d.type) {
    case nv::kTypeByte: p[0] = uint8_t(clamp(0, 255)); break;
    case nv::kTypeShort: { int16_t x = int16_t(clamp(-32768, 32767)); std::memcpy(p, &x, 2); break; }
    case nv::kTypeUShort: { uint16_t x = uint16_t(clamp(0, 65535)); std::memcpy(p, &x, 2); break; }
    case nv::kTypeLong: { int32_t x = int32_t(clamp(-2147483648.0, 2147483647.0)); std::memcpy(p, &x, 4); break; }
    case nv::kTypeULong: { uint32_t x = uint32_t(clamp(0, 4294967295.0)); std::memcpy(p, &x, 4); break; }
    case nv::kTypeReal: std::memcpy(p, &v, 8); break;
    default: break;
  }
}

bool IsNumberType(uint8_t t) {
  return t == nv::kTypeByte || t == nv::kTypeShort || t == nv::kTypeUShort ||
         t == nv::kTypeLong || t == nv::kTypeULong || t == nv::kTypeReal;
}

// A packed decimal is shown with the picture "@N-_w.p": w twice its size,
// p its places (minus sign, blank fill, no grouping).
int DecimalWidth(const nv::FieldDesc& d) {
  char text[32];
  std::snprintf(text, sizeof text, "@N-_%u.%u", unsigned(2 * d.size), unsigned(d.places));
  nv::Picture pic;
  return nv::ParsePicture(text, &pic) ? pic.width : 0;
}

// The packed decimal at `in` as the text of table field t; -233 (bad data)
// when it does not fit the picture or the field.
int DecimalToField(const nv::FieldDesc& d, const uint8_t* in, const TableField& t,
                   std::string* text) {
  std::string plain = nv::DecimalToText(in, d.size, d.places);
  const int width = DecimalWidth(d);
  if (plain.empty() || width == 0 || plain.size() > size_t(width)) return -233;
  size_t room = t.length;
  switch (t.type) {
    case 'N': {
      // Rounded exactly to the table field's decimals.
      uint8_t wide[16];
      if (!nv::DecimalFromText(plain, wide, sizeof wide, t.decimals)) return -233;
      plain = nv::DecimalToText(wide, sizeof wide, t.decimals);
      break;
    }
    case 'C':
      room = std::min<size_t>(room, size_t(width));
      break;
    case 'L':
      *text = plain.find_first_of("123456789") != std::string::npos ? "T" : "F";
      return 0;
    default:
      return 75;
  }
  if (plain.size() > room) return -233;
  *text = std::string(room - plain.size(), ' ') + plain;
  return 0;
}

// Table field t's text into the packed decimal at `out` (untouched on
// failure); -233 when the text is not a number or does not fit.
int DecimalFromField(const nv::FieldDesc& d, const char* in, const TableField& t, uint8_t* out) {
  std::string text;
  if (t.type == 'L') text = in[0] && std::strchr("TtYy", in[0]) ? "1" : "0";
  else if (t.type == 'N' || t.type == 'C') text.assign(in, t.length);
  else return 75;
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  if (text.find_first_not_of(' ') == std::string::npos) text = "0";
  return nv::DecimalFromText(text, out, d.size, d.places) ? 0 : -233;
}

}  // namespace

int ToTable(Db3Fcb* f, std::vector<uint8_t>* raw, const std::vector<uint8_t>* old, bool memos) {
  raw->assign(f->hdr.record_length ? f->hdr.record_length : f->table_record_length, ' ');
  if (old && old->size() == raw->size()) *raw = *old;
  (*raw)[0] = ' ';
  const bool oem = (f->attributes & nv::kFcbOem) != 0;
  for (Db3Field& fb : f->field_blocks) {
    if (!fb.stored) continue;
    const nv::FieldDesc& d = *fb.desc;
    const TableField& t = f->table[size_t(fb.table)];
    if (t.offset + t.length > raw->size()) return -206;
    char* out = reinterpret_cast<char*>(raw->data() + t.offset);
    const uint8_t* in = f->record + d.offset;
    std::string text;
    if (t.type == 'M') {
      if (!memos || fb.memo < 0) continue;  // the link stays as it was
      const nv::MemoDecl* md = f->memo_blocks[size_t(fb.memo)].decl;
      std::string m(md->buffer, md->size);
      while (!m.empty() && (m.back() == ' ' || m.back() == '\0')) m.pop_back();
      if (m.empty() || !f->dbt) {
        text.assign(10, ' ');
      } else {
        const uint32_t old_block =
            old && old->size() == raw->size() ? uint32_t(ParseNumber(out, 10)) : 0;
        uint32_t block = 0;
        if (int err = WriteMemo(f->dbt.get(), m, old_block, &block)) return err;
        text = NumberText(block, 10, 0);
        if (IsNumberType(d.type)) SetNumber(d, f->record + d.offset, block);
      }
    } else if (d.type == nv::kTypeDate) {
      nv::BinDate bd;
      std::memcpy(&bd, in, sizeof bd);
      int32_t day = nv::DateFromBin(bd);
      int y, m, dd;
      if (day <= 0 || !nv::YmdFromDate(day, &y, &m, &dd)) {
        text.assign(8, ' ');
      } else {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04u%02u%02u", unsigned(y), unsigned(m), unsigned(dd));
        text = buf;
      }
    } else if (IsNumberType(d.type)) {
      // A number the field cannot hold (a logical holds 0 and 1, a numeric
      // field its width) is bad data: written, it would read back changed.
      const double v = NumberOf(d, in);
      if (t.type == 'L' && v != 0 && v != 1) return -233;
      if (t.type == 'L') text = v != 0 ? "T" : "F";
      else text = NumberText(v, t.length, t.type == 'N' ? t.decimals : 0);
      if (text[0] == '*') return -233;
    } else if (IsDecimalType(d.type)) {
      if (int err = DecimalToField(d, in, t, &text)) return err;
    } else if (d.type == nv::kTypeString) {
      text.assign(reinterpret_cast<const char*>(in), d.size);
      if (t.type == 'C') {
        if (oem) nv::AnsiToOem(text.data(), text.size());
      } else if (t.type == 'N') {
        text = NumberText(ParseNumber(text.data(), text.size()), t.length, t.decimals);
        if (text[0] == '*') return -233;
      } else if (t.type == 'L') {
        text = std::strchr("TtYy1", text.empty() ? 'F' : text[0]) && !text.empty() ? "T" : "F";
      }
    } else {
      return 75;
    }
    text.resize(t.length, ' ');
    std::memcpy(out, text.data(), t.length);
  }
  return 0;
}

int FromTable(Db3Fcb* f, const uint8_t* raw, bool memos) {
  const bool oem = (f->attributes & nv::kFcbOem) != 0;
  for (Db3Field& fb : f->field_blocks) {
    if (!fb.stored) continue;
    const nv::FieldDesc& d = *fb.desc;
    const TableField& t = f->table[size_t(fb.table)];
    const char* in = reinterpret_cast<const char*>(raw + t.offset);
    uint8_t* out = f->record + d.offset;
    if (t.type == 'M') {
      const uint32_t block = uint32_t(std::max(0.0, ParseNumber(in, t.length)));
      if (IsNumberType(d.type)) SetNumber(d, out, block);
      if (fb.memo >= 0 && memos) {
        nv::MemoDecl* md = f->memo_blocks[size_t(fb.memo)].decl;
        std::string text;
        if (block && f->dbt) {
          if (int err = ReadMemo(f->dbt.get(), block, md->size, &text)) return err;
        }
        std::memset(md->buffer, ' ', md->size);
        std::memcpy(md->buffer, text.data(), std::min<size_t>(text.size(), md->size));
      }
      continue;
    }
    if (d.type == nv::kTypeDate) {
      const double jd = t.type == 'D' ? JulianFromText(std::string(in, 8)) : 0;
      int y, m, dd;
      nv::BinDate bd{};
      if (jd != 0 && YmdFromJulian(jd, &y, &m, &dd)) bd = nv::BinFromDate(nv::DateFromYmd(y, m, dd));
      std::memcpy(out, &bd, sizeof bd);
    } else if (IsNumberType(d.type)) {
      double v = 0;
      if (t.type == 'L') v = std::strchr("TtYy", in[0]) && in[0] ? 1 : 0;
      else v = ParseNumber(in, t.length);
      SetNumber(d, out, v);
    } else if (IsDecimalType(d.type)) {
      if (int err = DecimalFromField(d, in, t, out)) return err;
    } else if (d.type == nv::kTypeString) {
      std::string text(in, t.length);
      if (t.type == 'C' && oem) nv::OemToAnsi(text.data(), text.size());
      text.resize(d.size, ' ');
      std::memcpy(out, text.data(), d.size);
    }
  }
  return 0;
}

int KeyOf(Db3Key* k, const uint8_t* raw, uint32_t recno, std::string* key) {
  if (!k->compiled) return -207;
  Value v;
  if (int err = EvalExpr(*k->compiled, raw, recno, &v)) return err;
  if (k->type == 'C') {
    if (v.type != 'C') return -222;
    *key = v.text;
    key->resize(k->length, ' ');
    return 0;
  }
  if (v.type != 'N' && v.type != 'D') return -222;
  key->assign(8, '\0');
  std::memcpy(key->data(), &v.number, 8);
  return 0;
}

// ---------------------------------------------------------------------------
// Locks.

int LockRegion(Db3Fcb* f, uint64_t offset, uint64_t length, bool exclusive, int tries_ms) {
  const int64_t until = E()->TickCount() + tries_ms;
  for (;;) {
    const int r = f->dbf->Lock(offset, length, exclusive && !f->read_only, false);
    if (r == 0) return 0;
    if (r != nv::kOsLockViolation || E()->TickCount() >= until) return -279;
    E()->Delay(1);
  }
}

void UnlockRegion(Db3Fcb* f, uint64_t offset, uint64_t length) {
  f->dbf->Unlock(offset, length);
}

int BeginOp(Db3Fcb* f, bool writes) {
  if (f->locked || f->count_locked || (f->exclusive && (!writes || f->deny_all))) return 0;
  if (int err = LockRegion(f, 4, 4, writes, 3000)) return err;
  f->count_locked = true;
  if (f->exclusive) return 0;
  if (int err = ReadDbfHeader(f->dbf.get(), &f->hdr, nullptr)) return err;
  for (Db3Key& k : f->key_blocks)
    if (k.ndx)
      if (int err = k.ndx->Forget()) return err;
  return 0;
}

int GuardWrites(Db3Fcb* f) {
  if (!f->exclusive || f->deny_all || f->read_only || f->locked || f->count_locked) return 0;
  if (int err = LockRegion(f, 4, 4, true, 3000)) return err;
  f->count_locked = true;
  return 0;
}

int EndOp(Db3Fcb* f) {
  if (!f->count_locked) return 0;
  int err = 0;
  // Index pages that left the page cache in the middle of this operation
  // left a half-made tree in the file: the rest follows before readers
  // come back in.
  if (f->exclusive)
    for (Db3Key& k : f->key_blocks)
      if (k.ndx && !err) err = k.ndx->Flush();
  f->count_locked = false;
  if (f->dbf) UnlockRegion(f, 4, 4);
  return err;
}

// ---------------------------------------------------------------------------
// The files as a whole.

namespace {

int OsToXbase(int os) {
  switch (os) {
    case 0: return 0;
    case nv::kOsFileNotFound: return 2;
    case nv::kOsPathNotFound: return 3;
    case nv::kOsSharingViolation:
    case nv::kOsLockViolation: return 32;
    default: return 5;
  }
}

// A dynamic index lives while its file is open: its work file goes at CLOSE.
void CloseIndexes(Db3Fcb* f) {
  for (Db3Key& k : f->key_blocks) {
    if (k.ndx) k.ndx->Flush();
    k.ndx.reset();
    if (k.dynamic && !k.path.empty()) {
      E()->Remove(k.path);
      k.path.clear();
    }
  }
}

int OpenIndex(Db3Fcb* f, Db3Key* k) {
  std::unique_ptr<NdxFile> n;
  if (int err = NdxFile::Open(k->path, f->read_only, &n)) return err == -250 ? 46 : err;
  k->expr = n->expression();
  if (int err = ShapeOf(f, k)) return err;
  if (k->length != n->key_length() || (k->type != 'C') != n->numeric()) return -223;
  n->SetCaching(f->exclusive, size_t(f->buffers));
  n->SetWriteGuard([f] { return GuardWrites(f); });
  n->SetDeferred(f->streaming && f->exclusive);
  k->ndx = std::move(n);
  return 0;
}

int CreateIndex(Db3Fcb* f, Db3Key* k) {
  if (int err = ShapeOf(f, k)) return err;
  std::unique_ptr<NdxFile> n;
  return NdxFile::Create(k->path, k->expr, k->type != 'C', k->length, k->unique, &n);
}

}  // namespace

int CreateFiles(Db3Fcb* f) {
  if (f->open()) return 52;
  if (!(f->attributes & nv::kFcbCreate)) return 54;
  if (f->name.empty()) return 45;
  if (int err = MapFields(f, true)) return err;
  if (int err = KeyShapes(f)) return err;
  DbfHeader h;
  h.version = f->memo_blocks.empty() ? 0x03 : 0x83;
  TodayStamp(false, &h.yy, &h.mm, &h.dd);
  h.record_length = uint16_t(f->table_record_length);
  std::vector<uint8_t> bytes = DbfHeaderBytes(h, f->table, f->omnis);
  h.header_length = uint16_t(bytes.size() - 1);
  std::unique_ptr<nv::EnvFile> file;
  nv::OpenOptions o;
  o.mode = 0x12;
  o.create = true;
  o.truncate = true;
  if (int err = E()->Open(f->name, o, &file)) return OsToXbase(err);
  if (file->Write(0, bytes.data(), bytes.size())) return -201;
  file.reset();
  for (Db3Key& k : f->key_blocks) {
    if (k.dynamic) continue;
    if (int err = CreateIndex(f, &k)) return err;
  }
  if (!f->memo_blocks.empty()) {
    o.mode = 0x12;
    if (int err = E()->Open(SiblingPath(f->name, ".DBT"), o, &file)) return OsToXbase(err);
    uint8_t head[512] = {};
    Put32(head, 1);
    head[16] = 0x03;
    if (file->Write(0, head, 512)) return -201;
  }
  return 0;
}

namespace {

// The busy mark of a program that died streaming (see db3_driver.h): the
// records it never counted go, the indexes are built again from the table,
// and the mark goes last. Under the count region: readers wait, and of two
// opens repairing at once the second finds the mark gone.
int RepairAfterCrash(Db3Fcb* f) {
  int err = BeginOp(f, true);
  if (!err && f->hdr.raw[kBusyByte] != 0) {
    err = EndTableAt(f, f->hdr.records);
    if (!err) err = BuildAll(f);
    for (Db3Key& k : f->key_blocks)
      if (!err && k.ndx) err = k.ndx->Sync();
    if (!err) err = WriteHeaderNow(f, true);
  }
  const int end = EndOp(f);
  return err ? err : end;
}

}  // namespace

int OpenFiles(Db3Fcb* f, uint32_t mode) {
  if (f->open()) return 52;
  if (f->name.empty()) return 45;
  if (drv::RemoteBindingsExist()) return 90;
  const uint32_t access = mode & 0x0F, share = mode & 0xF0;
  f->read_only = access == 0;
  f->exclusive = share == nv::kDenyAll || share == nv::kDenyWrite;
  f->deny_all = share == nv::kDenyAll;
  nv::OpenOptions o;
  o.mode = mode;
  int err = E()->Open(f->name, o, &f->dbf);
  if (err) return OsToXbase(err);
  if (!(err = ReadDbfHeader(f->dbf.get(), &f->hdr, &f->table)) && !(err = MapFields(f, false)) &&
      !(err = KeyShapes(f))) {
    for (Db3Key& k : f->key_blocks) {
      if (k.dynamic) continue;
      if ((err = OpenIndex(f, &k)) != 0) break;
    }
    if (!err && !f->memo_blocks.empty()) {
      o.mode = f->read_only ? 0x40 : 0x42;
      const int e = E()->Open(SiblingPath(f->name, ".DBT"), o, &f->dbt);
      if (e) err = e == nv::kOsFileNotFound ? 73 : OsToXbase(e);
    }
  }
  if (!err && !f->read_only && f->hdr.raw[kBusyByte] != 0) err = RepairAfterCrash(f);
  if (err) {
    CloseFiles(f);
    return err;
  }
  f->current = 0;
  f->seq = Seq{};
  f->current_key = nullptr;
  f->open_mode = mode;
  return 0;
}

int FlushFiles(Db3Fcb* f) {
  if (!f->open()) return 0;
  if (int err = FlushAppends(f)) return err;
  for (Db3Key& k : f->key_blocks)
    if (k.ndx)
      if (int err = k.ndx->Flush()) return err;
  // The header last: its count then names written records only, and the
  // busy mark goes once the indexes agree with the table.
  if (f->header_dirty || f->busy_marked) return WriteHeaderNow(f, true);
  return 0;
}

int FlushAndSync(Db3Fcb* f) {
  if (!f->open()) return 0;
  f->streaming = false;
  for (Db3Key& k : f->key_blocks)
    if (k.ndx) k.ndx->SetDeferred(false);
  if (int err = FlushFiles(f)) return err;
  if (f->read_only) return 0;
  if (f->dbf->Sync(false) || (f->dbt && f->dbt->Sync(false))) return -247;
  for (Db3Key& k : f->key_blocks)
    if (k.ndx && k.ndx->Sync()) return -247;
  return 0;
}

int CloseFiles(Db3Fcb* f) {
  int err = 0;
  if (f->open()) {
    f->streaming = false;
    // What streaming held back reaches the files as one change.
    if (f->exclusive && !f->read_only) BeginOp(f, true);
    err = FlushFiles(f);
    if (f->held) UnlockRegion(f, f->RecordOffset(f->held), f->hdr.record_length);
    if (f->locked) UnlockRegion(f, 0, kWholeTable);
  }
  EndOp(f);
  CloseIndexes(f);
  f->ForgetBlocks();
  f->appends.clear();
  f->busy_marked = false;  // a failed flush leaves it on disk for the next open
  f->dbt.reset();
  f->dbf.reset();
  f->held = 0;
  f->locked = false;
  f->current = 0;
  f->streaming = false;
  return err;
}

// Linux lets a file be unlinked or renamed while others have it open; they
// would go on writing to a file no longer under its name and lose it. So
// REMOVE and RENAME answer 5 while another open of the table exists.
int RefuseIfOpenElsewhere(const std::string& path) {
  std::unique_ptr<nv::EnvFile> probe;
  nv::OpenOptions o;
  o.mode = nv::kReadWrite | nv::kDenyNone;
  if (E()->Open(path, o, &probe) != 0) return 0;  // the operation itself answers
  return probe->OtherOpens() ? 5 : 0;
}

int RemoveFiles(Db3Fcb* f) {
  if (f->open()) return 52;
  if (int err = RefuseIfOpenElsewhere(f->name)) return err;
  if (int err = E()->Remove(f->name)) return OsToXbase(err);
  E()->Remove(SiblingPath(f->name, ".DBT"));
  if (IndexPaths(f) == 0)
    for (Db3Key& k : f->key_blocks)
      if (!k.dynamic) E()->Remove(k.path);
  return 0;
}

namespace {

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// One file as a path that names it one way only ("a/./b" and "a/b" agree).
std::string SamePath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(path, ec);
  return (ec ? std::filesystem::path(path) : p).lexically_normal().string();
}

}  // namespace

// COPY and RENAME: the table, its memo file and its indexes. The target is
// completed like the table's name (".DBF" when it has no extension); when
// it is a folder the files keep their names inside it. The indexes are
// named by the keys, so they go to the target's folder under their own
// names: in the table's own folder there is no index to copy or move (the
// target table shares them). A target whose table or memo file would be
// the source's own is refused (45): copied over itself it would be lost.
int CopyFiles(Db3Fcb* f, const std::string& target_text, bool rename) {
  if (rename && f->open()) return 52;
  if (f->name.empty()) return 45;
  std::string target = nv::NativePath(target_text);
  while (!target.empty() && target.back() == ' ') target.pop_back();
  if (target.empty()) return 45;
  std::string to;
  if (E()->IsDirectory(target)) {
    to = target + (target.back() == '/' ? "" : "/") + BaseName(f->name);
  } else {
    to = CompleteTableName(target);
  }
  std::vector<std::pair<std::string, std::string>> moves = {{f->name, to}};
  if (!f->memo_blocks.empty())
    moves.emplace_back(SiblingPath(f->name, ".DBT"), SiblingPath(to, ".DBT"));
  for (const auto& [from, dest] : moves)
    if (SamePath(from) == SamePath(dest)) return 45;
  if (IndexPaths(f) == 0) {
    for (const Db3Key& k : f->key_blocks) {
      if (k.dynamic) continue;
      const std::string dest = Folder(to) + BaseName(k.path);
      if (SamePath(k.path) != SamePath(dest)) moves.emplace_back(k.path, dest);
    }
  }
  if (rename) {
    if (int err = RefuseIfOpenElsewhere(f->name)) return err;
    if (int err = RefuseIfOpenElsewhere(to)) return err;
  }
  if (f->open())
    if (int err = FlushFiles(f)) return err;
  for (const auto& [from, dest] : moves) {
    const int err = rename ? E()->Rename(from, dest) : E()->CopyFile(from, dest);
    if (err) return OsToXbase(err);
  }
  if (rename) f->name = to;
  return 0;
}

int BuildIndex(Db3Fcb* f, Db3Key* k) {
  if (!k->ndx) return 46;
  std::vector<NdxEntry> entries;
  entries.reserve(f->hdr.records);
  std::vector<uint8_t> raw;
  for (uint32_t n = 1; n <= f->hdr.records; ++n) {
    if (int err = ReadRecord(f, n, &raw)) return err;
    if (raw[0] == '*') continue;
    NdxEntry e;
    if (int err = KeyOf(k, raw.data(), n, &e.key)) return err;
    e.record = n;
    entries.push_back(std::move(e));
  }
  NdxFile* x = k->ndx.get();
  std::stable_sort(entries.begin(), entries.end(), [x](const NdxEntry& a, const NdxEntry& b) {
    const int c = x->Compare(a.key, b.key);
    return c < 0 || (c == 0 && a.record < b.record);
  });
  if (k->unique) {
    // A unique index keeps the first record of each key value.
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [x](const NdxEntry& a, const NdxEntry& b) {
                                return x->Compare(a.key, b.key) == 0;
                              }),
                  entries.end());
  }
  if (int err = x->Load(entries)) return err;
  return x->Flush();
}

int BuildAll(Db3Fcb* f) {
  for (Db3Key& k : f->key_blocks)
    if (k.ndx)
      if (int err = BuildIndex(f, &k)) return err;
  return 0;
}

int BuildDynamic(Db3Fcb* f, Db3Key* k, const std::string& text) {
  if (!k->dynamic) return nv::kErrNotImplemented;
  const nv::RecordType& rt = *f->fd->record_type;
  std::vector<nv::DrvKcbComponent> comps;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of(",+", pos);
    if (end == pos && text[pos] == '+') {
      ++pos;
      continue;
    }
    std::string part = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? text.size() : end + 1;
    while (!part.empty() && part[0] == ' ') part.erase(0, 1);
    while (!part.empty() && part.back() == ' ') part.pop_back();
    if (part.empty()) continue;
    if (part[0] == '-') return 76;  // descending: see KeyShapes
    const int n = rt.FindField(part);
    if (n == 0) return 76;
    comps.push_back({f->fields[size_t(n - 1)], false});
  }
  if (comps.empty()) return 76;
  std::vector<KeyComponent> kc;
  for (const nv::DrvKcbComponent& c : comps) {
    const auto* fb = static_cast<const Db3Field*>(c.field);
    if (!fb->stored) return 76;
    kc.push_back({&f->table[size_t(fb->table)]});
  }
  if (int err = GenerateKeyExpression(kc, (k->attributes & nv::kKeyNoCase) != 0, &k->expr, &k->type))
    return err;
  // A work name in the current folder: DYN000.$$$ to DYN999.$$$.
  std::string path;
  for (int i = 0; i < 1000 && path.empty(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "DYN%03d.$$$", i % 1000);
    if (!E()->Exists(name)) path = name;
  }
  if (path.empty()) return 45;
  k->ndx.reset();
  if (!k->path.empty()) E()->Remove(k->path);
  k->path = path;
  if (int err = CreateIndex(f, k)) return err;
  if (int err = OpenIndex(f, k)) return err;
  return BuildIndex(f, k);
}

int EmptyFiles(Db3Fcb* f) {
  f->appends.clear();
  f->ForgetBlocks();
  f->hdr.records = 0;
  if (int err = EndTableAt(f, 0)) return err;
  // Not held back while streaming: a count beyond the cut file would make
  // the table unreadable.
  if (int err = WriteHeaderNow(f, false)) return err;
  if (f->dbt) {
    uint8_t head[512] = {};
    Put32(head, 1);
    head[16] = 0x03;
    if (f->dbt->Write(0, head, 512) || f->dbt->Truncate(512)) return -201;
  }
  for (Db3Key& k : f->key_blocks)
    if (k.ndx)
      if (int err = k.ndx->Clear()) return err;
  f->current = 0;
  f->seq = Seq{};
  return 0;
}

int PackFiles(Db3Fcb* f) {
  // The records move: refused while another station has the table open.
  if (f->dbf->OtherOpens()) return 5;
  if (int err = FlushFiles(f)) return err;
  const std::string folder = Folder(f->name);
  std::string work, work_memo;
  for (int i = 0; work.empty(); ++i) {
    const std::string table = std::to_string(i) + ".DBF", memo = std::to_string(i) + ".DBT";
    if (!E()->Exists(folder + table) && !E()->Exists(folder + memo)) {
      work = folder + table;
      work_memo = folder + memo;
    }
    if (i > 100000) return 45;
  }
  std::unique_ptr<nv::EnvFile> wt, wm;
  nv::OpenOptions o;
  o.mode = 0x12;
  o.create = true;
  o.truncate = true;
  auto fail = [&](int err) {
    wt.reset();
    wm.reset();
    E()->Remove(work);
    E()->Remove(work_memo);
    return err;
  };
  if (int err = E()->Open(work, o, &wt)) return OsToXbase(err);
  std::vector<uint8_t> head(f->hdr.header_length + 1u);
  size_t got = 0;
  if (f->dbf->Read(0, head.data(), f->hdr.header_length, &got) || got < f->hdr.header_length)
    return fail(-202);
  head.back() = 0x1A;
  if (f->dbt) {
    if (int err = E()->Open(work_memo, o, &wm)) return fail(OsToXbase(err));
    uint8_t mh[512] = {};
    Put32(mh, 1);
    mh[16] = 0x03;
    if (wm->Write(0, mh, 512)) return fail(-201);
  }
  std::vector<uint8_t> raw;
  std::vector<uint8_t> out;
  uint32_t kept = 0;
  for (uint32_t n = 1; n <= f->hdr.records; ++n) {
    if (int err = ReadRecord(f, n, &raw)) return fail(err);
    if (raw[0] == '*') continue;
    // Memo texts move into the work memo file.
    for (const Db3Memo& m : f->memo_blocks) {
      const TableField& t = f->table[size_t(m.table)];
      char* cell = reinterpret_cast<char*>(raw.data() + t.offset);
      const uint32_t block = uint32_t(std::max(0.0, ParseNumber(cell, t.length)));
      if (!block) continue;
      std::string text;
      if (int err = ReadMemo(f->dbt.get(), block, 1u << 24, &text)) return fail(err);
      uint32_t nb = 0;
      if (int err = WriteMemo(wm.get(), text, 0, &nb)) return fail(err);
      const std::string cellText = NumberText(nb, 10, 0);
      std::memcpy(cell, cellText.data(), 10);
    }
    out.insert(out.end(), raw.begin(), raw.end());
    ++kept;
    if (out.size() > (1u << 20)) {
      if (wt->Write(f->hdr.header_length + uint64_t(kept - out.size() / raw.size()) * raw.size(),
                    out.data(), out.size()))
        return fail(-201);
      out.clear();
    }
  }
  out.push_back(0x1A);
  const uint64_t tail = f->hdr.header_length + uint64_t(kept) * f->hdr.record_length;
  if (wt->Write(tail + 1 - out.size(), out.data(), out.size())) return fail(-201);
  Put32(&head[4], kept);
  if (wt->Write(0, head.data(), f->hdr.header_length)) return fail(-201);
  if (wt->Sync(false) || (wm && wm->Sync(false))) return fail(-247);
  wt.reset();
  wm.reset();
  // Backups first (copies), then each work file replaces its file in one
  // rename: the table's name always names a whole table.
  const uint32_t mode = f->open_mode;
  const std::string memo = SiblingPath(f->name, ".DBT");
  if (int err = E()->CopyFile(f->name, SiblingPath(f->name, ".BAK"))) return fail(OsToXbase(err));
  if (f->dbt)
    if (int err = E()->CopyFile(memo, SiblingPath(f->name, ".BKT"))) return fail(OsToXbase(err));
  CloseFiles(f);
  if (!work_memo.empty() && E()->Exists(work_memo))
    if (int err = E()->Rename(work_memo, memo)) return fail(OsToXbase(err));
  if (int err = E()->Rename(work, f->name)) return fail(OsToXbase(err));
  if (int err = OpenFiles(f, mode)) return err;
  if (int err = BeginOp(f, true)) return err;
  return BuildAll(f);
}

}  // namespace db3
