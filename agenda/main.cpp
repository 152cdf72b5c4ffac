// The agenda program: the screen backend, then the program's start-up.
#include <cstdio>
#include <string_view>

#include "agenda/import_text.h"

#include "agenda/startup.h"

#ifdef NV_AGENDA_QT
#include "agenda/directory_reports.h"
#include "host/report/qt/preview.h"
#include "host/ui/qt/qt_backend.h"
#endif

int main(int argc, char** argv) {
  // The text import for scripts runs without a screen.
  if (argc >= 2 && std::string_view(argv[1]) == "--importar")
    return agenda::ImportCommand(argc, argv);
#ifdef NV_AGENDA_QT
  nv::ui::QtBackend screen(argc, argv);
  // The directory reports go to the preview or straight to the printer.
  agenda::SetReportOutput([](nv::report::Document&& d) { nv::report::Present(d); });
  return agenda::ProgramStart();
#else
  (void)argc;
  (void)argv;
  std::fprintf(stderr, "agenda: esta compilación no tiene pantalla (falta el backend Qt).\n");
  return 2;
#endif
}
