// The flat file inspector (see flat_check.h). It reads the files directly
// through the Env, never through the driver, so that it can judge the
// driver's work.
#include "drivers/flat/flat_check.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "drivers/flat/flat_driver.h"
#include "drivers/flat/flat_format.h"
#include "drivers/flat/key_codec.h"
#include "drivers/flat/key_file.h"
#include "host/runtime/codepage.h"
#include "host/runtime/env.h"

namespace flat {

namespace {

std::string Fmt(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Fmt(const char* fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

struct Inspector {
  Inspector(const InspectOptions& o, std::string* r) : opt(o), out(r) {}
  const InspectOptions& opt;
  std::string* out;
  nv::Env* env = nv::GetEnv();
  int faults = 0;
  uint16_t key = 0;
  Header h;
  std::unique_ptr<nv::EnvFile> data;
  std::vector<uint8_t> area;
  std::vector<uint8_t> status;  // per record (index n - 1)
  std::vector<uint32_t> links;
  std::vector<bool> string_bytes;  // string field bytes (OEM conversion)

  void Fault(const std::string& s) {
    ++faults;
    *out += "FALLO: " + s + "\n";
  }
  void Line(const std::string& s) { *out += s + "\n"; }

  bool ReadAt(nv::EnvFile* f, uint64_t off, void* p, size_t n) {
    size_t got = 0;
    return f->Read(off, p, n, &got) == 0 && got == n;
  }

  // Record data of record n in the runtime's form; false when unreadable.
  bool RecordData(uint32_t n, std::vector<uint8_t>* d) {
    const uint32_t len = h.record_size - kPrefixSize;
    d->resize(len);
    if (!ReadAt(data.get(), h.records_start + uint64_t(n - 1) * h.record_size + kPrefixSize,
                d->data(), len))
      return false;
    if (opt.scrambled) Scramble(d->data(), len, key);
    if (opt.oem) {
      for (uint32_t i = 0; i < len && i < string_bytes.size(); ++i)
        if (string_bytes[i]) (*d)[i] = nv::OemToAnsi((*d)[i]);
    }
    return true;
  }

  InspectResult Run(const std::string& path);
  void Records();
  void Memo(const std::string& path);
  void Keys(const std::string& path);
};

InspectResult Inspector::Run(const std::string& given) {
  const std::string path = CompleteDataName(given);
  nv::OpenOptions o;
  o.mode = nv::kReadOnly | nv::kDenyNone;
  if (env->Open(path, o, &data) != 0) {
    Line("No se puede abrir " + path);
    return kBadFile;
  }
  key = OwnerKey(opt.owner);
  uint8_t hb[kHeaderSize];
  if (!ReadAt(data.get(), 0, hb, sizeof hb)) {
    Line("Cabecera corta");
    return kBadFile;
  }
  if (UnsealHeader(hb, key, &h) != 0) {
    Line("Firma o suma de control incorrecta");
    return kBadFile;
  }
  uint64_t size = 0;
  data->Size(&size);
  Line(Fmt("Archivo %s: %llu bytes", path.c_str(), (unsigned long long)size));
  Line(Fmt("estado 0x%04X claves %u registros %u borrados %u campos %u dibujos %u matrices %u",
           h.status, h.keys, h.records, h.deleted, h.fields, h.pictures, h.arrays));
  Line(Fmt("tamaño de registro %u inicio %u último vivo %u primero vivo %u libres %u",
           h.record_size, h.records_start, h.last_live, h.first_live, h.free_head));
  Line(Fmt("memo %.12s (%u) prefijos [%.3s] [%.3s] cambio %u %u", h.memo_name, h.memo_size,
           h.file_prefix, h.record_prefix, h.change_date, h.change_time));
  if (h.status & kHdrBusy)
    Fault(
        "un programa terminó a mitad de una operación (marca de escritura en curso): "
        "el próximo que abra el archivo para escribir lo repara");
  if (h.records_start < kHeaderSize || h.record_size < kPrefixSize || h.records_start > size) {
    Line("Cabecera imposible");
    return kBadFile;
  }
  area.resize(h.records_start - kHeaderSize);
  if (!ReadAt(data.get(), kHeaderSize, area.data(), area.size())) return kBadFile;
  // Field descriptors.
  const bool owned = (h.status & kHdrOwned) != 0;
  size_t at = 0;
  string_bytes.assign(h.record_size - kPrefixSize, false);
  for (uint32_t i = 0; i < h.fields; ++i, at += kFieldDescSize) {
    if (at + kFieldDescSize > area.size()) {
      Fault("descriptores de campo fuera del área de descripción");
      return kInconsistent;
    }
    uint8_t d[kFieldDescSize];
    std::memcpy(d, area.data() + at, sizeof d);
    if (owned) Scramble(d, sizeof d, key);
    const uint16_t off = Get16(d + 17), esize = Get16(d + 19);
    Line(Fmt("campo %u: tipo %u %.16s desplazamiento %u tamaño %u %u.%u matriz %u dibujo %u", i + 1,
             d[0], reinterpret_cast<const char*>(d + 1), off, esize, d[21], d[22], Get16(d + 23),
             Get16(d + 25)));
    if (d[0] < 1 || d[0] > 8) Fault(Fmt("campo %u: tipo %u desconocido", i + 1, d[0]));
    if (uint32_t(off) + esize > h.record_size - kPrefixSize)
      Fault(Fmt("campo %u fuera del registro", i + 1));
    if ((d[0] == 3 || d[0] == 4) && Get16(d + 23) == 0) {
      for (uint32_t b = off; b < uint32_t(off) + esize && b < string_bytes.size(); ++b)
        string_bytes[b] = true;
    }
  }
  const size_t keys_at = at;
  for (uint32_t i = 0; i < h.keys; ++i) {
    if (at + 19 > area.size()) {
      Fault("descriptores de clave fuera del área de descripción");
      return kInconsistent;
    }
    uint8_t first[2] = {area[at], area[at + 1]};
    if (owned) Scramble(first, 2, key);
    size_t len = 19 + 6 * size_t(first[0]);
    if (at + len > area.size()) {
      Fault("descriptor de clave fuera del área de descripción");
      return kInconsistent;
    }
    at += len;
  }
  (void)keys_at;
  Records();
  if (h.status & kHdrMemo) Memo(path);
  Keys(path);
  Line(faults ? Fmt("%d fallos", faults) : "Coherente");
  return faults ? kInconsistent : kConsistent;
}

void Inspector::Records() {
  uint64_t size = 0;
  data->Size(&size);
  if (size < h.records_start + uint64_t(h.records) * h.record_size) {
    Fault(Fmt("el archivo es corto para %u registros", h.records));
    return;
  }
  status.assign(h.records, 0);
  links.assign(h.records, 0);
  uint32_t deleted = 0, first = 0, last = 0;
  for (uint32_t n = 1; n <= h.records; ++n) {
    uint8_t p[kPrefixSize];
    if (!ReadAt(data.get(), h.records_start + uint64_t(n - 1) * h.record_size, p, sizeof p)) {
      Fault(Fmt("registro %u ilegible", n));
      return;
    }
    status[n - 1] = p[0];
    links[n - 1] = Get32(p + 1);
    if (p[0] & kRecDeleted) {
      ++deleted;
    } else {
      if (!first) first = n;
      last = n;
      if (!(p[0] & kRecAdded)) Fault(Fmt("registro %u sin marca de alta (0x%02X)", n, p[0]));
    }
    if (opt.print_records) {
      std::vector<uint8_t> d;
      RecordData(n, &d);
      std::string text;
      for (uint8_t c : d) text += (c >= 0x20 && c < 0x7F) ? char(c) : '.';
      Line(Fmt("registro %u estado 0x%02X enlace %u ", n, p[0], links[n - 1]) + text);
    }
  }
  if (deleted != h.deleted) Fault(Fmt("borrados %u, la cabecera dice %u", deleted, h.deleted));
  if (first != h.first_live)
    Fault(Fmt("primero vivo %u, la cabecera dice %u", first, h.first_live));
  if (last != h.last_live) Fault(Fmt("último vivo %u, la cabecera dice %u", last, h.last_live));
  std::set<uint32_t> seen;
  uint32_t n = h.free_head;
  while (n != 0) {
    if (n > h.records) {
      Fault(Fmt("la cadena de libres nombra el registro %u inexistente", n));
      return;
    }
    if (!seen.insert(n).second) {
      Fault(Fmt("la cadena de libres vuelve al registro %u", n));
      return;
    }
    if (!(status[n - 1] & kRecDeleted)) Fault(Fmt("la cadena de libres pasa por el vivo %u", n));
    n = links[n - 1];
  }
  if (seen.size() != h.deleted)
    Fault(Fmt("la cadena de libres tiene %zu registros, borrados %u", seen.size(), h.deleted));
}

void Inspector::Memo(const std::string& path) {
  std::unique_ptr<nv::EnvFile> m;
  nv::OpenOptions o;
  o.mode = nv::kReadOnly | nv::kDenyNone;
  const std::string mp = ReplaceExtension(path, ".MEM");
  if (env->Open(mp, o, &m) != 0) {
    Fault("falta el archivo de memos " + mp);
    return;
  }
  uint8_t mh[kMemoHeaderSize];
  if (!ReadAt(m.get(), 0, mh, sizeof mh) || Get16(mh) != kMemoSignature) {
    Fault("cabecera de memos incorrecta");
    return;
  }
  uint64_t size = 0;
  m->Size(&size);
  const uint32_t blocks = uint32_t((size - kMemoHeaderSize) / kMemoBlockSize);
  std::vector<int> owner(blocks + 1, 0);  // 0 free, -1 free chain, n record
  auto walk = [&](uint32_t n, int who, const std::string& what) {
    uint32_t count = 0;
    while (n != 0) {
      if (n > blocks) {
        Fault(Fmt("%s nombra el bloque %u fuera del archivo", what.c_str(), n));
        return;
      }
      if (owner[n] != 0) {
        Fault(Fmt("%s usa el bloque %u ya usado", what.c_str(), n));
        return;
      }
      owner[n] = who;
      ++count;
      uint8_t l[4];
      if (!ReadAt(m.get(), MemoBlockOffset(n), l, 4)) {
        Fault(Fmt("bloque %u ilegible", n));
        return;
      }
      n = Get32(l);
    }
    if (who > 0 && count * kMemoTextPerBlock > h.memo_size + kMemoTextPerBlock - 1)
      Fault(Fmt("%s tiene %u bloques, más de los que caben", what.c_str(), count));
  };
  walk(Get32(mh + 2), -1, "la cadena de bloques libres");
  for (uint32_t r = 1; r <= status.size(); ++r) {
    if (status[r - 1] & kRecDeleted) continue;
    walk(links[r - 1], int(r), Fmt("el memo del registro %u", r));
  }
  uint32_t lost = 0;
  for (uint32_t b = 1; b <= blocks; ++b) lost += owner[b] == 0;
  if (lost) Fault(Fmt("%u bloques de memo perdidos", lost));
}

void Inspector::Keys(const std::string& path) {
  const bool owned = (h.status & kHdrOwned) != 0;
  size_t at = size_t(h.fields) * kFieldDescSize;
  for (uint32_t i = 0; i < h.keys; ++i) {
    std::vector<uint8_t> d(area.begin() + long(at), area.begin() + long(at) + 19);
    if (owned) Scramble(d.data(), 2, key);
    size_t len = 19 + 6 * size_t(d[0]);
    d.assign(area.begin() + long(at), area.begin() + long(at + len));
    at += len;
    if (owned) Scramble(d.data(), d.size(), key);
    KeySpec shape;
    size_t used = 0;
    if (!DecodeKeyDescriptor(d.data(), d.size(), &shape, &used)) {
      Fault(Fmt("descriptor de la clave %u incoherente", i + 1));
      continue;
    }
    shape.oem = opt.oem;
    Line(Fmt("clave %u: %s atributos 0x%02X longitud %u componentes %zu", i + 1, shape.name.c_str(),
             d[17], d[18], shape.components.size()));
    const std::string kp = KeyFileName(path, int(i + 1), shape.index);
    std::unique_ptr<KeyFile> kf;
    nv::OpenOptions o;
    o.mode = nv::kReadOnly | nv::kDenyNone;
    if (!env->Exists(kp)) {
      if (!shape.index) Fault("falta el archivo de clave " + kp);
      continue;
    }
    if (KeyFile::Open(env, kp, o, shape, &kf) != 0) {
      Fault("el archivo de clave " + kp + " no corresponde a su descriptor");
      continue;
    }
    const KeyHeader& kh = kf->header();
    Line(
        Fmt("  raíz %u entradas %u páginas %u niveles %u última hoja %u primero %u último %u "
            "libres %u",
            kh.root, kh.entries, kh.pages, kh.levels, kh.last_page, kh.first_record, kh.last_record,
            kh.free_head));
    std::string check;
    if (kf->Check(&check) != 0) {
      Fault("árbol de " + kp + ":\n" + check);
      continue;
    }
    uint32_t live = h.records - h.deleted;
    if (!shape.optional && !shape.index && kh.entries != live)
      Fault(Fmt("la clave %u tiene %u entradas para %u registros vivos", i + 1, kh.entries, live));
    std::set<uint32_t> records;
    KeyCursor c;
    uint32_t count = 0;
    std::vector<uint8_t> rec, enc(shape.key_length() + 1);
    for (int err = kf->First(&c); err == 0 && !c.at_end(); err = kf->Next(&c)) {
      uint32_t r = 0;
      std::string v;
      if (kf->Entry(c, &r, &v) != 0) {
        Fault(Fmt("clave %u: entrada ilegible", i + 1));
        break;
      }
      if (++count > kh.entries + 1) break;
      if (opt.print_keys) {
        std::string hex;
        for (unsigned char ch : v) hex += Fmt("%02X", ch);
        Line(Fmt("  %u ", r) + hex);
      }
      if (shape.index) continue;  // an index may name records changed since its build
      if (r == 0 || r > status.size() || (status[r - 1] & kRecDeleted)) {
        Fault(Fmt("clave %u: la entrada nombra el registro %u, que no está vivo", i + 1, r));
        continue;
      }
      if (!records.insert(r).second) Fault(Fmt("clave %u: registro %u dos veces", i + 1, r));
      if (!RecordData(r, &rec)) continue;
      // The descriptor does not say which components descend: either form
      // of each component is accepted.
      size_t pos = 0;
      bool ok = v.size() == shape.key_length();
      for (const KeyComponent& kc : shape.components) {
        if (!ok) break;
        if (size_t(kc.offset) + kc.size > rec.size()) {
          ok = false;
          break;
        }
        EncodeComponent(kc, shape.nocase, shape.oem, rec.data() + kc.offset, enc.data());
        bool asc = std::memcmp(enc.data(), v.data() + pos, kc.size) == 0;
        bool desc = true;
        for (size_t b = 0; b < kc.size; ++b) desc = desc && uint8_t(~enc[b]) == uint8_t(v[pos + b]);
        ok = asc || desc;
        pos += kc.size;
      }
      if (!ok)
        Fault(Fmt("clave %u: el valor de la entrada del registro %u no es el suyo", i + 1, r));
    }
    if (count != kh.entries)
      Fault(Fmt("clave %u: %u entradas recorridas, la cabecera dice %u", i + 1, count, kh.entries));
  }
}

}  // namespace

InspectResult InspectFlatFile(const std::string& data_path, const InspectOptions& options,
                              std::string* report) {
  Inspector in(options, report);
  return in.Run(data_path);
}

}  // namespace flat
