// The data sources the ODBC driver's tests run against, set up once per test
// binary: an odbcinst.ini and odbc.ini of their own in a temporary folder
// (ODBCSYSINI, ODBCINI), an SQLite database file, and a throwaway PostgreSQL
// server on a private port of 127.0.0.1 with its socket in the same folder.
// The server runs as the postgres user when the tests run as root (initdb
// refuses root); it is stopped when the binary ends.
#pragma once

#include <string>

namespace odbctest {

struct Servers {
  std::string folder;
  std::string sqlite_file;
  int pg_port = 0;
  std::string pg_skip;   // no PostgreSQL installed: the cases skip, saying so
  std::string pg_error;  // installed but not started: the cases fail, saying why
  std::string pg_user = "nvprueba";
  std::string pg_password = "Clave-Secreta_77";

  std::string SqliteOwner() const { return "Driver=SQLite3;Database=" + sqlite_file + ";"; }
  // With the data-source settings that stream a result (docs/odbc.md).
  std::string PgOwner(const std::string& password) const;
  std::string PgOwner() const { return PgOwner(pg_password); }
};

// The sources, made on first use and stopped at exit; the PostgreSQL server
// is started only once a caller asks for it, with `server_settings` added to
// its command line when the first such caller gives them (a benchmark's
// "-c shared_buffers=512MB").
const Servers& GetServers(bool postgres = false, const std::string& server_settings = "");

// Stops the PostgreSQL server at once, as a crash would (pg_ctl -m
// immediate), and starts it again on the same port and data.
void StopPostgresNow();
bool RestartPostgres();

}  // namespace odbctest
