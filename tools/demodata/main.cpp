// demodata: writes a demo installation of the agenda and the reports.
//   demodata [--out Archivos] [--calls 100000] [--seed 1] [--companies 300]
//            [--contacts 450] [--force] [--odbc "Driver=...;Server=...;..."]
//   demodata --textos [--out Archivos] [--companies 40] [--seed 1] [--force]
//            (only the text import's six sample files)
#include <chrono>
#include <cstdio>
#include <string>

#include "tools/demodata/demodata.h"

int main(int argc, char** argv) {
  demodata::Options o;
  std::string error;
  if (!demodata::ParseArgs(argc, argv, &o, &error)) {
    std::fprintf(stderr, "demodata: %s\n", error.c_str());
    std::fprintf(stderr,
                 "uso: demodata [--out CARPETA] [--calls N] [--seed S] [--companies N] "
                 "[--contacts N] [--force]\n"
                 "                [--odbc \"Driver=...;Server=...;Database=...;Uid=...;Pwd=...\"]\n"
                 "     demodata --textos [--out CARPETA] [--companies N] [--seed S] [--force]\n");
    return 2;
  }
  if (o.text_sample) {
    demodata::TextSample t;
    t.out = o.out;
    t.seed = o.seed;
    if (o.companies_given) t.companies = o.companies;
    t.force = o.force;
    demodata::TextSampleSummary ts;
    if (demodata::WriteTextSample(t, &ts, &error) != 0) {
      std::fprintf(stderr, "demodata: %s\n", error.c_str());
      return 1;
    }
    std::printf(
        "Archivos de texto de ejemplo escritos en %s: %lld líneas, %lld con errores "
        "a propósito.\n",
        o.out.c_str(), (long long)ts.lines, (long long)ts.errors);
    return 0;
  }
  const auto start = std::chrono::steady_clock::now();
  demodata::Summary s;
  const int err = demodata::Write(o, &s, &error);
  if (err != 0) {
    std::fprintf(stderr, "demodata: %s\n", error.c_str());
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (o.owner.empty()) {
    std::printf("Instalación de demostración escrita en %s (%.1f s):\n", o.out.c_str(), seconds);
  } else {
    std::printf(
        "Instalación de demostración escrita en la fuente de datos ODBC (%.1f s; el "
        "directorio DOS en %s/DOS):\n",
        seconds, o.out.c_str());
  }
  std::printf("  %lld usuarios, %lld rubros, %lld grupos\n", (long long)s.users,
              (long long)s.categories, (long long)s.groups);
  std::printf("  %lld empresas, %lld contactos, %lld teléfonos/e-mails\n", (long long)s.companies,
              (long long)s.contacts, (long long)s.numbers);
  std::printf(
      "  llamadas: %lld salientes, %lld entrantes, %lld + %lld transferencias; "
      "%lld con datos de agenda\n",
      (long long)s.outgoing, (long long)s.incoming, (long long)s.out_headers,
      (long long)s.in_headers, (long long)s.linked);
  std::printf("Usuario de demostración: %s  contraseña: %s\n", demodata::kDemoUser,
              demodata::kDemoPassword);
  return 0;
}
