// Per-thread error state, the string stack and fatal runtime errors.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "host/runtime/error_state.h"
#include "host/runtime/string_stack.h"

namespace nv {
namespace {

thread_local ErrorState t_error;
thread_local std::vector<std::string> t_stack;

std::mutex g_fatal_mu;
FatalHandler g_fatal_handler;

}  // namespace

int ErrorCode() { return t_error.code; }
const std::string& FileErrorCode() { return t_error.file_error_code; }
const std::string& FileError() { return t_error.file_error; }
const FileDescriptor* ErrorFile() { return t_error.file; }

void SetError(int code) { t_error.code = code; }
void SetErrorFile(const FileDescriptor* fd) { t_error.file = fd; }
void SetFileError(std::string_view code, std::string_view message) {
  t_error.file_error_code = std::string(code);
  t_error.file_error = std::string(message);
}
// Called around every verb: the texts keep their storage.
void ClearError() {
  ErrorState& e = t_error;
  e.code = 0;
  e.file_error_code.clear();
  e.file_error.clear();
  e.file = nullptr;
}
ErrorState SaveErrorState() { return t_error; }
void RestoreErrorState(const ErrorState& s) { t_error = s; }

std::string ErrorTextOf(int code) {
  switch (code) {
    case 0: return "";
    case 2: return "Archivo no encontrado";
    case 3: return "Carpeta no encontrada";
    case 4: return "Demasiados archivos abiertos";
    case 5: return "Acceso denegado";
    case 6: return "Identificador de archivo inválido";
    case 8: return "Memoria insuficiente";
    case 32: return "El archivo está bloqueado por otra estación";
    case 33: return "Registro no disponible";
    case 35: return "Registro no encontrado";
    case 36: return "Archivo de datos inválido";
    case 37: return "El archivo no está abierto";
    case 40: return "Clave duplicada";
    case 43: return "El registro está retenido por otra estación";
    case 45: return "Nombre de archivo inválido";
    case 46: return "Hay que reconstruir las claves";
    case 47: return "La declaración no coincide con el archivo";
    case 48: return "No se puede escribir el archivo de transacción";
    case 52: return "El archivo ya está abierto";
    case 54: return "El archivo no puede crearse";
    case 56: return "Ya hay una transacción en curso";
    case 63: return "Acceso exclusivo requerido";
    case 65: return "No se puede recuperar la transacción";
    case 75: return "Descriptor de campo inválido";
    case 76: return "Índice inválido";
    case 78: return "Número de parámetros inválido";
    case 79: return "Tipo de dato no admitido";
    case 80: return "Función no admitida por el controlador";
    case 88: return "Clave demasiado larga";
    case 89: return "El registro fue modificado por otra estación";
    case 90: return "Error del controlador de archivos";
    case 93: return "Operación cancelada";
    case 96: return "El archivo ya está vinculado";
    case kErrNoDriver: return "No se encontró el controlador de archivos";
    case 329: return "Error de escritura";
    default: return "Error " + std::to_string(code);
  }
}

std::string ErrorText() {
  std::string text = ErrorTextOf(t_error.code);
  if (!t_error.file_error.empty()) text += ": " + t_error.file_error;
  return text;
}

void SetFatalHandler(FatalHandler h) {
  std::lock_guard<std::mutex> lock(g_fatal_mu);
  g_fatal_handler = std::move(h);
}

void RuntimeError(int code, std::string_view text) {
  FatalHandler h;
  {
    std::lock_guard<std::mutex> lock(g_fatal_mu);
    h = g_fatal_handler;
  }
  std::string msg(text);
  if (h) h(code, msg);
  std::fprintf(stderr, "Error fatal %d: %s\n", code, msg.c_str());
  std::fflush(stderr);
  std::_Exit(3);
}

void PushString(std::string_view text) { t_stack.emplace_back(text); }

std::string PopTemp() {
  if (t_stack.empty()) return {};
  std::string s = std::move(t_stack.back());
  t_stack.pop_back();
  return s;
}

size_t StringStackDepth() { return t_stack.size(); }

}  // namespace nv
