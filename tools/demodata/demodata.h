// The demo installation: a realistic set of directory, lookup and call files
// written through the runtime's file verbs into one folder (by default the
// program's "./Archivos"), so that the agenda and the reports have something
// to show. Everything follows from the seed: the same options write the same
// records.
//
// What is written:
//   FXTA01 users (the demo login first: name "DEMO", password "demo"),
//   FXTA02 categories, FXTA09 directory groups, FXMA11 companies and
//   contacts with comments, FXRE09 numbers (full numbers, short prefixes
//   covering a company's direct lines, mobile numbers and e-mail addresses),
//   CENTRAL, an empty FXMO04, the lookup files of the reports (FXMA07 lines,
//   FXMA08 extensions, FXMA09 account codes, FXMA02 agents, FXTA13/14/15
//   groups, FXTA03 agent groups; most lines, extensions, accounts and agents
//   marked selected (MULTISEL = 1) as the suite's main program marks them
//   for the requirement reports), and `calls` call records spread over
//   FXMO01, FXMO02 (legs), FXTR01 and FXTR02 (transfer headers): outgoing
//   and incoming calls, transferred calls with their legs and header,
//   unrated "NT" and special "ES" calls, account codes and agents. Each call
//   carries CODIGO/GRUAGE of the longest directory number that is a prefix
//   of its number. In DOS/ a small directory of the suite's older DOS
//   version (FXTA06DOS, FXMA06DOS, FXRE01DOS, texts in code page 850) to try
//   the import with: groups the demo already has, an entry whose code is a
//   demo company's under another name, a "<I>" number and a number the demo
//   directory already holds.
//
// Files are written in stream mode with APPEND and their keys built once at
// the end (BUILD), then flushed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace demodata {

struct Options {
  std::string out = "Archivos";
  int64_t calls = 100000;
  uint64_t seed = 1;
  int companies = 300;
  int contacts = 450;
  bool force = false;
  // --textos: only the text import's sample files (TextSample below), with
  // --companies companies when given.
  bool text_sample = false;
  bool companies_given = false;
  // Driver of every file; empty keeps each file's declared driver (the flat
  // store). A store that keeps its keys itself may answer STREAM, BUILD and
  // FLUSH with "not implemented" (80).
  std::string driver;
  // --odbc CONNECTION: every file but the older DOS directory's becomes a
  // table of that ODBC data source (driver "ODBC", owner the connection
  // string, the label as table name), written in batches of inserts.
  std::string owner;
};

struct Summary {
  int64_t users = 0, categories = 0, groups = 0, companies = 0, contacts = 0, numbers = 0;
  int64_t outgoing = 0, incoming = 0, out_headers = 0, in_headers = 0;
  int64_t linked = 0;  // call records (legs and headers) with a directory entry
};

inline constexpr const char* kDemoUser = "DEMO";
inline constexpr const char* kDemoPassword = "demo";

// Writes the installation. 0 on success; else a runtime error number (or -1
// when the folder exists, is not empty and `force` is off) and *error says
// what failed.
int Write(const Options& options, Summary* summary, std::string* error);

// A sample of the six text files of the agenda's text import
// (RubrosAg.txt, GruposAg.txt, Empresas.txt, TelefonE.txt, Contacto.txt,
// TelefonC.txt) in one folder: Contacto.txt in UTF-8, the others in
// Windows-1252; numbers written with spaces, dashes and brackets.
struct TextSample {
  std::string out = "Archivos";
  uint64_t seed = 1;
  int companies = 40;
  int numbers_per_company = 2;
  int contacts_per_company = 1;  // each contact with one mobile number
  // A few deliberate errors (a missing comma, an impossible date, an e-mail
  // address as a number, a contact of a company not in the file).
  bool errors = true;
  // Numbers given to the first companies instead of made-up ones (digits).
  std::vector<std::string> numbers;
  bool force = false;  // replace the six files when they exist
};
struct TextSampleSummary {
  int64_t lines = 0;   // lines of the six files
  int64_t errors = 0;  // deliberate errors among them
};
// Writes the six files. 0 on success; else -1 and *error says why.
int WriteTextSample(const TextSample& sample, TextSampleSummary* summary, std::string* error);

// Parses the command line (--out DIR, --calls N, --seed S, --companies N,
// --contacts N, --force, --textos, --odbc CONNECTION). False with *error for an unknown or
// malformed option.
bool ParseArgs(int argc, char** argv, Options* options, std::string* error);

}  // namespace demodata
