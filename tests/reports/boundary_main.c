/* The suite's main program as the library sees it: a C program that only
 * loads libFXR4.so by name, resolves every export with dlsym, asks the
 * version, initialises the library and opens one chooser whose user (a
 * scripted one, from libui_script.so) presses "Imprimir" and "Cancelar".
 *
 *   fxr4_boundary LIB_FOLDER DESFEC HASFEC OUT_FILE
 *
 * Exits 0 when every step did what it should, else prints what failed. */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* const kExports[] = {
    "FXR4:INIT",
    "FXR4:KILL",
    "VERSION_FXR4",
    "ELG_RPT_SALENT_INT",
    "ELG_RPT_SALENT_LIN",
    "ELG_RPT_SALENT_CTAS",
    "ELG_RPT_SALENT_GRP_INT",
    "ELG_RPT_SALENT_GRP_LIN",
    "ELG_RPT_SALENT_GRP_CTAS",
    "ELG_RPT_SALENT_FECHA",
    "ELG_RPT_SALENT_NUMEROS",
    "ELG_RPT_GRATUITAS",
    "ELG_RPT_NO_TARIFADAS",
    "ELG_RPT_SALENT_GRP_AGENDA",
    "ELG_RPT_SALENT_AGENDADAS",
    "ELG_RPT_SALENT_REQUERIMIENTO",
    "ELG_RPT_SALENT_GRP_AGENTES",
    "ELG_RPT_SALENT_AGENTES",
};

static void* Load(const char* folder, const char* name) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", folder, name);
  void* h = dlopen(path, RTLD_NOW);
  if (h == NULL) fprintf(stderr, "dlopen %s: %s\n", path, dlerror());
  return h;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "uso: fxr4_boundary CARPETA DESFEC HASFEC SALIDA\n");
    return 2;
  }
  void* lib = Load(argv[1], "libFXR4.so");
  void* script = Load(argv[1], "libui_script.so");
  if (lib == NULL || script == NULL) return 1;
  for (size_t i = 0; i < sizeof kExports / sizeof kExports[0]; ++i) {
    if (dlsym(lib, kExports[i]) == NULL) {
      fprintf(stderr, "falta %s\n", kExports[i]);
      return 1;
    }
  }
  const char* (*version)(void) = (const char* (*)(void))dlsym(lib, "VERSION_FXR4");
  void (*init)(void*, void*) = (void (*)(void*, void*))dlsym(lib, "FXR4:INIT");
  void (*kill)(void) = (void (*)(void))dlsym(lib, "FXR4:KILL");
  int (*output)(const char*) = (int (*)(const char*))dlsym(lib, "FXR4:OUTPUT");
  void (*wait)(void) = (void (*)(void))dlsym(lib, "FXR4:WAIT");
  void (*chooser)(const char*, size_t) =
      (void (*)(const char*, size_t))dlsym(lib, "ELG_RPT_SALENT_FECHA");
  void (*start)(void) = (void (*)(void))dlsym(script, "ui_script_start");
  void (*press)(const char*, const char*) =
      (void (*)(const char*, const char*))dlsym(script, "ui_script_press");
  int (*notes)(void) = (int (*)(void))dlsym(script, "ui_script_notes");
  if (output == NULL || wait == NULL || start == NULL || press == NULL || notes == NULL) {
    fprintf(stderr, "faltan funciones\n");
    return 1;
  }
  if (strcmp(version(), "2.4.9.0") != 0) {
    fprintf(stderr, "version %s\n", version());
    return 1;
  }
  init(NULL, NULL);

  char out[4200];
  snprintf(out, sizeof out, "text:%s", argv[4]);
  if (output(out) != 0) return 1;
  start();
  press("Elegir tipo de reporte", "&Imprimir");
  press("Elegir tipo de reporte", "&Cancelar");

  /* PARAM_RPT: DESFEC 0, HASFEC 4, LLASAL 36, LLAENT 37, CURTAB 67. */
  char block[87];
  memset(block, ' ', sizeof block);
  const int32_t desfec = (int32_t)atol(argv[2]), hasfec = (int32_t)atol(argv[3]);
  const int32_t no_time = 0;
  memcpy(block, &desfec, 4);
  memcpy(block + 4, &hasfec, 4);
  memcpy(block + 8, &no_time, 4);
  memcpy(block + 12, &no_time, 4);
  block[36] = 1;
  block[37] = 0;
  memcpy(block + 67, "Todas", 5);
  chooser(block, sizeof block);
  wait();
  kill();
  if (notes() != 0) {
    fprintf(stderr, "la ventana quedó sin atender\n");
    return 1;
  }
  return 0;
}
