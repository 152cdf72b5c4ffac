// The dictionary at run time: store choice, access objects, relations and
// the program-wide instance of FXDATS:INIT / FXDATS:KILL.
#include "host/dictionary/dictionary.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <set>

#include "host/runtime/driver_interface.h"
#include "host/runtime/error_state.h"

namespace nv::dict {

namespace {

std::string UpperAscii(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = char(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

// Reads an integer code field (LONG, SHORT, BYTE or DECIMAL without places).
bool ReadCode(const FieldDesc& f, const uint8_t* p, int64_t* out) {
  switch (f.type) {
    case kTypeLong: {
      int32_t v;
      std::memcpy(&v, p, 4);
      *out = v;
      return true;
    }
    case kTypeShort: {
      int16_t v;
      std::memcpy(&v, p, 2);
      *out = v;
      return true;
    }
    case kTypeByte:
      *out = p[0];
      return true;
    case kTypeDecimal:
      return f.places == 0 && DecimalToScaled(p, f.size, out);
    default:
      return false;
  }
}

bool WriteCode(const FieldDesc& f, uint8_t* p, int64_t v) {
  switch (f.type) {
    case kTypeLong: {
      if (v < INT32_MIN || v > INT32_MAX) return false;
      int32_t x = int32_t(v);
      std::memcpy(p, &x, 4);
      return true;
    }
    case kTypeShort: {
      if (v < INT16_MIN || v > INT16_MAX) return false;
      int16_t x = int16_t(v);
      std::memcpy(p, &x, 2);
      return true;
    }
    case kTypeByte:
      if (v < 0 || v > 255) return false;
      p[0] = uint8_t(v);
      return true;
    case kTypeDecimal:
      return f.places == 0 && DecimalFromInt64(v, p, f.size, 0);
    default:
      return false;
  }
}

// The highest value a code field holds.
int64_t HighestCode(const FieldDesc& f) {
  switch (f.type) {
    case kTypeLong:
      return INT32_MAX;
    case kTypeShort:
      return INT16_MAX;
    case kTypeByte:
      return 255;
    default: {
      int64_t v = 0;
      for (uint32_t i = 0; i < 2 * f.size - 1 && i < 18; ++i) v = v * 10 + 9;
      return v;
    }
  }
}

constexpr int kErrDuplicate = 40;
constexpr int kErrNoRecord = 33;
constexpr int kErrNotFound = 35;
constexpr uint32_t kOpenMode = kReadWrite | kDenyNone;

}  // namespace

ErrorReporter::~ErrorReporter() = default;

// ---------------------------------------------------------------------------
// FileAccess

FileAccess::FileAccess(Dictionary* dict, const FileInfo& info, FileDecl decl)
    : dict_(dict), info_(info), file_(std::make_unique<nv::File>(std::move(decl))) {}

int FileAccess::Report(std::string_view operation, int code) {
  if (code == 0) return 0;
  dict_->NoteError(code);
  if (ErrorReporter* r = dict_->reporter()) {
    std::string text = ErrorCode() == code ? ErrorText() : ErrorTextOf(code);
    r->FileError(info_.label, operation, code, text);
  }
  return code;
}

int FileAccess::UseFile() {
  return Report("Open", TryUseFile(kOpenMode));
}

int FileAccess::TryUseFile(uint32_t mode) {
  if (uses_ > 0) {
    ++uses_;
    return 0;
  }
  file_->SetName(dict_->EffectiveName(info_.label));
  const StoreChoice store = dict_->Store(info_.label);
  file_->SetOwner(store.owner);
  int err = file_->Open(mode);
  if (err == kErrFileNotFound && info_.create_on_open) {
    err = file_->Create();
    if (err == 0) err = file_->Open(mode);
  }
  if (err != 0) return err;
  uses_ = 1;
  return 0;
}

int FileAccess::Close() {
  if (uses_ == 0) return 0;
  if (--uses_ > 0) return 0;
  return file_->Close();
}

int FileAccess::TryFetch(std::string_view key) {
  KeyDecl* k = file_->key(key);
  if (k == nullptr)
    RuntimeError(0, "Clave inexistente en " + info_.label + ": " + std::string(key));
  return file_->Get(k);
}

int FileAccess::Fetch(std::string_view key) {
  return Report("Fetch", TryFetch(key));
}

int FileAccess::SetOrder(std::string_view key) {
  if (key.empty()) return file_->Set();
  KeyDecl* k = file_->key(key);
  if (k == nullptr)
    RuntimeError(0, "Clave inexistente en " + info_.label + ": " + std::string(key));
  return file_->Set(k, k);
}

int FileAccess::Next() {
  return file_->Next();
}
int FileAccess::Previous() {
  return file_->Previous();
}

int FileAccess::AssignCode(bool* assigned) {
  *assigned = false;
  if (info_.code_field.empty()) return 0;
  const RecordType& rt = *file_->decl().record;
  const FieldDesc* f = rt.Field(rt.FindField(info_.code_field));
  KeyDecl* k = file_->key(info_.code_key);
  if (f == nullptr || k == nullptr) return 0;
  uint8_t* p = record() + f->offset;
  int64_t code = 0;
  if (!ReadCode(*f, p, &code) || code != 0) return 0;

  // Find the last code in key order: the record before the highest value,
  // unless a record holds the highest value itself.
  // Reading moves the buffer and memos: keep them and put them back.
  std::vector<uint8_t> saved(record(), record() + file_->record_length());
  std::vector<std::string> memos;
  for (int i = 0; i < file_->memo_count(); ++i) memos.push_back(file_->MemoText(i));
  WriteCode(*f, p, HighestCode(*f));
  const int64_t highest = HighestCode(*f);
  int64_t last = 0;
  int err = file_->Set(k, k);
  if (err == 0 && file_->Next() == 0) {
    last = highest;  // the highest code is taken: nothing fits after it
  } else if (err == 0) {
    WriteCode(*f, p, highest);
    err = file_->Set(k, k);
    if (err == 0) err = file_->Previous();
    if (err == 0 && !ReadCode(*f, p, &last)) last = 0;
  }
  std::memcpy(record(), saved.data(), saved.size());
  for (int i = 0; i < file_->memo_count(); ++i) file_->SetMemoText(i, memos[size_t(i)]);
  if (err != 0 && err != kErrNoRecord && err != kErrNotFound) return err;
  if (err != 0) last = 0;  // empty file
  int64_t next = std::max<int64_t>(last + 1, 1);
  // No next code fits the field: as full as a duplicate key.
  if (!WriteCode(*f, p, next)) return kErrDuplicate;
  *assigned = true;
  return 0;
}

int FileAccess::DoInsert() {
  bool assigned = false;
  int err = 0;
  for (int attempt = 0; attempt < 4; ++attempt) {
    err = AssignCode(&assigned);
    if (err != 0) break;
    err = file_->Add();
    // Another station took the code meanwhile: number again.
    if (err == kErrDuplicate && assigned && file_->Duplicate(file_->key(info_.code_key))) {
      const RecordType& rt = *file_->decl().record;
      WriteCode(*rt.Field(rt.FindField(info_.code_field)),
                record() + rt.Field(rt.FindField(info_.code_field))->offset, 0);
      continue;
    }
    break;
  }
  if (err != 0 && assigned) {
    const RecordType& rt = *file_->decl().record;
    const FieldDesc* f = rt.Field(rt.FindField(info_.code_field));
    WriteCode(*f, record() + f->offset, 0);
  }
  return err;
}

int FileAccess::TryInsert() {
  return DoInsert();
}
int FileAccess::Insert() {
  return Report("Insert", DoInsert());
}
int FileAccess::TryUpdate() {
  return file_->Put();
}
int FileAccess::Update() {
  return Report("Update", file_->Put());
}
int FileAccess::TryDelete() {
  return file_->Delete();
}
int FileAccess::Delete() {
  return Report("Delete", file_->Delete());
}

int32_t FileAccess::DateOf(std::string_view group_label) {
  const RecordType& rt = *file_->decl().record;
  const FieldDesc* f = rt.Field(rt.FindField(group_label));
  if (f == nullptr || f->type != kTypeGroup || f->size != sizeof(BinDate)) return 0;
  BinDate b;
  std::memcpy(&b, record() + f->offset, sizeof b);
  return DateFromBin(b);
}

bool FileAccess::SetDate(std::string_view group_label, int32_t date) {
  const RecordType& rt = *file_->decl().record;
  const FieldDesc* f = rt.Field(rt.FindField(group_label));
  if (f == nullptr || f->type != kTypeGroup || f->size != sizeof(BinDate)) return false;
  BinDate b = BinFromDate(date);
  std::memcpy(record() + f->offset, &b, sizeof b);
  return true;
}

// ---------------------------------------------------------------------------
// Dictionary

StoreChoice ParseStoreEntry(std::string_view text) {
  StoreChoice c;
  size_t first = text.find(';');
  if (first == std::string_view::npos) {
    c.driver = Trim(text);
    return c;
  }
  c.driver = Trim(text.substr(0, first));
  size_t last = text.rfind(';');
  if (last == first) {
    c.owner = Trim(text.substr(first + 1));
    return c;
  }
  c.owner = Trim(text.substr(first + 1, last - first - 1));
  c.name = Trim(text.substr(last + 1));
  return c;
}

Dictionary::Dictionary(const ProfileFile* profile, ErrorReporter* reporter)
    : reporter_(reporter), globals_{} {
  const ProfileFile default_profile;
  const ProfileFile& pf = profile != nullptr ? *profile : default_profile;
  driver_all_ = Trim(pf.GetString(kProfileSection, "Driver", ""));
  owner_all_ = Trim(pf.GetString(kProfileSection, "Owner", ""));
  folder_ = Trim(pf.GetString(kProfileSection, "Folder", ""));
  dos_folder_ = Trim(pf.GetString(kProfileSection, "DosFolder", ""));
  long central = pf.GetInt(kProfileSection, "Central", 1);
  globals_.CAPTURA.NROCEN = int16_t(std::clamp<long>(central, INT16_MIN, INT16_MAX));
  for (const FileInfo& s : Catalogue()) {
    if (!s.base.empty() || !s.movable) continue;
    std::string v = pf.GetString(kProfileSection, s.label, "");
    if (!Trim(v).empty()) per_file_[UpperAscii(s.label)] = ParseStoreEntry(v);
  }
}

Dictionary::~Dictionary() {
  for (auto& [label, a] : accesses_) {
    while (a->is_open()) a->Close();
  }
}

StoreChoice Dictionary::Store(std::string_view label) const {
  const FileInfo* info = FindFileInfo(label);
  if (info == nullptr) return {};
  const FileInfo* base = FindFileInfo(info->store_label());
  StoreChoice c;
  c.driver = base->driver;
  if (!base->movable) return c;
  if (!driver_all_.empty()) c.driver = driver_all_;
  c.owner = owner_all_;
  auto it = per_file_.find(UpperAscii(base->label));
  if (it != per_file_.end()) {
    if (!it->second.driver.empty()) c.driver = it->second.driver;
    if (!it->second.owner.empty()) c.owner = it->second.owner;
    c.name = it->second.name;
  }
  // The older DOS directory's files are flat files wherever the directory
  // itself is kept: only their place may change.
  if (base->default_name.rfind(kDosFolder, 0) == 0) {
    c.driver = base->driver;
    c.owner.clear();
  }
  return c;
}

std::string Dictionary::FolderRewrite(const std::string& name) const {
  if (folder_.empty()) return name;
  std::string n = name;
  std::replace(n.begin(), n.end(), '\\', '/');
  static constexpr std::string_view kPrefixes[] = {"./archivos/", "archivos/"};
  for (std::string_view p : kPrefixes) {
    if (n.size() > p.size() && UpperAscii(n.substr(0, p.size())) == UpperAscii(p)) {
      std::string folder = folder_;
      while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\'))
        folder.pop_back();
      return folder + "/" + n.substr(p.size());
    }
  }
  return name;
}

std::string Dictionary::EffectiveName(std::string_view label) const {
  const FileInfo* info = FindFileInfo(label);
  if (info == nullptr) return {};
  const FileInfo* base = FindFileInfo(info->store_label());
  StoreChoice c = Store(label);
  if (!c.name.empty()) return c.name;
  if (UpperAscii(c.driver) == "ODBC") return base->label;
  const String<255>* var = NameVariable(label);
  if ((var == nullptr || var->empty()) && !dos_folder_.empty() &&
      base->default_name.rfind(kDosFolder, 0) == 0) {
    std::string folder = dos_folder_;
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    return folder + "/" + base->label;
  }
  std::string n = (var != nullptr && !var->empty()) ? var->str() : base->default_name;
  return base->movable ? FolderRewrite(n) : n;
}

FileDecl Dictionary::Declaration(std::string_view label) const {
  FileDecl d = DefaultDecl(label);
  if (d.label.empty()) return d;
  StoreChoice c = Store(label);
  d.driver = c.driver;
  d.owner = c.owner;
  d.name = EffectiveName(label);
  // In a data source the base and its aliases are one table: an alias's
  // fields are named as the base's columns ("AMA11:CODIGO" is MA11_CODIGO).
  const FileInfo* info = FindFileInfo(label);
  if (UpperAscii(c.driver) == "ODBC" && info != nullptr &&
      UpperAscii(info->store_label()) != UpperAscii(label)) {
    const FileDecl base = DefaultDecl(info->store_label());
    auto rt = std::make_shared<RecordType>(*d.record);
    for (size_t i = 1; i < rt->fields.size(); ++i) {
      FieldDesc& f = rt->fields[i];
      const size_t colon = f.label.find(':');
      if (f.name.empty() && colon != std::string::npos)
        f.name = base.record->prefix + "_" + f.label.substr(colon + 1);
    }
    d.record = std::move(rt);
  }
  return d;
}

std::unique_ptr<nv::File> Dictionary::NewFile(std::string_view label) const {
  FileDecl d = Declaration(label);
  if (d.label.empty()) return nullptr;
  return std::make_unique<nv::File>(std::move(d));
}

FileAccess* Dictionary::Access(std::string_view label) {
  const std::string key = UpperAscii(label);
  auto it = accesses_.find(key);
  if (it != accesses_.end()) return it->second.get();
  const FileInfo* info = FindFileInfo(label);
  if (info == nullptr) return nullptr;
  auto a = std::make_unique<FileAccess>(this, *info, Declaration(label));
  FileAccess* raw = a.get();
  accesses_[key] = std::move(a);
  return raw;
}

int Dictionary::OpenRelation(std::string_view label) {
  std::vector<std::string> opened;
  std::set<std::string> visited;
  std::function<int(const std::string&)> open = [&](const std::string& l) -> int {
    if (!visited.insert(UpperAscii(l)).second) return 0;
    FileAccess* a = Access(l);
    if (a == nullptr) return kErrFileNotFound;
    if (int err = a->UseFile()) return err;
    opened.push_back(l);
    for (const std::string& r : a->info().related) {
      if (int err = open(r)) return err;
    }
    return 0;
  };
  int err = open(std::string(label));
  if (err != 0) {
    for (auto it = opened.rbegin(); it != opened.rend(); ++it) Access(*it)->Close();
    return err;
  }
  relations_[UpperAscii(label)].push_back(std::move(opened));
  return 0;
}

int Dictionary::CloseRelation(std::string_view label) {
  auto it = relations_.find(UpperAscii(label));
  if (it == relations_.end() || it->second.empty()) return 0;
  std::vector<std::string> opened = std::move(it->second.back());
  it->second.pop_back();
  int result = 0;
  for (auto o = opened.rbegin(); o != opened.rend(); ++o) {
    if (int err = Access(*o)->Close(); err != 0 && result == 0) result = err;
  }
  return result;
}

const String<255>* Dictionary::NameVariable(std::string_view label) const {
  return const_cast<Dictionary*>(this)->NameVariable(label);
}

String<255>* Dictionary::NameVariable(std::string_view label) {
  const FileInfo* info = FindFileInfo(label);
  if (info == nullptr || info->name_var.empty()) return nullptr;
  NombreArch& n = globals_.NOMBRE_ARCH;
  const std::string& v = info->name_var;
  if (v == "FXMO01") return &n.FXMO01;
  if (v == "FXMO02") return &n.FXMO02;
  if (v == "FXTR01") return &n.FXTR01;
  if (v == "FXTR02") return &n.FXTR02;
  if (v == "SALIDA") return &n.SALIDA;
  if (v == "FXMA06DOS") return &n.FXMA06DOS;
  if (v == "FXRE01DOS") return &n.FXRE01DOS;
  if (v == "FXTA06DOS") return &n.FXTA06DOS;
  return nullptr;
}

void Dictionary::SetCallFileNames() {
  NombreArch& n = globals_.NOMBRE_ARCH;
  n.FXMO01 = ".\\Archivos\\FXMO01.VTR";
  n.FXMO02 = ".\\Archivos\\FXMO02.VTR";
  n.FXTR01 = ".\\Archivos\\FXTR01.VTR";
  n.FXTR02 = ".\\Archivos\\FXTR02.VTR";
}

// ---------------------------------------------------------------------------
// The program's dictionary.

namespace {
std::unique_ptr<Dictionary>& Instance() {
  static std::unique_ptr<Dictionary> d;
  return d;
}
std::atomic<uint64_t> g_generation{1};
}  // namespace

void FxdatsInit(ErrorReporter* reporter, const ProfileFile* profile) {
  Instance().reset();
  Instance() = std::make_unique<Dictionary>(profile, reporter);
  ++g_generation;
}

void FxdatsKill() {
  Instance().reset();
  ++g_generation;
}

Dictionary* Dic() {
  return Instance().get();
}
uint64_t DicGeneration() {
  return g_generation.load();
}

}  // namespace nv::dict
