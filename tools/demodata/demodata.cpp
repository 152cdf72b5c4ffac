#include "tools/demodata/demodata.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/dictionary/declarations.h"
#include "host/dictionary/records.h"
#include "host/runtime/codepage.h"
#include "host/runtime/date_time.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"

namespace demodata {

namespace {

using namespace nv::dict;

std::string A(std::string_view utf8) {
  return nv::AnsiFromUtf8(utf8);
}

// Deterministic choices from the seed (only the raw engine output is used,
// so every standard library gives the same records).
class Rng {
 public:
  explicit Rng(uint64_t seed) : e_(seed) {}
  uint64_t Next() { return e_(); }
  // 0 .. n-1
  int64_t Below(int64_t n) { return n <= 1 ? 0 : int64_t(Next() % uint64_t(n)); }
  int64_t Between(int64_t lo, int64_t hi) { return lo + Below(hi - lo + 1); }
  bool Chance(int percent) { return Below(100) < percent; }
  template <class T>
  const T& Pick(const std::vector<T>& v) {
    return v[size_t(Below(int64_t(v.size())))];
  }
  std::string Digits(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += char('0' + Below(10));
    return s;
  }

 private:
  std::mt19937_64 e_;
};

constexpr int kNotImplemented = 80;
constexpr int32_t kBatchProperty = 29506;  // rows per insert statement of the ODBC driver

// One output file written in stream mode.
class Writer {
 public:
  Writer(const std::string& label, const std::string& folder, const std::string& file_name,
         const std::string& driver, const std::string& owner = {})
      : label_(label) {
    nv::FileDecl d = DefaultDecl(label);
    d.name = folder + "/" + file_name;
    if (!driver.empty()) d.driver = driver;
    if (!owner.empty()) {
      // A table named by its label, as the dictionary names a file it
      // moves to a data source.
      d.owner = owner;
      d.name = label;
      batched_ = true;
    }
    file_ = std::make_unique<nv::File>(std::move(d));
  }
  nv::File& file() { return *file_; }
  template <class R>
  R& rec() {
    return file_->As<R>();
  }

  int Begin() {
    file_->Remove();  // an old file of a forced run; a missing one is fine
    nv::ClearError();
    if (int err = file_->Create()) return Fail("CREATE", err);
    if (int err = file_->Open(nv::kReadWrite | nv::kDenyAll)) return Fail("OPEN", err);
    if (int err = file_->Stream(); err && err != kNotImplemented) return Fail("STREAM", err);
    // A data source takes the records a thousand rows per statement.
    if (batched_ && file_->SetProperty(kBatchProperty, "1000") != 0)
      return Fail("BATCH", nv::ErrorCode());
    file_->Clear();
    return 0;
  }
  int Append() {
    if (int err = file_->Append()) return Fail("APPEND", err);
    ++count_;
    file_->Clear();
    for (int i = 0; i < file_->memo_count(); ++i) file_->SetMemoText(i, "");
    return 0;
  }
  int End() {
    if (file_->key_count() > 0) {
      if (int err = file_->Build(); err && err != kNotImplemented) return Fail("BUILD", err);
    }
    if (int err = file_->Flush(); err && err != kNotImplemented) return Fail("FLUSH", err);
    if (int err = file_->Close()) return Fail("CLOSE", err);
    return 0;
  }
  int64_t count() const { return count_; }
  const std::string& failure() const { return failure_; }

 private:
  int Fail(const char* verb, int err) {
    failure_ = label_ + ": " + verb + " " + std::to_string(err) + " " + nv::ErrorText();
    return err;
  }
  std::string label_;
  std::unique_ptr<nv::File> file_;
  int64_t count_ = 0;
  std::string failure_;
  bool batched_ = false;
};

// --- word lists (UTF-8; converted on the way into the records)

const std::vector<std::string> kFirstNames = {
    "María",     "José",      "Juan",   "Ana",      "Carlos",  "Laura",  "Jorge",    "Silvia",
    "Luis",      "Graciela",  "Miguel", "Patricia", "Roberto", "Marta",  "Ricardo",  "Claudia",
    "Daniel",    "Mónica",    "Sergio", "Verónica", "Pablo",   "Andrea", "Diego",    "Lucía",
    "Martín",    "Florencia", "Hernán", "Valeria",  "Gustavo", "Sofía",  "Fernando", "Natalia",
    "Alejandro", "Carolina",  "Raúl",   "Inés"};
const std::vector<std::string> kSurnames = {
    "González", "Rodríguez", "Gómez",   "Fernández", "López",     "Díaz",    "Martínez",
    "Pérez",    "García",    "Sánchez", "Romero",    "Sosa",      "Álvarez", "Torres",
    "Ruiz",     "Ramírez",   "Flores",  "Acosta",    "Benítez",   "Medina",  "Suárez",
    "Herrera",  "Aguirre",   "Pereyra", "Gutiérrez", "Giménez",   "Molina",  "Silva",
    "Castro",   "Rojas",     "Ortiz",   "Núñez",     "Luna",      "Juárez",  "Cabrera",
    "Ríos",     "Ferreyra",  "Godoy",   "Morales",   "Domínguez", "Moreno",  "Peralta"};
const std::vector<std::string> kTrades = {
    "Distribuidora", "Ferretería",       "Transportes",  "Laboratorios", "Construcciones",
    "Metalúrgica",   "Estudio Contable", "Panificadora", "Farmacia",     "Inmobiliaria",
    "Textil",        "Agropecuaria",     "Imprenta",     "Librería",     "Óptica",
    "Seguros",       "Frigorífico",      "Maderera",     "Autopartes",   "Clínica",
    "Consultora",    "Sanitarios",       "Electricidad", "Viajes"};
const std::vector<std::string> kBrands = {
    "del Centro", "Mediterránea", "del Sur",   "Norte",      "La Cordobesa",
    "San Martín", "Los Andes",    "Belgrano",  "Del Valle",  "El Progreso",
    "La Unión",   "Sierras",      "Pampa",     "Río Cuarto", "Alta Gracia",
    "Patagonia",  "Cuyo",         "Rivadavia", "Atlántica",  "Güemes"};
const std::vector<std::string> kSuffixes = {"S.A.", "S.R.L.", "Hnos.", "S.A.", "y Cía.", "S.H."};
const std::vector<std::string> kStreets = {
    "Av. Colón",        "Bv. San Juan", "Av. Vélez Sarsfield", "Deán Funes", "27 de Abril",
    "Av. Rafael Núñez", "Obispo Trejo", "Av. Corrientes",      "Florida",    "Av. Santa Fe",
    "Av. Rivadavia",    "Belgrano",     "Sarmiento",           "Mitre",      "Av. Sabattini",
    "Chacabuco"};
struct Town {
  const char* name;
  const char* province;
  const char* postal;
  const char* area;  // area code with its leading 0
};
const std::vector<Town> kTowns = {{"Córdoba", "Córdoba", "X5000", "0351"},
                                  {"Villa Carlos Paz", "Córdoba", "X5152", "03541"},
                                  {"Río Cuarto", "Córdoba", "X5800", "0358"},
                                  {"Buenos Aires", "C.A.B.A.", "C1000", "011"},
                                  {"La Plata", "Buenos Aires", "B1900", "0221"},
                                  {"Rosario", "Santa Fe", "S2000", "0341"},
                                  {"Mendoza", "Mendoza", "M5500", "0261"},
                                  {"San Miguel de Tucumán", "Tucumán", "T4000", "0381"}};
const std::vector<std::string> kPositions = {"Gerente general",
                                             "Gerente de compras",
                                             "Jefe de ventas",
                                             "Administración",
                                             "Tesorería",
                                             "Recursos humanos",
                                             "Encargado de depósito",
                                             "Secretaria",
                                             "Responsable técnico",
                                             "Contador",
                                             "Socio",
                                             "Atención al cliente"};
const std::vector<std::string> kVat = {"Responsable Inscripto",   "Responsable No Inscripto",
                                       "Responsable Monotributo", "Consumidor Final",
                                       "No Responsable",          "Exento"};
const std::vector<std::string> kCategories = {
    "Comercio",     "Industria",   "Servicios",  "Transporte", "Salud",    "Educación",
    "Construcción", "Gastronomía", "Tecnología", "Gobierno",   "Finanzas", "Agro"};
const std::vector<std::string> kGroups = {
    "Clientes", "Proveedores", "Bancos", "Organismos públicos", "Personal", "Servicios técnicos"};
const std::vector<std::string> kNumberComments = {
    "Conmutador", "Ventas",        "Administración", "Fax",        "Depósito",
    "Gerencia",   "Línea directa", "Celular",        "Particular", "Mesa de ayuda"};
const std::vector<std::string> kComments = {"Atiende de lunes a viernes de 8 a 17 hs.",
                                            "Pedir por el interno de compras antes de las 12.",
                                            "Cliente desde hace años; pagos a 30 días.",
                                            "Enviar facturas por correo electrónico.",
                                            "No llamar durante el mediodía.",
                                            "Consultar por la lista de precios actualizada."};

std::string Slug(std::string_view utf8) {
  std::string s;
  for (unsigned char c : nv::AnsiFromUtf8(utf8)) {
    // Windows-1252 letters with accents to plain letters.
    static const char* kFold = "AAAAAAACEEEEIIIIDNOOOOOxOUUUUYPsaaaaaaaceeeeiiiidnooooo/ouuuuypy";
    char ch = char(c);
    if (c >= 0xC0) ch = kFold[c - 0xC0];
    if (std::isalnum(static_cast<unsigned char>(ch)))
      s += char(std::tolower(static_cast<unsigned char>(ch)));
  }
  return s.empty() ? "empresa" : s.substr(0, 16);
}

// Call type of a dialled number.
struct Rating {
  const char* type;
  const char* description;
  double per_minute;
};
Rating Rate(const std::string& n) {
  if (n.rfind("0800", 0) == 0 || n.rfind("0810", 0) == 0 || (n.rfind("1", 0) == 0 && n.size() <= 3))
    return {"ES", "Servicio especial", 0.0};
  if (n.rfind("00", 0) == 0) return {"IN", "Internacional", 95.0};
  if (n.rfind("15", 0) == 0) return {"CE", "Celular", 28.0};
  if (n.size() > 6 && n[0] == '0' && n.find("15", 3) != std::string::npos && n.find("15", 3) <= 5)
    return {"CN", "Celular nacional", 42.0};
  if (n[0] == '0') return {"NA", "Nacional", 35.0};
  return {"LO", "Local", 6.0};
}

bool FolderHasFiles(const std::string& path) {
  DIR* d = opendir(path.c_str());
  if (d == nullptr) return false;
  bool any = false;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      any = true;
      break;
    }
  }
  closedir(d);
  return any;
}

// The directory as the calls are linked against it.
struct DirectoryNumber {
  int32_t code;
  int32_t group;
};

class Generator {
 public:
  Generator(const Options& o, Summary* s, std::string* e) : o_(o), s_(s), error_(e), rng_(o.seed) {}

  int Run() {
    if (int err = Users()) return err;
    if (int err = Tables()) return err;
    if (int err = Directory()) return err;
    if (int err = DosDirectory()) return err;
    if (int err = Central()) return err;
    if (int err = Lookups()) return err;
    return Calls();
  }

 private:
  int Fail(Writer& w, int err) {
    *error_ = w.failure();
    return err;
  }
  std::unique_ptr<Writer> Open(const char* label, const std::string& name, int* err) {
    auto w = std::make_unique<Writer>(label, o_.out, name, o_.driver, o_.owner);
    *err = w->Begin();
    if (*err) *error_ = w->failure();
    return w;
  }

  // Writes `count` records of one table: fill(record buffer, i) fills the
  // i-th (from 0) before it is appended. *written gets the records written.
  template <typename Record, typename Fill>
  int WriteTable(const char* label, size_t count, Fill fill, int64_t* written = nullptr) {
    int err;
    auto w = Open(label, label, &err);
    if (err) return err;
    for (size_t i = 0; i < count; ++i) {
      fill(w->template rec<Record>(), i);
      if ((err = w->Append())) return Fail(*w, err);
    }
    if (written) *written = w->count();
    if ((err = w->End())) return Fail(*w, err);
    return 0;
  }

  int Users() {
    struct U {
      const char* name;
      const char* password;
      const char* attr;
    };
    static const U users[] = {{kDemoUser, kDemoPassword, "ADM"},
                              {"Ana García", "ana2024", "OPE"},
                              {"Carlos Pérez", "carlos", "OPE"},
                              {"Supervisor", "Super.1", "SUP"}};
    return WriteTable<TA01Record>(
        "FXTA01", std::size(users),
        [](TA01Record& r, size_t i) {
          r.CODUSR.Set(int64_t(i + 1));
          r.ATRUSR = A(users[i].attr);
          r.CLAVE = A(users[i].password);
          r.NOMUSR = A(users[i].name);
        },
        &s_->users);
  }

  int Tables() {
    if (int err = WriteTable<TA02Record>(
            "FXTA02", kCategories.size(),
            [](TA02Record& r, size_t i) {
              r.CODRUB.Set(int64_t(i + 1));
              r.DESRUB = A(kCategories[i]);
            },
            &s_->categories))
      return err;
    return WriteTable<TA09Record>(
        "FXTA09", kGroups.size(),
        [](TA09Record& r, size_t i) {
          r.GRUAGE.Set(int64_t(i + 1));
          r.DESGRU = A(kGroups[i]);
        },
        &s_->groups);
  }

  // Adds a directory number (digits or an e-mail address) owned by `code`.
  int AddNumber(Writer& w, int32_t code, const std::string& number, const std::string& comment,
                int32_t group) {
    if (!numbers_seen_.insert(number).second) return 0;  // unique across the file
    auto& r = w.rec<RE09Record>();
    r.CODIGO.Set(code);
    r.NROTEL = number;
    r.COMENT = A(comment);
    r.GRUAGE.Set(group);
    nv::dict::DeriveNumberFields(r);
    if (int err = w.Append()) return err;
    if (number.find('@') == std::string::npos) {
      directory_[number] = {code, group};
      if (number.size() >= 8) dialable_.push_back(number);
    }
    return 0;
  }

  // A small directory of the suite's older DOS version in DOS/, to try the
  // import with: its groups 1 to 3 are the demo's own (each one refused), its
  // entry 1 clashes with demo company 1 under another name (skipped), one
  // number is written "<I>..." and one is already a demo company's.
  int DosDirectory() {
    const std::string folder = o_.out + "/DOS";
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
      *error_ = "no se puede crear la carpeta " + folder + ": " + std::strerror(errno);
      return -1;
    }
    struct Entry {
      int32_t code, group;
      const char* name;
      const char* address;
      std::vector<std::pair<std::string, const char*>> numbers;
    };
    const std::string present = dialable_.empty() ? "1143210000" : dialable_.front();
    const std::vector<Entry> entries = {
        {1, 1, "Distribuidora Antigua", "Perú 120", {{"1143000001", "Central"}}},
        {9001, 90, "Compañía Marítima del Plata", "Güemes 455", {{"<I>223", "Interno"},
                                                                {"2234950011", "Conmutador"}}},
        {9002, 2, "Ñandú Transportes", "", {{present, "Ya en la agenda"}}},
        {9003, 3, "Cerrajería Díaz", "Av. Córdoba 3020", {}},
    };
    struct Group {
      int32_t code;
      const char* name;
    };
    const Group groups[] = {{1, "Clientes"}, {2, "Proveedores"}, {3, "Bancos"},
                            {90, "Agenda anterior (DOS)"}};
    int err;
    auto w = [&](const char* label) {
      auto out = std::make_unique<Writer>(label, folder, label, "");
      err = out->Begin();
      if (err) *error_ = out->failure();
      return out;
    };
    auto ta06 = w("FXTA06DOS");
    if (err) return err;
    for (const Group& g : groups) {
      auto& r = ta06->rec<TA06DOSRecord>();
      r.GRUPO.Set(g.code);
      r.DESCRI = A(g.name);
      if ((err = ta06->Append())) return Fail(*ta06, err);
    }
    if ((err = ta06->End())) return Fail(*ta06, err);
    auto ma06 = w("FXMA06DOS");
    if (err) return err;
    auto re01 = w("FXRE01DOS");
    if (err) return err;
    for (const Entry& e : entries) {
      auto& r = ma06->rec<MA06DOSRecord>();
      r.CODIGO.Set(e.code);
      r.GRUPO.Set(e.group);
      r.NOMBRE = A(e.name);
      r.DIRECC = A(e.address);
      if ((err = ma06->Append())) return Fail(*ma06, err);
      for (const auto& [number, comment] : e.numbers) {
        auto& n = re01->rec<RE01DOSRecord>();
        n.CODIGO.Set(e.code);
        n.NROTEL = number;
        n.COMENT = A(comment);
        if ((err = re01->Append())) return Fail(*re01, err);
      }
    }
    if ((err = ma06->End())) return Fail(*ma06, err);
    if ((err = re01->End())) return Fail(*re01, err);
    return 0;
  }

  int Directory() {
    int err;
    auto ma11 = Open("FXMA11", "FXMA11", &err);
    if (err) return err;
    auto re09 = Open("FXRE09", "FXRE09", &err);
    if (err) return err;
    const int32_t first_day = nv::DateFromYmd(2019, 3, 1);
    const int32_t last_day = nv::DateFromYmd(2026, 11, 30);
    std::set<std::string> names;
    int32_t code = 0;
    struct Company {
      int32_t code;
      std::string slug;
      std::string block;  // prefix of the company's direct lines ("" none)
      int32_t group;
    };
    std::vector<Company> companies;

    for (int i = 0; i < o_.companies; ++i) {
      std::string name;
      for (int tries = 0; name.empty() || names.count(name); ++tries) {
        name = rng_.Pick(kTrades) + " " +
               (rng_.Chance(50) ? rng_.Pick(kBrands) : rng_.Pick(kSurnames)) + " " +
               rng_.Pick(kSuffixes);
        if (tries > 20) name += " " + std::to_string(i + 1);
      }
      names.insert(name);
      const Town& town = rng_.Pick(kTowns);
      auto& r = ma11->rec<MA11Record>();
      r.CODIGO = ++code;
      r.FECALT.set_day(int32_t(rng_.Between(first_day, last_day)));
      r.NOMBRE = A(name);
      r.DIRECC = A(rng_.Pick(kStreets) + " " + std::to_string(rng_.Between(10, 4999)));
      r.LOCALI = A(town.name);
      r.PROVIN = A(town.province);
      r.CODRUB.Set(rng_.Between(0, int64_t(kCategories.size())));
      r.CODRES.Set(rng_.Between(1, 4));
      r.CLIENT = rng_.Chance(60) ? 1 : 0;
      r.CODEMP = 0;
      r.CUITNO = (rng_.Chance(50) ? "30" : "33") + rng_.Digits(9);
      r.CONIVA = A(rng_.Pick(kVat));
      r.CODPOS = A(town.postal);
      r.ESEMPR = "E";
      if (rng_.Chance(40)) ma11->file().SetMemoText(0, A(rng_.Pick(kComments)));
      if ((err = ma11->Append())) return Fail(*ma11, err);

      Company c{code, Slug(name), "", int32_t(rng_.Between(1, int64_t(kGroups.size())))};
      const std::string area = town.area;
      const int local_digits = 10 - int(area.size()) + 1;  // area + local = 11 digits
      std::string main = area + "4" + rng_.Digits(local_digits - 1);
      if (rng_.Chance(20)) {
        // A block of direct lines: the short prefix reaches every line of it.
        c.block = main.substr(0, main.size() - 2);
        if ((err = AddNumber(*re09, code, c.block, "Conmutador", c.group))) return Fail(*re09, err);
        main = c.block + "00";
      }
      if ((err = AddNumber(*re09, code, main, rng_.Pick(kNumberComments), c.group)))
        return Fail(*re09, err);
      if (rng_.Chance(40)) {
        std::string extra = area + "4" + rng_.Digits(local_digits - 1);
        if ((err = AddNumber(*re09, code, extra, "Fax", c.group))) return Fail(*re09, err);
      }
      if (rng_.Chance(50)) {
        if ((err = AddNumber(*re09, code, "ventas@" + c.slug + ".com.ar", "Correo", c.group)))
          return Fail(*re09, err);
      }
      companies.push_back(std::move(c));
    }
    s_->companies = o_.companies;

    std::set<std::string> contact_names;
    for (int i = 0; i < o_.contacts; ++i) {
      std::string first, last, name;
      for (int tries = 0; name.empty() || contact_names.count(name); ++tries) {
        first = rng_.Pick(kFirstNames);
        last = rng_.Pick(kSurnames);
        name = first + " " + last;
        if (tries > 3) name = first + " " + rng_.Pick(kFirstNames) + " " + last;
        if (tries > 20) name += " " + std::to_string(i + 1);
      }
      contact_names.insert(name);
      const bool with_company = !companies.empty() && rng_.Chance(85);
      const Company* c =
          with_company ? &companies[size_t(rng_.Below(int64_t(companies.size())))] : nullptr;
      const Town& town = rng_.Pick(kTowns);
      auto& r = ma11->rec<MA11Record>();
      r.CODIGO = ++code;
      r.FECALT.set_day(int32_t(rng_.Between(first_day, last_day)));
      r.NOMBRE = A(name);
      r.DIRECC = A(rng_.Pick(kStreets) + " " + std::to_string(rng_.Between(10, 4999)));
      r.LOCALI = A(town.name);
      r.PROVIN = A(town.province);
      r.CODRES.Set(rng_.Between(1, 4));
      r.CODEMP = c ? c->code : 0;
      r.CARGOC = c ? A(rng_.Pick(kPositions)) : "";
      r.CUITNO = "0";
      r.CONIVA = A("Exento");
      r.CODPOS = A(town.postal);
      r.ESEMPR = "C";
      if (rng_.Chance(20)) ma11->file().SetMemoText(0, A(rng_.Pick(kComments)));
      if ((err = ma11->Append())) return Fail(*ma11, err);
      const int32_t group = c ? c->group : int32_t(rng_.Between(1, int64_t(kGroups.size())));
      if (c && !c->block.empty()) {
        std::string line = c->block + rng_.Digits(2);
        if ((err = AddNumber(*re09, code, line, "Línea directa", group))) return Fail(*re09, err);
      }
      if (rng_.Chance(70)) {
        if ((err =
                 AddNumber(*re09, code, "15" + std::to_string(rng_.Between(4, 6)) + rng_.Digits(7),
                           "Celular", group)))
          return Fail(*re09, err);
      }
      if (c && rng_.Chance(50)) {
        std::string mail = Slug(first) + "." + Slug(last) + "@" + c->slug + ".com.ar";
        if ((err = AddNumber(*re09, code, mail, "Correo", group))) return Fail(*re09, err);
      }
    }
    s_->contacts = o_.contacts;
    s_->numbers = re09->count();
    if ((err = ma11->End())) return Fail(*ma11, err);
    if ((err = re09->End())) return Fail(*re09, err);
    return 0;
  }

  int Central() {
    int err;
    auto cent = Open("CENTRAL", "CENTRAL", &err);
    if (err) return err;
    auto& r = cent->rec<CENTRecord>();
    r.NROCEN = 1;
    r.NOMCEN = A("Central Córdoba - Casa central");
    if ((err = cent->Append())) return Fail(*cent, err);
    if ((err = cent->End())) return Fail(*cent, err);
    auto mo04 = Open("FXMO04", "FXMO04", &err);
    if (err) return err;
    return mo04->End() ? Fail(*mo04, 1) : 0;
  }

  int Lookups() {
    int err;
    // Line groups and lines.
    if ((err = WriteTable<TA14Record>("FXTA14", 2, [](TA14Record& r, size_t i) {
           r.GRULIN.Set(int64_t(i + 1));
           r.DESGRU = A(i == 0 ? "Líneas analógicas" : "Enlace digital");
         })))
      return err;
    if ((err = WriteTable<MA07Record>("FXMA07", 8, [this](MA07Record& r, size_t i) {
           const int l = int(i + 1);
           char num[8];
           std::snprintf(num, sizeof num, "%02d", l);
           r.NROLIN = num;
           r.DESLIN =
               A("Línea " + std::to_string(l) + (l <= 4 ? " - analógica" : " - enlace digital"));
           r.MULTISEL = l <= 6 ? 1 : 0;  // marked for the requirement reports
           lines_.push_back({num, l <= 4 ? 1 : 2});
         })))
      return err;

    // Extension groups and extensions.
    const std::vector<std::string> areas = {"Administración", "Ventas", "Soporte técnico",
                                            "Gerencia"};
    if ((err = WriteTable<TA15Record>("FXTA15", areas.size(), [&](TA15Record& r, size_t g) {
           r.GRUINT.Set(int64_t(g + 1));
           r.DESGRU = A(areas[g]);
         })))
      return err;
    if ((err = WriteTable<MA08Record>("FXMA08", 40, [&](MA08Record& r, size_t e) {
           const std::string num = std::to_string(101 + e);
           const int group = int(e / 10 + 1);
           r.NROINT = num;
           r.DESINT = A(rng_.Pick(kFirstNames) + " " + rng_.Pick(kSurnames) + " (" +
                        areas[size_t(group - 1)] + ")");
           r.MULTISEL = e % 4 != 3 ? 1 : 0;
           extensions_.push_back({num, group});
         })))
      return err;

    // Account groups and account codes.
    const std::vector<std::string> account_groups = {"Proyectos", "Clientes", "Uso interno"};
    if ((err =
             WriteTable<TA13Record>("FXTA13", account_groups.size(), [&](TA13Record& r, size_t g) {
               r.GRUCTA.Set(int64_t(g + 1));
               r.DESGRU = A(account_groups[g]);
             })))
      return err;
    if ((err = WriteTable<MA09Record>("FXMA09", 20, [&](MA09Record& r, size_t a) {
           const std::string num = std::to_string(1001 + a);
           const int group = int(a % 3 + 1);
           r.NROCTA = num;
           r.DESCTA = A("Cuenta " + num + " - " + account_groups[size_t(group - 1)]);
           r.MULTISEL = group != 3 ? 1 : 0;
           accounts_.push_back({num, group});
         })))
      return err;

    // Agent groups and agents.
    if ((err = WriteTable<TA03Record>("FXTA03", 2, [](TA03Record& r, size_t i) {
           r.CODGRU = int(i + 1);
           r.DESGRU = A(i == 0 ? "Atención al cliente" : "Cobranzas");
         })))
      return err;
    return WriteTable<MA02Record>("FXMA02", 6, [this](MA02Record& r, size_t i) {
      const int a = int(i + 1);
      r.CODAGT = a;
      r.CODGRU = a <= 4 ? 1 : 2;
      r.DESCRI = A("Agente " + std::to_string(a) + " - " + rng_.Pick(kFirstNames) + " " +
                   rng_.Pick(kSurnames));
      r.MULTISEL = a <= 4 ? 1 : 0;
      agents_.push_back({a, a <= 4 ? 1 : 2});
    });
  }

  // The directory entry of a number: its longest directory prefix.
  DirectoryNumber Link(const std::string& number) const {
    for (size_t n = std::min<size_t>(number.size(), 40); n > 0; --n) {
      auto it = directory_.find(number.substr(0, n));
      if (it != directory_.end()) return it->second;
    }
    return {0, 0};
  }

  std::string CallNumber(bool outgoing) {
    if (!dialable_.empty() && rng_.Chance(outgoing ? 55 : 45)) {
      std::string n = rng_.Pick(dialable_);
      if (n.size() < 10) n += rng_.Digits(int(10 - n.size()));
      return n;
    }
    const int kind = int(rng_.Below(100));
    if (kind < 35) return "4" + rng_.Digits(6);                                        // local
    if (kind < 55) return "15" + std::to_string(rng_.Between(4, 6)) + rng_.Digits(7);  // mobile
    if (kind < 75) return "011" + std::to_string(rng_.Between(4, 5)) + rng_.Digits(7);
    if (kind < 85) return rng_.Pick(kTowns).area + std::string("4") + rng_.Digits(5);
    if (kind < 90) return "0351" + std::string("15") + rng_.Digits(7);  // national mobile
    if (kind < 95) return (rng_.Chance(50) ? "0800" : "0810") + rng_.Digits(7);
    if (kind < 97) return std::string(rng_.Chance(50) ? "112" : "101");
    return "00" + std::string(rng_.Chance(50) ? "34" : "1") + rng_.Digits(9);
  }

  struct Code {
    std::string text;
    int group;
  };
  struct Agent {
    int code;
    int group;
  };

  int Calls() {
    int err;
    auto mo01 = Open("FXMO01", "FXMO01.VTR", &err);
    if (err) return err;
    auto mo02 = Open("FXMO02", "FXMO02.VTR", &err);
    if (err) return err;
    auto tr01 = Open("FXTR01", "FXTR01.VTR", &err);
    if (err) return err;
    auto tr02 = Open("FXTR02", "FXTR02.VTR", &err);
    if (err) return err;

    const int32_t first_day = nv::DateFromYmd(2026, 6, 1);
    const int32_t days = nv::DateFromYmd(2026, 11, 30) - first_day + 1;
    int64_t written = 0;
    int32_t call_id[2] = {0, 0};
    // Calls are written day by day in time order, as an exchange records them.
    const int64_t per_day = std::max<int64_t>(1, o_.calls / days + 1);
    int32_t day = first_day;
    int64_t today_count = 0;
    int32_t clock = 0;
    while (written < o_.calls) {
      if (today_count >= per_day || clock > nv::TimeFromHms(20, 0, 0)) {
        ++day;
        today_count = 0;
        clock = 0;
        if (day >= first_day + days) day = first_day + days - 1;
      }
      if (clock == 0) clock = nv::TimeFromHms(8, 0, 0) + int32_t(rng_.Below(6000));
      const bool outgoing = rng_.Chance(65);
      const int dir = outgoing ? 0 : 1;
      Writer& legs = outgoing ? *mo01 : *mo02;
      Writer& headers = outgoing ? *tr01 : *tr02;
      const std::string number =
          outgoing ? CallNumber(true) : (rng_.Chance(8) ? std::string() : CallNumber(false));
      const Rating rating = number.empty() ? Rating{"LO", "Desconocido", 0} : Rate(number);
      const bool unrated = outgoing && rng_.Chance(3);
      const char* type = unrated ? "NT" : rating.type;
      const DirectoryNumber link = number.empty() ? DirectoryNumber{0, 0} : Link(number);
      const auto& line = rng_.Pick(lines_);
      const bool account = outgoing && rng_.Chance(20);
      const Code* acct =
          account ? &accounts_[size_t(rng_.Below(int64_t(accounts_.size())))] : nullptr;
      const bool agent = !outgoing && rng_.Chance(50);
      const Agent* ag = agent ? &agents_[size_t(rng_.Below(int64_t(agents_.size())))] : nullptr;
      const int64_t remaining = o_.calls - written;
      int leg_count = 1;
      if (remaining >= 3 && rng_.Chance(outgoing ? 3 : 12)) leg_count = int(rng_.Between(2, 3));
      if (leg_count > 1 && leg_count + 1 > remaining) leg_count = int(remaining - 1);
      const int32_t id = ++call_id[dir];
      int32_t start = clock;
      int32_t total = 0;
      double total_cost = 0;
      for (int leg = 0; leg < leg_count; ++leg) {
        const auto& ext = rng_.Pick(extensions_);
        const int32_t duration = int32_t(rng_.Between(300, 60000) * (rng_.Chance(10) ? 5 : 1));
        const double cost =
            (unrated || !outgoing) ? 0.0 : rating.per_minute * (duration / 6000.0 + 1) / 10.0;
        auto& r = legs.rec<nv::dict::CallRecord>();
        r.CODLLA = id;
        r.FECLLA.set_day(day);
        r.HORLLA = start;
        r.NROINT = ext.text;
        r.NROLIN = line.text;
        r.NROTEL = number;
        r.DURLLA = duration;
        r.RINLLA = outgoing ? 0 : int32_t(rng_.Between(100, 3000));
        r.NROCTA = acct ? acct->text : "";
        r.COSLLA = cost;
        r.DESLLA = A(rating.description);
        r.TIPOLLA = type;
        r.CODIGO = link.code;
        r.TRANSF = leg_count > 1 ? "T" : "";
        r.GRUINT.Set(ext.group);
        r.GRULIN.Set(line.group);
        r.GRUCTA.Set(acct ? acct->group : 0);
        r.GRUAGE.Set(link.group);
        r.CODAGT = ag ? ag->code : 0;
        r.GRUAGT = ag ? ag->group : 0;
        if ((err = legs.Append())) return Fail(legs, err);
        ++written;
        if (link.code != 0) ++s_->linked;
        start += duration + 100;
        total += duration;
        total_cost += cost;
      }
      if (leg_count > 1) {
        auto& h = headers.rec<nv::dict::TransferRecord>();
        h.CODLLA = id;
        h.FECLLA.set_day(day);
        h.HORLLA = clock;
        h.DURLLA = total;
        h.COSLLA = total_cost;
        h.TIPOLLA = type;
        h.DESLLA = A(rating.description);
        h.NROLIN = line.text;
        h.NROCTA = acct ? acct->text : "";
        h.NROTEL = number;
        h.CODIGO = link.code;
        h.GRULIN.Set(line.group);
        h.GRUCTA.Set(acct ? acct->group : 0);
        h.GRUAGE.Set(link.group);
        if ((err = headers.Append())) return Fail(headers, err);
        ++written;
        if (link.code != 0) ++s_->linked;
      }
      clock = start + int32_t(rng_.Below(40000));
      ++today_count;
    }
    s_->outgoing = mo01->count();
    s_->incoming = mo02->count();
    s_->out_headers = tr01->count();
    s_->in_headers = tr02->count();
    for (Writer* w : {mo01.get(), mo02.get(), tr01.get(), tr02.get()}) {
      if ((err = w->End())) return Fail(*w, err);
    }
    return 0;
  }

  const Options& o_;
  Summary* s_;
  std::string* error_;
  Rng rng_;
  std::set<std::string> numbers_seen_;
  std::unordered_map<std::string, DirectoryNumber> directory_;
  std::vector<std::string> dialable_;
  std::vector<Code> lines_, extensions_, accounts_;
  std::vector<Agent> agents_;
};

// --- The text import's sample files.

// "(0351) 456-7890" style from digits: area in brackets, the rest with a dash.
std::string Written(const std::string& digits, Rng& rng) {
  const size_t area = digits.size() > 7 ? digits.size() - 7 : 0;
  switch (rng.Below(3)) {
    case 0:
      return "(" + digits.substr(0, area) + ") " + digits.substr(area, 3) + "-" +
             digits.substr(area + 3);
    case 1:
      return digits.substr(0, area) + " " + digits.substr(area);
    default:
      return digits;
  }
}

bool WriteFile(const std::string& path, const std::string& bytes, bool force, std::string* error) {
  struct stat st;
  if (!force && ::stat(path.c_str(), &st) == 0) {
    *error = path + " ya existe (use --force para reemplazarlo)";
    return false;
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    *error = "no se puede escribir " + path + ": " + std::strerror(errno);
    if (f != nullptr) std::fclose(f);
    return false;
  }
  return std::fclose(f) == 0;
}

bool ParseNumber(const char* text, int64_t lo, int64_t* out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo) return false;
  *out = v;
  return true;
}

}  // namespace

int Write(const Options& options, Summary* summary, std::string* error) {
  *summary = {};
  if (options.out.empty()) {
    *error = "falta la carpeta de salida";
    return -1;
  }
  if (FolderHasFiles(options.out) && !options.force) {
    *error = "la carpeta " + options.out + " ya tiene archivos (use --force para reemplazarlos)";
    return -1;
  }
  if (::mkdir(options.out.c_str(), 0755) != 0 && errno != EEXIST) {
    *error = "no se puede crear la carpeta " + options.out + ": " + std::strerror(errno);
    return -1;
  }
  Generator g(options, summary, error);
  return g.Run();
}

int WriteTextSample(const TextSample& t, TextSampleSummary* summary, std::string* error) {
  *summary = {};
  if (::mkdir(t.out.c_str(), 0755) != 0 && errno != EEXIST) {
    *error = "no se puede crear la carpeta " + t.out + ": " + std::strerror(errno);
    return -1;
  }
  Rng rng(t.seed);
  std::string rubros, grupos, empresas, telefone, contactos, telefonc;
  auto line = [&](std::string* file, const std::string& text) {
    *file += text + "\r\n";
    ++summary->lines;
  };
  for (size_t i = 0; i < kCategories.size(); ++i)
    line(&rubros, std::to_string(i + 1) + "," + A(kCategories[i]));
  for (size_t i = 0; i < kGroups.size(); ++i)
    line(&grupos, std::to_string(i + 1) + "," + A(kGroups[i]));
  static const char* kVatCodes[] = {"RI", "RN", "MO", "CF", "NR", "EX"};
  std::set<std::string> names, contact_names, numbers;
  size_t given = 0;
  auto number = [&](const std::string& area, int digits) {
    std::string n;
    while (n.empty() || numbers.count(n))
      n = given < t.numbers.size() ? t.numbers[given++] : area + rng.Digits(digits);
    numbers.insert(n);
    return n;
  };
  int32_t contact_code = 100000;
  for (int i = 1; i <= t.companies; ++i) {
    std::string name;
    for (int tries = 0; name.empty() || names.count(name); ++tries) {
      name = rng.Pick(kTrades) + " " + rng.Pick(kBrands) + " " + rng.Pick(kSuffixes);
      if (tries > 20) name += " " + std::to_string(i);
    }
    names.insert(name);
    const Town& town = rng.Pick(kTowns);
    int year = int(rng.Between(2015, 2026)), month = int(rng.Between(1, 12));
    int day = int(rng.Between(1, 28));
    const std::string code = std::to_string(i);
    line(&empresas, code + "," + std::to_string(day) + "/" + std::to_string(month) + "/" +
                        std::to_string(year) + "," + A(name) + "," +
                        A(rng.Pick(kStreets) + " " + std::to_string(rng.Between(10, 4999))) + "," +
                        A(town.name) + "," + A(town.province) + "," +
                        std::to_string(rng.Between(0, int64_t(kCategories.size()))) + "," +
                        (rng.Chance(60) ? "1" : "0") + "," + (rng.Chance(50) ? "30-" : "33-") +
                        rng.Digits(8) + "-" + rng.Digits(1) + "," + kVatCodes[rng.Below(6)] + "," +
                        town.postal);
    const std::string area = town.area;
    for (int k = 0; k < t.numbers_per_company; ++k) {
      line(&telefone, code + "," + Written(number(area + "4", 10 - int(area.size())), rng) + "," +
                          A(rng.Pick(kNumberComments)) + "," +
                          std::to_string(rng.Between(0, int64_t(kGroups.size()))));
    }
    for (int k = 0; k < t.contacts_per_company; ++k) {
      std::string cname;
      for (int tries = 0; cname.empty() || contact_names.count(cname); ++tries) {
        cname = rng.Pick(kFirstNames) + " " + rng.Pick(kSurnames);
        if (tries > 3)
          cname = rng.Pick(kFirstNames) + " " + rng.Pick(kFirstNames) + " " + rng.Pick(kSurnames);
        if (tries > 20) cname += " " + std::to_string(contact_code);
      }
      contact_names.insert(cname);
      const std::string ccode = std::to_string(++contact_code);
      line(&contactos, ccode + ",," + cname + "," + rng.Pick(kStreets) + ",,," + code + "," +
                           rng.Pick(kPositions) + "," + town.postal);
      line(&telefonc, ccode + "," + Written(number(area + "15", 7), rng) + ",Celular,0");
    }
  }
  if (t.errors) {
    line(&empresas, std::to_string(t.companies + 1) + ",1/1/2020," + A("Línea sin comas"));
    line(&empresas, std::to_string(t.companies + 2) + ",31/2/2021," + A("Fecha imposible S.A.") +
                        ",,,,0,0,,RI,");
    line(&telefone, "1,ventas@empresa.com.ar,Correo,0");
    line(&contactos, "99999,," + std::string("Contacto sin empresa") + ",,,," +
                         std::to_string(t.companies + 50) + ",,");
    summary->errors = 4;
  }
  const std::string dir = t.out + "/";
  // Contacto.txt in UTF-8, with accents from an editor that writes it.
  const std::pair<const char*, std::string> files[] = {
      {"RubrosAg.txt", rubros},   {"GruposAg.txt", grupos},    {"Empresas.txt", empresas},
      {"TelefonE.txt", telefone}, {"Contacto.txt", contactos}, {"TelefonC.txt", telefonc}};
  for (const auto& [name, bytes] : files) {
    if (!WriteFile(dir + name, bytes, t.force, error)) return -1;
  }
  return 0;
}

bool ParseArgs(int argc, char** argv, Options* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    int64_t n = 0;
    if (arg == "--force") {
      o->force = true;
    } else if (arg == "--textos") {
      o->text_sample = true;
    } else if (arg == "--odbc") {
      const char* v = value();
      if (v == nullptr || *v == '\0') {
        *error = "--odbc necesita una cadena de conexión (Driver=...;Server=...;...)";
        return false;
      }
      o->driver = "ODBC";
      o->owner = v;
    } else if (arg == "--out") {
      const char* v = value();
      if (v == nullptr || *v == '\0') {
        *error = "--out necesita una carpeta";
        return false;
      }
      o->out = v;
    } else if (arg == "--calls" || arg == "--seed" || arg == "--companies" || arg == "--contacts") {
      const char* v = value();
      if (!ParseNumber(v, 0, &n)) {
        *error = arg + " necesita un número no negativo";
        return false;
      }
      if (arg == "--calls") o->calls = n;
      if (arg == "--seed") o->seed = uint64_t(n);
      if (arg == "--companies" || arg == "--contacts") {
        if (n > 1000000) {
          *error = arg + " admite hasta 1000000";
          return false;
        }
        (arg == "--companies" ? o->companies : o->contacts) = int(n);
        if (arg == "--companies") o->companies_given = true;
      }
    } else {
      *error = "opción desconocida: " + arg;
      return false;
    }
  }
  return true;
}

}  // namespace demodata
