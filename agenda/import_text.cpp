#include "agenda/import_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unordered_set>

#include "agenda/import_text_parse.h"
#include "agenda/relink.h"
#include "agenda/text.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/line_file.h"
#include "host/dictionary/records.h"
#include "host/runtime/env.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "host/runtime/fixed_string.h"

namespace agenda {

using nv::dict::AUXAGCORecord;
using nv::dict::AUXAGEMRecord;
using nv::dict::AUXAGGRRecord;
using nv::dict::AUXAGRURecord;
using nv::dict::AUXAGTCRecord;
using nv::dict::AUXAGTERecord;
using nv::dict::FileAccess;
using nv::dict::MA11Record;
using nv::dict::RE09Record;
using nv::dict::TA02Record;
using nv::dict::TA09Record;

const char* PhaseName(ImportPhase phase) {
  static constexpr const char* kNames[] = {"Empresas",
                                           "Telefonos de Empresas",
                                           "Contactos de Empresas",
                                           "Telefonos de Contactos de Empresas",
                                           "Contactos sin Empresas",
                                           "Telefonos de Contactos sin Empresas",
                                           "Fin"};
  return kNames[static_cast<int>(phase)];
}

namespace {

constexpr int kEndOfFile = 33;
constexpr int kNotImplemented = 80;

// --- The six input files, table-driven.

enum class Kind {
  kCode,    // the line's own code: LONG, a number above 0, unique in its file
  kLong,    // LONG
  kDec2,    // DECIMAL, 2 bytes
  kDec3,    // DECIMAL, 3 bytes
  kByte,    // BYTE
  kDate,    // @D6 into a date group
  kText,    // STRING(width)
  kName,    // STRING(width) that must not be blank
  kVat,     // two-letter code into STRING(width)
  kNumber,  // telephone number: digits only into STRING(width)
};

struct FieldLayout {
  Kind kind;
  size_t offset;
  size_t width;
  const char* name;  // for the messages
};

// Whose code a line refers to (its owner must have been loaded before).
enum class Owner { kNone, kCompany, kContact };

struct InputFile {
  const char* name;     // "RubrosAg": the file is name + ".txt", and the messages' prefix
  const char* staging;  // staging table
  const char* key;      // its key
  const char* loading;  // status after "Paso n de 9 - "
  bool grabar;          // the write failure says "grabar" (else "agregar")
  const char* blank;    // message of a blank name
  Owner owner;          // the line's first field refers to this owner ...
  size_t owner_field;   // ... in this field
  std::vector<FieldLayout> fields;
};

#define NV_AT(R, f) offsetof(R, f), sizeof(R::f)

const std::vector<InputFile>& Sources() {
  static const std::vector<InputFile> kSources = {
      {"RubrosAg",
       "AUXAGRU",
       "ARUB:AUXAGRU_C2",
       "Cargando rubros de empresas...",
       true,
       "La descripción no puede estar en blanco",
       Owner::kNone,
       0,
       {{Kind::kCode, NV_AT(AUXAGRURecord, CODARC), "código"},
        {Kind::kName, NV_AT(AUXAGRURecord, DESRUB), "descripción"}}},
      {"GruposAg",
       "AUXAGGR",
       "AGRU:AUXAGGR_C2",
       "Cargando grupos de agenda...",
       true,
       "La descripción no puede estar en blanco",
       Owner::kNone,
       0,
       {{Kind::kCode, NV_AT(AUXAGGRRecord, CODARC), "código"},
        {Kind::kName, NV_AT(AUXAGGRRecord, DESGRU), "descripción"}}},
      {"Empresas",
       "AUXAGEM",
       "AEMP:AUXAGEM_C1",
       "Cargando empresas...",
       false,
       "El nombre no puede estar en blanco",
       Owner::kNone,
       0,
       {{Kind::kCode, NV_AT(AUXAGEMRecord, CODARC), "código"},
        {Kind::kDate, NV_AT(AUXAGEMRecord, FECALT), "fecha de alta"},
        {Kind::kName, NV_AT(AUXAGEMRecord, NOMBRE), "nombre"},
        {Kind::kText, NV_AT(AUXAGEMRecord, DIRECC), "dirección"},
        {Kind::kText, NV_AT(AUXAGEMRecord, LOCALI), "localidad"},
        {Kind::kText, NV_AT(AUXAGEMRecord, PROVIN), "provincia"},
        {Kind::kDec2, NV_AT(AUXAGEMRecord, CODRUB), "rubro"},
        {Kind::kByte, NV_AT(AUXAGEMRecord, CLIENT), "cliente"},
        {Kind::kText, NV_AT(AUXAGEMRecord, CUITNO), "CUIT"},
        {Kind::kVat, NV_AT(AUXAGEMRecord, CONIVA), "condición de IVA"},
        {Kind::kText, NV_AT(AUXAGEMRecord, CODPOS), "código postal"}}},
      {"TelefonE",
       "AUXAGTE",
       "ATEE:AUXAGTE_CP",
       "Cargando telefonos de empresas...",
       false,
       "",
       Owner::kCompany,
       0,
       {{Kind::kLong, NV_AT(AUXAGTERecord, CODARC), "empresa"},
        {Kind::kNumber, NV_AT(AUXAGTERecord, NROTEL), "teléfono"},
        {Kind::kText, NV_AT(AUXAGTERecord, COMENT), "comentario"},
        {Kind::kDec3, NV_AT(AUXAGTERecord, GRUAGE), "grupo"}}},
      {"Contacto",
       "AUXAGCO",
       "ACON:AUXAGCO_C2",
       "Cargando contactos...",
       false,
       "El nombre no puede estar en blanco",
       Owner::kCompany,
       6,
       {{Kind::kCode, NV_AT(AUXAGCORecord, CODARC), "código"},
        {Kind::kDate, NV_AT(AUXAGCORecord, FECALT), "fecha de alta"},
        {Kind::kName, NV_AT(AUXAGCORecord, NOMBRE), "nombre"},
        {Kind::kText, NV_AT(AUXAGCORecord, DIRECC), "dirección"},
        {Kind::kText, NV_AT(AUXAGCORecord, LOCALI), "localidad"},
        {Kind::kText, NV_AT(AUXAGCORecord, PROVIN), "provincia"},
        {Kind::kLong, NV_AT(AUXAGCORecord, CODEMP), "empresa"},
        {Kind::kText, NV_AT(AUXAGCORecord, CARGOC), "cargo"},
        {Kind::kText, NV_AT(AUXAGCORecord, CODPOS), "código postal"}}},
      {"TelefonC",
       "AUXAGTC",
       "ATEC:AUXAGTC_CP",
       "Cargando telefonos de contactos...",
       false,
       "",
       Owner::kContact,
       0,
       {{Kind::kLong, NV_AT(AUXAGTCRecord, CODARC), "contacto"},
        {Kind::kNumber, NV_AT(AUXAGTCRecord, NROTEL), "teléfono"},
        {Kind::kText, NV_AT(AUXAGTCRecord, COMENT), "comentario"},
        {Kind::kDec3, NV_AT(AUXAGTCRecord, GRUAGE), "grupo"}}},
  };
  return kSources;
}

#undef NV_AT

enum Source { kRubros, kGrupos, kEmpresas, kTelefonE, kContacto, kTelefonC, kSourceCount };

std::string Num(int64_t n) {
  return std::to_string(n);
}

std::string Quoted(std::string_view text) {
  return "\"" + std::string(nv::Clip(text)) + "\"";
}

// The files written within one tick: each switched to batch writing before
// its first write, all flushed when the tick ends.
class TickWrites {
 public:
  void Touch(nv::File& f) {
    if (std::find(files_.begin(), files_.end(), &f) != files_.end()) return;
    f.Stream();
    files_.push_back(&f);
  }
  // Flushes every file; the first failure is answered (its file's name in
  // *failed), the other files are flushed all the same.
  int End(std::string* failed) {
    int first = 0;
    for (nv::File* f : files_) {
      if (const int err = f->Flush(); err != 0 && first == 0) {
        first = err;
        *failed = f->Name();
      }
    }
    files_.clear();
    return first;
  }

 private:
  std::vector<nv::File*> files_;
};

}  // namespace

// ---------------------------------------------------------------------------

struct TextImport::Impl {
  Impl(nv::dict::Dictionary& d, std::string f, ImportPacing p)
      : dic(d), folder(std::move(f)), pacing(p) {}

  nv::dict::Dictionary& dic;
  std::string folder;
  ImportPacing pacing;
  std::unique_ptr<nv::File> staging[kSourceCount];
  bool staging_open = false;
  std::vector<FileAccess*> used;  // directory files in use
  FileAccess* ma11 = nullptr;
  FileAccess* re09 = nullptr;
  FileAccess* ta02 = nullptr;
  FileAccess* ta09 = nullptr;
  TickWrites writes;

  // Loading.
  nv::dict::LineFile reader;
  TextEncoding encoding = TextEncoding::kAnsi;
  std::vector<std::string> fields;
  std::unordered_set<int64_t> codes[kSourceCount];
  std::unordered_set<std::string> names[kSourceCount];
  std::unordered_set<std::string> numbers;

  // Merging.
  std::unique_ptr<RelinkFiles> relink;
  std::vector<std::string> to_relink;          // unpaced: this tick's numbers
  int32_t company_code = 0, contact_code = 0;  // directory codes
  int32_t company_file = 0, contact_file = 0;  // file codes

  nv::File& Staged(int s) { return *staging[s]; }
  nv::KeyDecl* StagedKey(int s) { return staging[s]->key(Sources()[size_t(s)].key); }
  template <class R>
  R& Rec(int s) {
    return staging[s]->As<R>();
  }

  void CloseStaging(bool remove) {
    if (!staging_open) return;
    staging_open = false;
    for (auto& f : staging) {
      f->Close();
      if (remove) f->Remove();
    }
  }
  void CloseDirectory() {
    relink.reset();
    for (auto it = used.rbegin(); it != used.rend(); ++it) (*it)->Close();
    used.clear();
  }
};

TextImport::TextImport(nv::dict::Dictionary& dic, std::string folder, ImportPacing pacing)
    : impl_(std::make_unique<Impl>(dic, std::move(folder), pacing)) {}

TextImport::~TextImport() {
  if (running_) Stop();
}

void TextImport::SetStatus(std::string text) {
  status_ = std::move(text);
  if (on_status) on_status(status_);
}

void TextImport::Error(std::string text) {
  errors_.push_back(std::move(text));
  if (on_error) on_error(errors_.back());
}

std::string TextImport::PercentText() const {
  const int64_t pct = range_ > 0 ? progress_ * 100 / range_ : 0;
  return Num(std::min<int64_t>(pct, 100)) + A(" % Completo");
}

namespace {

std::string StepStatus(int step, std::string_view text) {
  return "Paso " + Num(step) + " de " + Num(kImportSteps) + " - " + std::string(text);
}

}  // namespace

// --- Start and stop --------------------------------------------------------

bool TextImport::Start() {
  Impl& m = *impl_;
  errors_.clear();
  rejected_ = relinked_ = 0;
  finished_ = false;
  // The staging tables: this run's own (deny all), emptied of what a
  // stopped run left.
  for (int s = 0; s < kSourceCount; ++s) {
    const char* label = Sources()[size_t(s)].staging;
    m.staging[s] = m.dic.NewFile(label);
    nv::File& f = *m.staging[s];
    int err = f.Open(nv::kReadWrite | nv::kDenyAll);
    if (err == nv::kErrFileNotFound) {
      err = f.Create();
      if (err == 0) err = f.Open(nv::kReadWrite | nv::kDenyAll);
    }
    if (err == 0) err = f.Empty();
    // Scratch of this run only: batch writing throughout, flushed when the
    // tables are closed (a crash leaves nothing a later run would use).
    if (err == 0 && (err = f.Stream()) == kNotImplemented) err = 0;
    if (err != 0) {
      for (int i = 0; i <= s; ++i) m.staging[i]->Close();
      SetStatus(A("No se puede iniciar la importación."));
      Error(A("No se puede usar la tabla auxiliar ") + label + " (error " + Num(err) + A("): ") +
            nv::ErrorTextOf(err) +
            (err == nv::kOsAccessDenied || err == 32 || err == 52
                 ? A(". Puede haber otra importación en curso.")
                 : "."));
      return false;
    }
  }
  m.staging_open = true;
  for (const char* label : {"FXMA11", "FXRE09", "FXTA02", "FXTA09"}) {
    FileAccess* a = m.dic.Access(label);
    // Unpaced, the directory is taken for writing by this run alone when
    // no other station writes it, so that the driver keeps its headers and
    // key pages between operations; else it is shared as the window does.
    int err = m.pacing == ImportPacing::kUnpaced && !a->is_open()
                  ? a->TryUseFile(nv::kReadWrite | nv::kDenyWrite)
                  : -1;
    if (err != 0) err = a->UseFile();
    if (err != 0) {
      m.CloseDirectory();
      m.CloseStaging(false);
      SetStatus(A("No se puede iniciar la importación."));
      Error(A("No se puede abrir el archivo ") + label + " (error " + Num(err) +
            "): " + nv::ErrorTextOf(err) + ".");
      return false;
    }
    m.used.push_back(a);
  }
  m.ma11 = m.used[0], m.re09 = m.used[1], m.ta02 = m.used[2], m.ta09 = m.used[3];
  for (auto& c : m.codes) c.clear();
  for (auto& n : m.names) n.clear();
  m.numbers.clear();
  running_ = true;
  step_ = 0;
  OpenSource(0);
  return true;
}

void TextImport::Stop() {
  if (!running_) return;
  Impl& m = *impl_;
  RelinkTick();
  EndWrites();
  m.reader.Close();
  m.CloseDirectory();
  m.CloseStaging(false);
  running_ = false;
}

// Opens input file `s` (step s + 1): its encoding first, from every byte.
void TextImport::OpenSource(int s) {
  Impl& m = *impl_;
  const InputFile& src = Sources()[size_t(s)];
  step_ = s + 1;
  line_ = progress_ = range_ = 0;
  SetStatus(StepStatus(step_, A(src.loading)));
  const std::string name = m.folder + src.name + ".txt";
  m.dic.globals().NOMBRE_ARCH.SALIDA = name;
  int err = m.reader.Open(m.dic);
  if (err == 0) {
    std::unique_ptr<nv::EnvFile> raw;
    nv::OpenOptions o;
    o.mode = 0x40;
    err = nv::GetEnv()->Open(nv::NativePath(m.dic.EffectiveName("SALIDA")), o, &raw);
    Utf8Check check;
    std::string head, chunk(1 << 16, '\0');
    for (uint64_t at = 0; err == 0;) {
      size_t got = 0;
      if ((err = raw->Read(at, chunk.data(), chunk.size(), &got)) != 0 || got == 0) break;
      if (at == 0) head.assign(chunk.data(), std::min<size_t>(got, kUtf8Bom.size()));
      check.Feed(std::string_view(chunk.data(), got));
      at += got;
    }
    m.encoding = EncodingOf(head, check);
  }
  if (err != 0) {
    m.reader.Close();
    Error(std::string(src.name) + ": No se puede abrir el archivo " + name + " (" +
          (err == nv::kOsFileNotFound || err == nv::kOsPathNotFound ? std::string("no existe")
                                                                    : "error " + Num(err)) +
          ").");
    return;
  }
  range_ = int64_t(m.reader.size());
}

// --- One unit ----------------------------------------------------------------

int64_t TextImport::Tick(int64_t units) {
  int64_t done = 0;
  while (running_ && (units <= 0 || done < units)) {
    Unit();
    ++done;
  }
  RelinkTick();
  if (running_ && !EndWrites()) Interrupt();
  return done;
}

int64_t TextImport::RunUnpaced() {
  int64_t done = 0;
  while (running_) done += Tick(kUnpacedTickUnits);
  return done;
}

bool TextImport::EndWrites() {
  std::string file;
  const int err = impl_->writes.End(&file);
  if (err == 0) return true;
  Error(A("Error al grabar en el disco el archivo ") + file + " (error " + Num(err) +
        "): " + nv::ErrorTextOf(err) + ".");
  return false;
}

// A flush that failed: what the ticks before wrote is on disk, this tick's
// work may not be. The run stops there, as a cancel does, so that nothing
// is built on writes the disk refused; the staging tables stay and a later
// run imports the files again (its matches update in place).
void TextImport::Interrupt() {
  Impl& m = *impl_;
  m.to_relink.clear();
  m.reader.Close();
  m.CloseDirectory();
  m.CloseStaging(false);
  running_ = false;
  SetStatus(A("Proceso interrumpido: error al grabar en el disco."));
}

void TextImport::Unit() {
  if (step_ >= 1 && step_ <= kSourceCount) {
    LoadLine();
  } else if (step_ == 7 || step_ == 8) {
    MergeTable();
  } else {
    MergeData();
  }
}

// Steps 1 to 6: one line.
void TextImport::LoadLine() {
  Impl& m = *impl_;
  const int s = step_ - 1;
  const InputFile& src = Sources()[size_t(s)];
  const int rc = m.reader.is_open() ? m.reader.Next() : kEndOfFile;
  if (rc != 0) {
    if (rc != kEndOfFile)
      Error(std::string(src.name) + ": Error al leer el archivo (error " + Num(rc) + ").");
    m.reader.Close();
    if (s + 1 < kSourceCount) {
      OpenSource(s + 1);
    } else {
      BeginTables(7);
    }
    return;
  }
  ++line_;
  progress_ += int64_t(m.reader.last_length());
  const std::string decoded = DecodeLine(m.reader.full_line(), m.encoding, line_ == 1);
  if (nv::Clip(decoded).empty()) return;  // a blank line holds nothing
  std::string problem;
  if (m.reader.full_truncated() || decoded.size() > kLineWidth) {
    problem = A("La linea tiene más de 255 caracteres");
  } else if (HasControlCharacters(decoded)) {
    problem = A("La linea tiene caracteres no válidos");
  } else if (!SplitFields(decoded, src.fields.size(), &m.fields)) {
    Reject(src.name + std::string(": Error de formato en la linea nro. ") + Num(line_) + ".");
    return;
  } else {
    problem = Stage(s);
  }
  if (!problem.empty()) {
    Reject(src.name + std::string(": ") + problem + ", linea nro. " + Num(line_) + ".");
    return;
  }
  nv::File& f = m.Staged(s);
  if (f.Add() != 0) {
    Reject(src.name +
           std::string(src.grabar ? ": Error al grabar los datos de la linea nro. "
                                  : ": Error al agregar los datos de la linea nro. ") +
           Num(line_) + " del archivo.");
    return;
  }
  // What later lines are checked against.
  const FieldLayout& first = src.fields[0];
  int32_t code = 0;
  std::memcpy(&code, f.record() + first.offset, sizeof code);
  if (first.kind == Kind::kCode) m.codes[s].insert(code);
  for (const FieldLayout& fs : src.fields) {
    const std::string_view text(reinterpret_cast<const char*>(f.record() + fs.offset), fs.width);
    if (fs.kind == Kind::kName) m.names[s].insert(std::string(nv::Clip(text)));
    if (fs.kind == Kind::kNumber) m.numbers.insert(std::string(nv::Clip(text)));
  }
}

void TextImport::Reject(std::string message) {
  ++rejected_;
  Error(std::move(message));
}

// Fills the staging record of source `s` from the fields split; answers the
// problem of the line ("" when none).
std::string TextImport::Stage(int s) {
  Impl& m = *impl_;
  const InputFile& src = Sources()[size_t(s)];
  nv::File& f = m.Staged(s);
  f.Clear();
  uint8_t* rec = f.record();
  for (size_t i = 0; i < src.fields.size(); ++i) {
    const FieldLayout& fs = src.fields[i];
    const std::string& text = m.fields[i];
    uint8_t* at = rec + fs.offset;
    const std::string invalid = A("Valor numérico inválido en el campo ") + A(fs.name);
    int64_t n = 0;
    switch (fs.kind) {
      case Kind::kCode:
        if (!ParseNumber(text, &n) || n <= 0 || n > INT32_MAX)
          return A("El código debe ser un número mayor que cero");
        if (m.codes[s].count(n) != 0) return A("Código repetido");
        [[fallthrough]];
      case Kind::kLong: {
        if (fs.kind == Kind::kLong && (!ParseNumber(text, &n) || n < INT32_MIN || n > INT32_MAX))
          return invalid;
        const auto v = int32_t(n);
        std::memcpy(at, &v, sizeof v);
        break;
      }
      case Kind::kDec2:
      case Kind::kDec3:
        if (!ParseNumber(text, &n) || !nv::DecimalFromInt64(n, at, fs.width, 0)) return invalid;
        break;
      case Kind::kByte:
        if (!ParseNumber(text, &n) || n < 0 || n > 255) return invalid;
        *at = uint8_t(n);
        break;
      case Kind::kDate: {
        int32_t day = 0;
        if (!ParseDate(text, &day)) return A("Fecha inválida en el campo ") + A(fs.name);
        const nv::BinDate b = nv::BinFromDate(day);
        std::memcpy(at, &b, sizeof b);
        break;
      }
      case Kind::kText:
      case Kind::kName:
        nv::AssignPadded(reinterpret_cast<char*>(at), fs.width, text);
        if (fs.kind == Kind::kName) {
          const std::string name(nv::Clip(std::string_view(reinterpret_cast<char*>(at), fs.width)));
          if (nv::Clip(nv::LeftJustify(name)).empty()) return A(src.blank);
          if ((s == kEmpresas || s == kContacto) && m.names[s].count(name) != 0)
            return A("Nombre repetido");
        }
        break;
      case Kind::kVat:
        nv::AssignPadded(reinterpret_cast<char*>(at), fs.width, VatCondition(text));
        break;
      case Kind::kNumber: {
        const std::string digits = DigitsOnly(nv::Clip(text));
        if (digits.empty()) return A("El número de teléfono no puede estar en blanco");
        if (digits.size() > kNumberDigits)
          return A("El número de teléfono tiene más de 30 dígitos");
        if (m.numbers.count(digits) != 0) return A("Número de teléfono repetido");
        nv::AssignPadded(reinterpret_cast<char*>(at), fs.width, digits);
        break;
      }
    }
  }
  // The owner the line names must have been loaded (else the line would be
  // dropped without a word when the data is merged).
  if (src.owner != Owner::kNone) {
    int32_t owner = 0;
    std::memcpy(&owner, rec + src.fields[src.owner_field].offset, sizeof owner);
    const bool company = src.owner == Owner::kCompany;
    if ((owner != 0 || !company) && m.codes[company ? kEmpresas : kContacto].count(owner) == 0) {
      return company ? A("La empresa nro. ") + Num(owner) + A(" no figura en Empresas.txt")
                     : A("El contacto nro. ") + Num(owner) + A(" no figura en Contacto.txt");
    }
  }
  return "";
}

// --- Steps 7 and 8: categories and groups -------------------------------------

void TextImport::BeginTables(int step) {
  Impl& m = *impl_;
  step_ = step;
  const int s = step == 7 ? kRubros : kGrupos;
  SetStatus(StepStatus(step, A(step == 7 ? "Procesando los rubros de empresas..."
                                         : "Procesando los grupos de agenda...")));
  line_ = progress_ = 0;
  range_ = m.Staged(s).Records();
  m.Staged(s).Set(m.StagedKey(s));
}

void TextImport::MergeTable() {
  Impl& m = *impl_;
  const bool rubros = step_ == 7;
  const int s = rubros ? kRubros : kGrupos;
  nv::File& staged = m.Staged(s);
  if (staged.Next() != 0) {
    if (rubros) {
      BeginTables(8);
    } else {
      BeginData();
    }
    return;
  }
  FileAccess& table = rubros ? *m.ta02 : *m.ta09;
  std::string desc;
  int64_t code = 0;
  int err = 0;
  table.file().Clear();
  if (rubros) {
    desc = m.Rec<AUXAGRURecord>(s).DESRUB.str();
    table.rec<TA02Record>().DESRUB = desc;
  } else {
    desc = m.Rec<AUXAGGRRecord>(s).DESGRU.str();
    table.rec<TA09Record>().DESGRU = desc;
  }
  if (table.TryFetch(rubros ? "TA02:TA02_C1" : "TA09:TA09_C1") != 0) {
    table.file().Clear();
    if (rubros) {
      table.rec<TA02Record>().DESRUB = desc;
    } else {
      table.rec<TA09Record>().DESGRU = desc;
    }
    m.writes.Touch(table.file());
    err = table.TryInsert();
  }
  if (err != 0) {
    Error(A(rubros ? "Error al agregar el rubro " : "Error al agregar el grupo de agenda ") +
          Quoted(desc) + ".");
  } else {
    if (rubros) {
      table.rec<TA02Record>().CODRUB.Scaled(&code);
      m.Rec<AUXAGRURecord>(s).CODRUB = int32_t(code);
    } else {
      table.rec<TA09Record>().GRUAGE.Scaled(&code);
      m.Rec<AUXAGGRRecord>(s).GRUAGE = int32_t(code);
    }
    if (staged.Put() != 0) {
      Error(
          A(rubros ? "Error al actualizar el rubro " : "Error al actualizar el grupo de agenda ") +
          Quoted(desc) +
          A(rubros ? " en la tabla auxiliar de rubros." : " en la tabla auxiliar de grupos."));
    }
  }
  ++progress_;
}

// --- Step 9: the data --------------------------------------------------------

void TextImport::BeginData() {
  Impl& m = *impl_;
  step_ = 9;
  SetStatus(StepStatus(9, A("Procesando los datos...")));
  line_ = progress_ = 0;
  range_ = m.Staged(kEmpresas).Records() + m.Staged(kContacto).Records() +
           m.Staged(kTelefonE).Records() + m.Staged(kTelefonC).Records();
  m.relink = std::make_unique<RelinkFiles>(m.dic);
  m.Staged(kEmpresas).Set(m.StagedKey(kEmpresas));
  phase_ = ImportPhase::kEmpresas;
}

// Positions a staging table at the records of one code.
void TextImport::PositionAt(int s, int32_t code) {
  Impl& m = *impl_;
  nv::File& f = m.Staged(s);
  f.Clear();
  const size_t at = s == kContacto ? offsetof(AUXAGCORecord, CODEMP) : 0;
  std::memcpy(f.record() + at, &code, sizeof code);
  nv::KeyDecl* k = m.StagedKey(s);
  f.Set(k, k);
}

// The next staged record of table `s` whose code field is `code`; false at
// the end of that code's records.
bool TextImport::NextOf(int s, int32_t code) {
  Impl& m = *impl_;
  nv::File& f = m.Staged(s);
  if (f.Next() != 0) return false;
  const size_t at = s == kContacto ? offsetof(AUXAGCORecord, CODEMP) : 0;
  int32_t v = 0;
  std::memcpy(&v, f.record() + at, sizeof v);
  return v == code;
}

void TextImport::MergeData() {
  Impl& m = *impl_;
  switch (phase_) {
    case ImportPhase::kEmpresas:
      if (m.Staged(kEmpresas).Next() != 0) {
        phase_ = ImportPhase::kContactosSinEmpresas;
        PositionAt(kContacto, 0);
        return;
      }
      ++progress_;
      if (MergeCompany()) {
        phase_ = ImportPhase::kTelefonosDeEmpresas;
        PositionAt(kTelefonE, m.company_file);
      }
      return;
    case ImportPhase::kTelefonosDeEmpresas:
    case ImportPhase::kTelefonosDeContactosDeEmpresas:
    case ImportPhase::kTelefonosDeContactosSinEmpresas: {
      const bool of_company = phase_ == ImportPhase::kTelefonosDeEmpresas;
      const int s = of_company ? kTelefonE : kTelefonC;
      if (!NextOf(s, of_company ? m.company_file : m.contact_file) ||
          nv::Clip(nv::LeftJustify(m.Rec<AUXAGTERecord>(s).NROTEL.view())).empty()) {
        if (of_company) {
          phase_ = ImportPhase::kContactosDeEmpresas;
          PositionAt(kContacto, m.company_file);
        } else {
          phase_ = phase_ == ImportPhase::kTelefonosDeContactosDeEmpresas
                       ? ImportPhase::kContactosDeEmpresas
                       : ImportPhase::kContactosSinEmpresas;
        }
        return;
      }
      ++progress_;
      MergeNumber(s, of_company ? m.company_code : m.contact_code);
      return;
    }
    case ImportPhase::kContactosDeEmpresas:
    case ImportPhase::kContactosSinEmpresas: {
      const bool with_company = phase_ == ImportPhase::kContactosDeEmpresas;
      if (!NextOf(kContacto, with_company ? m.company_file : 0) ||
          nv::Clip(nv::LeftJustify(m.Rec<AUXAGCORecord>(kContacto).NOMBRE.view())).empty()) {
        phase_ = with_company ? ImportPhase::kEmpresas : ImportPhase::kFin;
        return;
      }
      ++progress_;
      if (MergeContact(with_company ? m.company_code : 0)) {
        phase_ = with_company ? ImportPhase::kTelefonosDeContactosDeEmpresas
                              : ImportPhase::kTelefonosDeContactosSinEmpresas;
        PositionAt(kTelefonC, m.contact_file);
      }
      return;
    }
    case ImportPhase::kFin:
      Finish();
      return;
  }
}

// The directory code a staged category or group got in step 7 or 8; 0 when
// the file code names none.
int32_t TextImport::DirectoryCode(int s, int32_t file_code) {
  Impl& m = *impl_;
  if (file_code == 0) return 0;
  nv::File& f = m.Staged(s);
  f.Clear();
  const size_t at =
      s == kRubros ? offsetof(AUXAGRURecord, CODARC) : offsetof(AUXAGGRRecord, CODARC);
  std::memcpy(f.record() + at, &file_code, sizeof file_code);
  if (f.Get(m.StagedKey(s)) != 0) return 0;
  int32_t code = 0;
  std::memcpy(&code, f.record(), sizeof code);  // CODRUB / GRUAGE come first
  return code;
}

bool TextImport::MergeCompany() {
  Impl& m = *impl_;
  const auto& e = m.Rec<AUXAGEMRecord>(kEmpresas);
  m.company_file = e.CODARC;
  int64_t rubro_file = 0;
  e.CODRUB.Scaled(&rubro_file);
  const int32_t rubro = DirectoryCode(kRubros, int32_t(rubro_file));
  FileAccess& ma11 = *m.ma11;
  auto& r = ma11.rec<MA11Record>();
  ma11.file().Clear();
  r.NOMBRE = e.NOMBRE.view();
  r.ESEMPR = "E";
  const bool found = ma11.TryFetch("MA11:MA11_C1") == 0;
  if (!found) {
    ma11.file().Clear();
    ma11.file().SetMemoText(0, "");  // a new company starts without comments
  }
  // An existing company keeps its comments: the files have none to replace
  // them with.
  std::memcpy(&r.FECALT, &e.FECALT, sizeof r.FECALT);
  r.NOMBRE = e.NOMBRE.view();
  r.DIRECC = e.DIRECC.view();
  r.LOCALI = e.LOCALI.view();
  r.PROVIN = e.PROVIN.view();
  r.CODRES = m.dic.globals().CODUSR;
  r.CLIENT = e.CLIENT;
  r.CODEMP = 0;
  r.CARGOC.Clear();
  r.CUITNO = e.CUITNO.view();
  r.CONIVA = e.CONIVA.view();
  r.CODPOS = e.CODPOS.view();
  r.ESEMPR = "E";
  r.CODRUB.Set(rubro);
  m.writes.Touch(ma11.file());
  if ((found ? ma11.TryUpdate() : ma11.TryInsert()) != 0) {
    Error(A(found ? "Error al actualizar la empresa nro. " : "Error al agregar la empresa nro. ") +
          Num(e.CODARC) + " " + Quoted(e.NOMBRE.view()) + ".");
    return false;
  }
  m.company_code = r.CODIGO;
  return true;
}

bool TextImport::MergeContact(int32_t company) {
  Impl& m = *impl_;
  const auto& c = m.Rec<AUXAGCORecord>(kContacto);
  m.contact_file = c.CODARC;
  FileAccess& ma11 = *m.ma11;
  auto& r = ma11.rec<MA11Record>();
  ma11.file().Clear();
  r.NOMBRE = c.NOMBRE.view();
  r.ESEMPR = "C";
  const bool found = ma11.TryFetch("MA11:MA11_C1") == 0;
  if (!found) {
    ma11.file().Clear();
    ma11.file().SetMemoText(0, "");
    r.NOMBRE = c.NOMBRE.view();
    r.ESEMPR = "C";
  }
  std::memcpy(&r.FECALT, &c.FECALT, sizeof r.FECALT);
  r.DIRECC = nv::Clip(c.DIRECC.view());
  r.LOCALI = nv::Clip(c.LOCALI.view());
  r.PROVIN = nv::Clip(c.PROVIN.view());
  r.CODEMP = company;
  r.CARGOC = c.CARGOC.view();
  r.CODPOS = c.CODPOS.view();
  m.writes.Touch(ma11.file());
  if ((found ? ma11.TryUpdate() : ma11.TryInsert()) != 0) {
    Error(A(found ? "Error al actualizar el contacto " : "Error al agregar el contacto ") +
          Quoted(c.NOMBRE.view()) + ".");
    return false;
  }
  m.contact_code = r.CODIGO;
  return true;
}

void TextImport::MergeNumber(int s, int32_t owner) {
  Impl& m = *impl_;
  const auto& t = m.Rec<AUXAGTERecord>(s);  // AUXAGTE and AUXAGTC share one layout
  const std::string justified = nv::LeftJustify(t.NROTEL.view());
  const std::string number(nv::Clip(justified));
  FileAccess& re09 = *m.re09;
  auto& r = re09.rec<RE09Record>();
  re09.file().Clear();
  r.NROTEL = number;
  const bool found = re09.TryFetch("RE09:RE09_C1") == 0;
  if (!found) {
    int64_t group_file = 0;
    t.GRUAGE.Scaled(&group_file);
    const int32_t group = DirectoryCode(kGrupos, int32_t(group_file));
    re09.file().Clear();
    r.CODIGO.Set(owner);
    r.NROTEL = number;
    r.COMENT = t.COMENT.view();
    r.GRUAGE.Set(group);
    nv::dict::DeriveNumberFields(r);
  } else {
    r.CODIGO.Set(owner);
  }
  m.writes.Touch(re09.file());
  if ((found ? re09.TryUpdate() : re09.TryInsert()) != 0) {
    Error(A(found ? "Error al actualizar el teléfono " : "Error al agregar el teléfono ") +
          Quoted(number) + ".");
    return;
  }
  // The calls of the number (its first 30 characters): at once in the
  // window; unpaced, at the end of the tick (RelinkTick).
  if (m.pacing == ImportPacing::kUnpaced) {
    m.to_relink.push_back(number.substr(0, 30));
  } else {
    Relink(number.substr(0, 30));
  }
}

void TextImport::Relink(const std::string& number) {
  Impl& m = *impl_;
  if (!m.relink || !m.relink->ok()) return;
  CallRelinker run(m.relink->re09(), m.relink->calls(), number);
  run.SetBeforeWrite([&m](nv::File& f) { m.writes.Touch(f); });
  run.Begin();
  run.Step(0);
  run.Finish();
  ++relinked_;
  if (run.errors() > 0) {
    Error(A("Error al actualizar las llamadas del teléfono ") + Quoted(number) + " (" +
          run.first_error_label() + ", error " + Num(run.first_error()) + ").");
  }
}

// The numbers a tick of many units added or moved, re-linked after its last
// unit, in number order. Each call ends linked as if they had been re-linked
// one by one: either way its last re-link comes after the last change, in
// the tick, of any directory number that starts it, so it gets the owner of
// the longest one as the tick left them. The call files are walked upwards
// one number after another, without directory writes in between to end
// their read runs, and a call that several numbers start is written once.
void TextImport::RelinkTick() {
  Impl& m = *impl_;
  std::vector<std::string>& numbers = m.to_relink;
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  for (const std::string& n : numbers) Relink(n);
  numbers.clear();
}

void TextImport::Finish() {
  Impl& m = *impl_;
  progress_ = range_;
  SetStatus(A("Finalizando el proceso..."));
  RelinkTick();
  if (!EndWrites()) {
    Interrupt();
    return;
  }
  m.CloseDirectory();
  m.CloseStaging(true);
  phase_ = ImportPhase::kFin;
  running_ = false;
  finished_ = true;
  SetStatus(A("Proceso finalizado !"));
}

}  // namespace agenda
