// Loading the ODBC driver manager (see odbc_api.h).
#include "drivers/odbc/odbc_api.h"

#include <dlfcn.h>

#include <cstdlib>

namespace odbc {

std::string DriverManagerName() {
  const char* env = std::getenv("NVODBC_DM");
  return env && *env ? env : "libodbc.so.2";
}

bool LoadOdbcApi(const std::string& library, OdbcApi* api, std::string* error) {
  *api = OdbcApi{};
  void* h = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (h == nullptr) {
    const char* why = ::dlerror();
    *error = "No se pudo cargar el administrador ODBC " + library + (why ? std::string(": ") + why : "");
    return false;
  }
  std::string missing;
#define NV_ODBC_RESOLVE(name, required)                                            \
  api->name = reinterpret_cast<decltype(&::name)>(::dlsym(h, #name));             \
  if (api->name == nullptr && (required) && missing.empty()) missing = #name;
  NV_ODBC_FUNCTIONS(NV_ODBC_RESOLVE)
#undef NV_ODBC_RESOLVE
  api->SQLSetParam = reinterpret_cast<decltype(&::SQLSetParam)>(::dlsym(h, "SQLSetParam"));
  if (missing.empty() && api->SQLBindParameter == nullptr && api->SQLSetParam == nullptr)
    missing = "SQLBindParameter";
  if (!missing.empty()) {
    ::dlclose(h);
    *api = OdbcApi{};
    *error = "El administrador ODBC " + library + " no tiene la función " + missing;
    return false;
  }
  api->module = h;
  return true;
}

void UnloadOdbcApi(OdbcApi* api) {
  // The driver manager stays mapped: the drivers it loaded may have left
  // handlers and threads behind, and the next load finds it at once.
  *api = OdbcApi{};
}

}  // namespace odbc
