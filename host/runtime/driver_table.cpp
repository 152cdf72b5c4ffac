// The driver table: registered names, library names and loading.
#include "host/runtime/driver_table.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "host/runtime/env.h"

namespace nv {
namespace {

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = char(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

struct Table {
  std::mutex mu;
  std::map<std::string, std::unique_ptr<Driver>> drivers;  // by lower-case name

  Table() {
    Add("Norvane", "libnvflat.so", "N21$DrvReg");
    Add("dBase3", "libnvdb3.so", "dB3$DrvReg");
    Add("ODBC", "libnvodbc.so", "ODBC_DrvReg");
  }
  void Add(std::string_view name, std::string_view library, std::string_view symbol) {
    auto d = std::make_unique<Driver>();
    d->name = std::string(name);
    d->library = std::string(library);
    d->reg_symbol = std::string(symbol);
    drivers[Lower(name)] = std::move(d);
  }
};

Table& GetTable() {
  static Table* t = new Table;  // never destroyed: drivers stay loaded
  return *t;
}

std::string Dirname(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

void RegisterDriver(std::string_view name, std::string_view library, std::string_view symbol) {
  Table& t = GetTable();
  std::lock_guard<std::mutex> lock(t.mu);
  t.Add(name, library, symbol);
}

std::vector<std::string> DriverSearchFolders() {
  std::vector<std::string> folders;
  if (const char* p = std::getenv("NVRUN_DRIVER_PATH"); p && *p) {
    std::string s(p);
    size_t start = 0;
    while (start <= s.size()) {
      size_t colon = s.find(':', start);
      if (colon == std::string::npos) colon = s.size();
      if (colon > start) folders.push_back(s.substr(start, colon - start));
      start = colon + 1;
    }
    return folders;
  }
  std::string exe = GetEnv()->ProgramPath();
  if (!exe.empty()) folders.push_back(Dirname(exe));
#ifdef NV_INSTALL_LIBDIR
  folders.push_back(NV_INSTALL_LIBDIR);
#endif
  return folders;
}

std::vector<std::string> DriverNames() {
  Table& t = GetTable();
  std::lock_guard<std::mutex> lock(t.mu);
  std::vector<std::string> names;
  for (auto& [key, d] : t.drivers) names.push_back(d->name);
  return names;
}

Driver* FindDriver(std::string_view name, std::string* error) {
  Table& t = GetTable();
  std::lock_guard<std::mutex> lock(t.mu);
  auto it = t.drivers.find(Lower(name));
  if (it == t.drivers.end()) {
    if (error) {
      *error = "El controlador de archivos \"" + std::string(name) + "\" no está registrado";
    }
    return nullptr;
  }
  Driver* d = it->second.get();
  if (d->entry) return d;

  std::vector<std::string> folders = DriverSearchFolders();
  std::string tried, failure;
  for (const std::string& folder : folders) {
    std::string path = folder + "/" + d->library;
    if (!tried.empty()) tried += ", ";
    tried += folder;
    if (!GetEnv()->Exists(path)) continue;
    void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
      const char* e = ::dlerror();
      failure = e ? e : "dlopen";
      continue;
    }
    auto* reg = static_cast<const DrvReg*>(::dlsym(h, d->reg_symbol.c_str()));
    if (reg == nullptr || reg->entry == nullptr) {
      failure = "no exporta " + d->reg_symbol;
      ::dlclose(h);
      continue;
    }
    d->handle = h;
    d->reg = reg;
    d->entry = reg->entry;
    d->path = path;
    return d;
  }
  if (error) {
    *error = "No se encontró el controlador de archivos \"" + d->name + "\" (" + d->library +
             ") en: " + (tried.empty() ? std::string("ninguna carpeta") : tried);
    if (!failure.empty()) *error += " (" + failure + ")";
  }
  return nullptr;
}

}  // namespace nv
