// modemsim: a Hayes modem on a pseudo-terminal. Prints the device path (and
// the link and carrier flag when --link is given) and answers until
// interrupted.
//
//   modemsim [--link PATH] [--init WORDS[@MS]] [--default WORDS[@MS][+LAG]]
//            [NUMBER=WORDS[@MS][+LAG] ...]
//
// Example: modemsim --link /tmp/modem 555=BUSY@300 777="CONNECT 9600@1000+200"
// then "COM2=/tmp/modem" in the [nvcom] section of the profile.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/modemsim/modem_sim.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) {
  g_stop = 1;
}

int Usage() {
  std::fprintf(stderr,
               "uso: modemsim [--link RUTA] [--init PALABRAS[@MS]] "
               "[--default PALABRAS[@MS][+MS]] [NUMERO=PALABRAS[@MS][+MS] ...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  nv::tools::ModemSim sim;
  std::string link;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    nv::tools::ModemReply reply;
    if ((arg == "--link" || arg == "--init" || arg == "--default") && i + 1 < argc) {
      std::string value = argv[++i];
      if (arg == "--link") {
        link = value;
      } else if (!nv::tools::ParseReply(value, &reply)) {
        std::fprintf(stderr, "modemsim: respuesta inválida: %s\n", value.c_str());
        return Usage();
      } else if (arg == "--init") {
        sim.SetInitReply(reply);
      } else {
        sim.SetDefaultReply(reply);
      }
    } else {
      std::string number;
      if (!nv::tools::ParseNumberReply(arg, &number, &reply)) {
        std::fprintf(stderr, "modemsim: argumento inválido: %s\n", arg.c_str());
        return Usage();
      }
      sim.SetReply(number, reply);
    }
  }
  std::string error;
  if (!sim.Start(link, &error)) {
    std::fprintf(stderr, "modemsim: no se pudo abrir el pseudo-terminal (%s)\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", sim.device().c_str());
  if (!link.empty()) std::printf("%s\n%s\n", sim.link().c_str(), sim.CarrierPath().c_str());
  std::fflush(stdout);
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  while (!g_stop) usleep(50 * 1000);
  sim.Stop();
  return 0;
}
