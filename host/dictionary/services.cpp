// The four services of the dictionary and the directory lookup.
#include "host/dictionary/services.h"

#include <cstdio>

#include "host/dictionary/records.h"
#include "host/runtime/driver_interface.h"
#include "host/runtime/fixed_string.h"

namespace nv::dict {

namespace {

struct CallType {
  const char* name;
  const char* code;
};
constexpr CallType kCallTypes[] = {
    {"Todas", "  "},           {"Locales", "LO"},   {"Nacionales", "NA"},
    {"Internacionales", "IN"}, {"Celulares", "CE"}, {"Celulares Nacionales", "CN"},
    {"Especiales", "ES"},
};

}  // namespace

std::string TIPO_LLAMADAS(std::string_view name) {
  std::string wanted = Upper(Clip(name));
  if (wanted.empty()) return "  ";
  for (const CallType& t : kCallTypes) {
    if (Upper(t.name) == wanted) return t.code;
  }
  return "??";
}

bool RANGO_STRING(std::string_view value, std::string_view first, std::string_view last) {
  return CompareClipped(value, first) >= 0 && CompareClipped(value, last) <= 0;
}

std::string TIEMPO(int64_t total_duration, int64_t /*calls*/) {
  int64_t seconds = total_duration > 0 ? total_duration / 100 : 0;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                int(seconds / 60 % 60), int(seconds % 60));
  return buf;
}

// ---------------------------------------------------------------------------

DirectoryLookup::DirectoryLookup(const Dictionary& dict)
    : re09_(dict.NewFile("FXRE09")), ma11_(dict.NewFile("FXMA11")) {
  open_error_ = re09_->Open(kReadOnly | kDenyNone);
  if (open_error_ == 0) {
    open_error_ = ma11_->Open(kReadOnly | kDenyNone);
    if (open_error_ != 0) re09_->Close();
  }
}

DirectoryLookup::~DirectoryLookup() {
  if (open_error_ == 0) {
    re09_->Close();
    ma11_->Close();
  }
}

bool DirectoryLookup::Find(std::string_view number, Match* m) {
  *m = Match{};
  std::string_view x = Clip(number);
  if (x.empty() || open_error_ != 0) return false;
  auto& r = re09_->As<RE09Record>();
  r.CARINI = x.substr(0, 1);
  r.LONTEL = uint8_t(x.size() < 255 ? x.size() : 255);
  r.NROTEL.Clear();
  KeyDecl* k = re09_->key("RE09:RE09_C3");
  if (re09_->Set(k, k) != 0) return false;
  // From the longest possible length down: the first prefix is the longest.
  while (re09_->Next() == 0) {
    if (r.CARINI.data()[0] != x[0]) break;
    std::string_view n = r.NROTEL.clipped();
    if (n.empty() || n.size() > x.size() || x.substr(0, n.size()) != n) continue;
    int64_t code = 0, group = 0;
    r.CODIGO.Scaled(&code);
    r.GRUAGE.Scaled(&group);
    m->code = int32_t(code);
    m->group = int32_t(group);
    m->number = std::string(n);
    m->comment = r.COMENT.str();
    return true;
  }
  return false;
}

std::string DirectoryLookup::Description(std::string_view number) {
  Match m;
  if (!Find(number, &m)) return "";
  auto& e = ma11_->As<MA11Record>();
  e.CODIGO = m.code;
  std::string name;
  if (ma11_->Get(ma11_->key("MA11:MA11_CP")) == 0) name = e.NOMBRE.str();
  if (name.empty()) return m.comment;
  if (m.comment.empty()) return name;
  return name + " - " + m.comment;
}

std::string DESCRIPCION_AGENDA(std::string_view number) {
  struct Cache {
    uint64_t generation = 0;
    std::unique_ptr<DirectoryLookup> lookup;
  };
  thread_local Cache cache;
  Dictionary* dict = Dic();
  if (dict == nullptr) {
    cache.lookup.reset();
    return "";
  }
  if (cache.lookup == nullptr || cache.generation != DicGeneration()) {
    cache.lookup.reset();
    cache.lookup = std::make_unique<DirectoryLookup>(*dict);
    cache.generation = DicGeneration();
  }
  return cache.lookup->Description(number);
}

}  // namespace nv::dict
