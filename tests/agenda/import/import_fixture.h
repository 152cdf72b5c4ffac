// Shared set-up of the text-import tests: the forms' installation (empty
// directory, empty call files) plus helpers that write the six input files
// and read every record of a file back.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "agenda/import_text.h"
#include "tests/agenda/forms/forms_fixture.h"

namespace importtest {

using namespace formstest;

class ImportTest : public FormsTest {
 protected:
  // Writes ./Archivos/<name>.txt with these bytes.
  static void WriteInput(const std::string& name, const std::string& bytes) {
    FILE* f = std::fopen(("Archivos/" + name + ".txt").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
  }
  // The six files at once (UTF-8 source text written as Windows-1252).
  static void WriteInputs(const std::string& rubros, const std::string& grupos,
                          const std::string& empresas, const std::string& telefone,
                          const std::string& contactos, const std::string& telefonc) {
    WriteInput("RubrosAg", A(rubros));
    WriteInput("GruposAg", A(grupos));
    WriteInput("Empresas", A(empresas));
    WriteInput("TelefonE", A(telefone));
    WriteInput("Contacto", A(contactos));
    WriteInput("TelefonC", A(telefonc));
  }

  // The import without a window; its output lines (UTF-8) in *lines.
  int RunImport(std::vector<std::string>* lines = nullptr) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    const int status = agenda::ImportarSinVentana("Archivos", out);
    std::fclose(out);
    std::string all(text, size);
    std::free(text);
    if (lines != nullptr) {
      lines->clear();
      size_t at = 0;
      while (at < all.size()) {
        const size_t nl = all.find('\n', at);
        lines->push_back(all.substr(at, nl - at));
        at = nl + 1;
      }
    }
    return status;
  }

  // Every record of a file, in record order, as bytes (memo text appended).
  std::vector<std::string> Records(const char* label) {
    std::vector<std::string> out;
    FileAccess& a = Use(label);
    a.file().Set();
    while (a.file().Next() == 0) {
      std::string r(reinterpret_cast<const char*>(a.record()), a.file().record_length());
      if (a.file().memo_count() > 0) r += "|" + a.file().MemoText(0);
      out.push_back(r);
    }
    a.Close();
    return out;
  }

  // An entry by name and kind: its record (false when missing).
  bool Find(const std::string& name, const char* kind, MA11Record* out,
            std::string* memo = nullptr) {
    FileAccess& ma11 = Use("FXMA11");
    ma11.file().Clear();
    ma11.rec<MA11Record>().NOMBRE = A(name);
    ma11.rec<MA11Record>().ESEMPR = kind;
    const bool found = ma11.TryFetch("MA11:MA11_C1") == 0;
    if (found) *out = ma11.rec<MA11Record>();
    if (found && memo != nullptr) *memo = std::string(nv::Clip(ma11.file().MemoText(0)));
    ma11.Close();
    return found;
  }

  static bool StagingLeft() {
    struct stat st;
    return stat("Archivos/AUXAGEM.DAT", &st) == 0;
  }
};

}  // namespace importtest
