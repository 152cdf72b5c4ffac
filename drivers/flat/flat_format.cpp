// Byte layouts of the flat data and memo files (see flat_format.h).
#include "drivers/flat/flat_format.h"

#include <cstring>

#include "host/runtime/codepage.h"

namespace flat {

void EncodeHeader(const Header& h, uint8_t out[kHeaderSize]) {
  std::memset(out, 0, kHeaderSize);
  Put16(out + 0, h.signature);
  Put16(out + 2, h.status);
  out[4] = h.keys;
  Put32(out + 5, h.records);
  Put32(out + 9, h.deleted);
  Put16(out + 13, h.fields);
  Put16(out + 15, h.pictures);
  Put16(out + 17, h.arrays);
  Put16(out + 19, h.record_size);
  Put32(out + 21, h.records_start);
  Put32(out + 25, h.last_live);
  Put32(out + 29, h.first_live);
  Put32(out + 33, h.free_head);
  std::memcpy(out + 37, h.record_name, 12);
  std::memcpy(out + 49, h.memo_name, 12);
  std::memcpy(out + 61, h.file_prefix, 3);
  std::memcpy(out + 64, h.record_prefix, 3);
  Put16(out + 67, h.memo_size);
  std::memcpy(out + 69, h.reserved, 6);
  Put32(out + 75, h.change_time);
  Put32(out + 79, h.change_date);
  Put16(out + 83, h.checksum);
}

void DecodeHeader(const uint8_t in[kHeaderSize], Header* h) {
  h->signature = Get16(in + 0);
  h->status = Get16(in + 2);
  h->keys = in[4];
  h->records = Get32(in + 5);
  h->deleted = Get32(in + 9);
  h->fields = Get16(in + 13);
  h->pictures = Get16(in + 15);
  h->arrays = Get16(in + 17);
  h->record_size = Get16(in + 19);
  h->records_start = Get32(in + 21);
  h->last_live = Get32(in + 25);
  h->first_live = Get32(in + 29);
  h->free_head = Get32(in + 33);
  std::memcpy(h->record_name, in + 37, 12);
  std::memcpy(h->memo_name, in + 49, 12);
  std::memcpy(h->file_prefix, in + 61, 3);
  std::memcpy(h->record_prefix, in + 64, 3);
  h->memo_size = Get16(in + 67);
  std::memcpy(h->reserved, in + 69, 6);
  h->change_time = Get32(in + 75);
  h->change_date = Get32(in + 79);
  h->checksum = Get16(in + 83);
}

uint16_t OwnerKey(std::string_view owner) {
  uint32_t key = 0x5A3C;
  for (size_t i = 0; i + 1 < owner.size(); i += 2) {
    key += uint8_t(owner[i]) | (uint32_t(uint8_t(owner[i + 1])) << 8);
  }
  return uint16_t(key);
}

void Scramble(uint8_t* p, size_t n, uint16_t key) {
  for (size_t i = 0; i + 1 < n; i += 2) {
    p[i] ^= uint8_t(key);
    p[i + 1] ^= uint8_t(key >> 8);
  }
}

uint16_t HeaderChecksum(const uint8_t bytes[kHeaderSize]) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < kHeaderSize; ++i) {
    if (i == 83 || i == 84) continue;
    sum += bytes[i];
  }
  return uint16_t(sum);
}

void SealHeader(Header* h, bool owned, uint16_t key, uint8_t out[kHeaderSize]) {
  h->checksum = 0;
  EncodeHeader(*h, out);
  if (!owned) return;
  h->checksum = HeaderChecksum(out);
  Put16(out + 83, h->checksum);
  // Bytes 4 to 84: 40 words, the last odd byte stays plain.
  Scramble(out + 4, 81, key);
}

int UnsealHeader(const uint8_t in[kHeaderSize], uint16_t key, Header* h) {
  uint8_t b[kHeaderSize];
  std::memcpy(b, in, kHeaderSize);
  if (Get16(b) != kSignature) return 36;
  const bool owned = (Get16(b + 2) & kHdrOwned) != 0;
  if (owned) {
    Scramble(b + 4, 81, key);
    uint16_t stored = Get16(b + 83);
    if (HeaderChecksum(b) != stored) return 36;
  }
  DecodeHeader(b, h);
  return 0;
}

// ---------------------------------------------------------------------------

uint8_t StoredType(const nv::FieldDesc& f) {
  switch (f.type) {
    case nv::kTypeLong:
      return 1;
    case nv::kTypeReal:
      return 2;
    case nv::kTypeString:
      return f.picture.empty() ? 3 : 4;
    case nv::kTypeByte:
      return 5;
    case nv::kTypeShort:
      return 6;
    case nv::kTypeGroup:
      return 7;
    case nv::kTypeDecimal:
      return 8;
    default:
      return 0;
  }
}

std::string StoredFieldName(std::string_view label) {
  size_t colon = label.find(':');
  if (colon == std::string_view::npos) return std::string(label.substr(0, 12));
  std::string_view prefix = label.substr(0, colon);
  std::string_view rest = label.substr(colon + 1);
  if (prefix.size() == 3) return std::string(label.substr(0, 16));
  if (prefix.size() < 3) {
    if (rest.size() > 12) return std::string(prefix) + ":" + std::string(rest.substr(0, 12));
    return std::string(label);
  }
  return std::string(prefix.substr(0, 3)) + ":" + std::string(rest.substr(0, 12));
}

namespace {

std::string PictureKey(const std::string& p) {
  return (!p.empty() && p[0] == '@') ? p.substr(1) : p;
}

}  // namespace

int BuildLayout(const nv::RecordType& rt, Layout* out) {
  *out = Layout{};
  const size_t n = rt.fields.size();
  out->stored_type.assign(n, 0);
  out->is_string.assign(n, false);
  // Ends of enclosing groups: shared (over) groups hide their contents;
  // arrayed groups add their dimensions to the fields inside.
  std::vector<size_t> over_end;  // last entry of each enclosing shared group
  struct ArrGroup {
    size_t end;
    uint32_t number;
  };
  std::vector<ArrGroup> arr_groups;
  std::vector<size_t> group_end;  // every enclosing group (for "outside a group")
  for (size_t i = 1; i < n; ++i) {
    while (!over_end.empty() && i > over_end.back()) over_end.pop_back();
    while (!arr_groups.empty() && i > arr_groups.back().end) arr_groups.pop_back();
    while (!group_end.empty() && i > group_end.back()) group_end.pop_back();
    const nv::FieldDesc& f = rt.fields[i];
    const bool hidden = f.over || !over_end.empty();
    if (f.type == nv::kTypeGroup) {
      if (f.over || !over_end.empty()) over_end.push_back(i + f.span);
      group_end.push_back(i + f.span);
    }
    out->is_string[i] = f.type == nv::kTypeString && !hidden;
    if (f.ndims > 4) return 75;
    uint8_t st = StoredType(f);
    if (st == 0) {
      // Inside a group its bytes travel with the group.
      if (group_end.empty() && !hidden) return 79;
      continue;
    }
    if (hidden) {
      if (f.type == nv::kTypeGroup && f.Elements() > 1)
        arr_groups.push_back({i + f.span, uint32_t(i)});
      continue;
    }
    StoredField s;
    s.number = uint32_t(i);
    s.type = st;
    s.name = StoredFieldName(f.label);
    s.offset = uint16_t(f.offset);
    s.element_size = uint16_t(f.size / (f.Elements() ? f.Elements() : 1));
    if (f.type == nv::kTypeDecimal) {
      int digits = 2 * int(s.element_size) - 1 - int(f.places);
      s.digits = uint8_t(digits < 0 ? 0 : digits);
      s.places = f.places;
    }
    if (st == 4) {
      std::string key = PictureKey(f.picture);
      size_t p = 0;
      while (p < out->pictures.size() && PictureKey(out->pictures[p]) != key) ++p;
      if (p == out->pictures.size()) out->pictures.push_back(f.picture);
      s.picture = uint16_t(p + 1);
    }
    // Array descriptor: own dimensions first, then those of the enclosing
    // arrayed groups from the innermost outwards.
    if (f.Elements() > 1 || !arr_groups.empty()) {
      std::vector<std::pair<uint16_t, uint16_t>> dims;
      uint32_t step = s.element_size;
      std::vector<std::pair<uint16_t, uint16_t>> own;
      for (int d = f.ndims - 1; d >= 0; --d) {
        own.insert(own.begin(), {f.dims[d], uint16_t(step)});
        step *= f.dims[d] ? f.dims[d] : 1;
      }
      dims = own;
      int total_dims = f.ndims;
      for (auto it = arr_groups.rbegin(); it != arr_groups.rend(); ++it) {
        const nv::FieldDesc& g = rt.fields[it->number];
        uint32_t gstep = g.size / g.Elements();
        std::vector<std::pair<uint16_t, uint16_t>> gd;
        for (int d = g.ndims - 1; d >= 0; --d) {
          gd.insert(gd.begin(), {g.dims[d], uint16_t(gstep)});
          gstep *= g.dims[d] ? g.dims[d] : 1;
        }
        dims.insert(dims.end(), gd.begin(), gd.end());
        total_dims += g.ndims;
      }
      if (total_dims > 4) return 75;
      std::vector<uint8_t> a(6 + 4 * dims.size());
      Put16(a.data(), f.ndims);
      Put16(a.data() + 2, uint16_t(total_dims));
      Put16(a.data() + 4, uint16_t(f.size));
      for (size_t d = 0; d < dims.size(); ++d) {
        Put16(a.data() + 6 + 4 * d, dims[d].first);
        Put16(a.data() + 8 + 4 * d, dims[d].second);
      }
      out->arrays.push_back(std::move(a));
      s.array = uint16_t(out->arrays.size());
    }
    if (f.type == nv::kTypeGroup && f.Elements() > 1)
      arr_groups.push_back({i + f.span, uint32_t(i)});
    if (out->record_prefix.empty()) {
      size_t colon = f.label.find(':');
      if (colon != std::string::npos && colon < 4) out->record_prefix = f.label.substr(0, colon);
    }
    out->stored_type[i] = st;
    out->fields.push_back(std::move(s));
  }
  return 0;
}

std::vector<uint8_t> EncodeFieldDescriptors(const Layout& l) {
  std::vector<uint8_t> out(l.fields.size() * kFieldDescSize, 0);
  for (size_t i = 0; i < l.fields.size(); ++i) {
    const StoredField& f = l.fields[i];
    uint8_t* p = out.data() + i * kFieldDescSize;
    p[0] = f.type;
    std::memset(p + 1, ' ', 16);
    std::memcpy(p + 1, f.name.data(), std::min<size_t>(16, f.name.size()));
    Put16(p + 17, f.offset);
    Put16(p + 19, f.element_size);
    p[21] = f.digits;
    p[22] = f.places;
    Put16(p + 23, f.array);
    Put16(p + 25, f.picture);
  }
  return out;
}

std::vector<uint8_t> EncodePictures(const Layout& l) {
  std::vector<uint8_t> out;
  for (const std::string& p : l.pictures) {
    uint8_t len[2];
    Put16(len, uint16_t(p.size() + 1));
    out.insert(out.end(), len, len + 2);
    out.insert(out.end(), p.begin(), p.end());
    out.push_back(0);
  }
  return out;
}

std::vector<uint8_t> EncodeArrays(const Layout& l) {
  std::vector<uint8_t> out;
  for (const auto& a : l.arrays) out.insert(out.end(), a.begin(), a.end());
  return out;
}

void RecordToOem(const Layout& l, const nv::RecordType& rt, uint8_t* data) {
  for (size_t i = 1; i < rt.fields.size(); ++i) {
    if (!l.is_string[i]) continue;
    const nv::FieldDesc& f = rt.fields[i];
    nv::AnsiToOem(reinterpret_cast<char*>(data + f.offset), f.size);
  }
}

void RecordFromOem(const Layout& l, const nv::RecordType& rt, uint8_t* data) {
  for (size_t i = 1; i < rt.fields.size(); ++i) {
    if (!l.is_string[i]) continue;
    const nv::FieldDesc& f = rt.fields[i];
    nv::OemToAnsi(reinterpret_cast<char*>(data + f.offset), f.size);
  }
}

}  // namespace flat
