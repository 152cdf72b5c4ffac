// Test data sources (see odbc_servers.h).
#include "tests/drivers/odbc/odbc_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace odbctest {

namespace fs = std::filesystem;

namespace {

std::string FindFirst(const std::vector<std::string>& candidates) {
  for (const std::string& c : candidates)
    if (fs::exists(c)) return c;
  return "";
}

std::string PgBin() {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    const fs::path bin = e.path() / "bin";
    if (fs::exists(bin / "initdb") && fs::exists(bin / "pg_ctl")) return bin.string();
  }
  return "";
}

int FreePort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

class Holder {
 public:
  Holder() { Start(); }
  ~Holder() { Stop(); }
  Servers s;

 private:
  std::string As(const std::string& cmd) const {
    return ::geteuid() == 0 ? "runuser -u postgres -- " + cmd : cmd;
  }

  void Start() {
    char tmpl[] = "/tmp/nvodbcXXXXXX";
    s.folder = ::mkdtemp(tmpl);
    ::chmod(s.folder.c_str(), 0755);
    s.sqlite_file = s.folder + "/datos.db";
    const std::string lib = "/usr/lib/x86_64-linux-gnu/odbc/";
    std::ofstream(s.folder + "/odbcinst.ini")
        << "[SQLite3]\nDriver=" << FindFirst({lib + "libsqlite3odbc.so"}) << "\nDontDLClose=1\n\n"
        << "[PostgreSQL Unicode]\nDriver=" << FindFirst({lib + "psqlodbcw.so"}) << "\nDontDLClose=1\n";
    std::ofstream(s.folder + "/odbc.ini") << "[Llamadas]\nDriver=SQLite3\nDatabase=" << s.sqlite_file
                                          << "\n";
    ::setenv("ODBCSYSINI", s.folder.c_str(), 1);
    ::setenv("ODBCINI", (s.folder + "/odbc.ini").c_str(), 1);
  }

 public:
  void StartPostgres(const std::string& settings) {
    if (pg_tried_) return;
    pg_tried_ = true;
    settings_ = settings;
    const std::string bin = PgBin();
    if (bin.empty()) {
      s.pg_skip = "no hay servidor PostgreSQL instalado (initdb y pg_ctl no están en /usr/lib/postgresql)";
      return;
    }
    if (::geteuid() == 0) {
      const passwd* pw = ::getpwnam("postgres");
      if (pw == nullptr) {
        s.pg_error = "las pruebas corren como root y no existe el usuario postgres";
        return;
      }
      (void)!::chown(s.folder.c_str(), pw->pw_uid, pw->pw_gid);
    }
    std::ofstream(s.folder + "/pw") << s.pg_password << "\n";
    if (::geteuid() == 0) {
      const passwd* pw = ::getpwnam("postgres");
      (void)!::chown((s.folder + "/pw").c_str(), pw->pw_uid, pw->pw_gid);
    }
    s.pg_port = FreePort();
    const std::string data = s.folder + "/pg";
    std::string cmd = As(bin + "/initdb -D " + data + " -U " + s.pg_user + " --pwfile=" + s.folder +
                         "/pw -A scram-sha-256 --auth-local=trust --no-sync -E UTF8 --locale=C") +
                      " >" + s.folder + "/initdb.log 2>&1";
    if (std::system(cmd.c_str()) != 0) {
      s.pg_error = "initdb falló; ver " + s.folder + "/initdb.log";
      return;
    }
    // A port found free may be taken by another program before the server
    // binds it: a few tries.
    bool up = false;
    for (int attempt = 0; attempt < 3 && !up; ++attempt) {
      if (attempt > 0) s.pg_port = FreePort();
      up = Launch(bin);
    }
    if (!up) {
      s.pg_error = "el servidor PostgreSQL no arrancó; ver " + data + "/server.log";
      return;
    }
    started_ = bin;
  }

  bool Launch(const std::string& bin) {
    const std::string data = s.folder + "/pg";
    const std::string cmd = As(bin + "/pg_ctl -D " + data + " -w -l " + data +
                               "/server.log -o \"-c listen_addresses=127.0.0.1 -p " +
                               std::to_string(s.pg_port) + " -k " + s.folder + " -c fsync=off " +
                               settings_ + "\" start") +
                            " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
  }

  void StopNow() {
    if (started_.empty()) return;
    std::string cmd = As(started_ + "/pg_ctl -D " + s.folder + "/pg -m immediate stop") + " >/dev/null 2>&1";
    (void)!std::system(cmd.c_str());
  }

  bool Restart() { return !started_.empty() && Launch(started_); }

  void Stop() {
    StopNow();
    // A server that would not start leaves its folder (and logs) behind.
    std::error_code ec;
    if (s.pg_error.empty()) fs::remove_all(s.folder, ec);
  }

  std::string started_;
  std::string settings_;
  bool pg_tried_ = false;
};

}  // namespace

std::string Servers::PgOwner(const std::string& password) const {
  return "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(pg_port) +
         ";Database=postgres;UseDeclareFetch=1;Fetch=1000;Uid=" + pg_user + ";Pwd=" + password + ";";
}

namespace {

Holder& TheHolder() {
  static Holder holder;
  return holder;
}

}  // namespace

const Servers& GetServers(bool postgres, const std::string& server_settings) {
  Holder& holder = TheHolder();
  if (postgres) holder.StartPostgres(server_settings);
  return holder.s;
}

void StopPostgresNow() {
  TheHolder().StopNow();
}

bool RestartPostgres() {
  return TheHolder().Restart();
}

}  // namespace odbctest

// Under the leak checker: what the driver manager, the ODBC drivers and the
// client libraries they load keep until the process ends is theirs.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libodbc.so\nleak:libodbcinst.so\nleak:psqlodbc\nleak:libsqlite3odbc\nleak:libpq.so\n"
         "leak:libltdl.so\nleak:liblber\nleak:libldap\nleak:libkeyutils\nleak:libgssapi\n"
         "leak:libkrb5\nleak:libk5crypto\nleak:libsasl2\nleak:libcrypto\nleak:libssl\n"
         "leak:libsqlite3.so\n";
}
