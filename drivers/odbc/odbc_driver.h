// The ODBC file driver (registered "ODBC"): a file is a table of an ODBC
// data source named by the file's owner string.
//
// Process-wide state (OdbcLibrary): the driver manager's function table, one
// environment, the connection groups (one per owner string, shared by every
// file opened with it) and the ODBC call log. Per file (OdbcFcb): the
// declared names, the group and connection, its statements, the field,
// key and memo blocks, the driver-string options, the read state and the
// insert batch.
//
// Reads: SET chooses a statement (file order, a key from its start, a key
// from the record's key value) and RESET a position (a key value and the
// row key's); the first NEXT or PREVIOUS afterwards runs it; later ones fetch
// from the open result, a row set at a time. Result sets only go forward:
// a walk that turns round, or goes on after GET or a write, is selected
// again from the current record (the saved copy) in the new direction.
//
//   SET/RESET --first NEXT/PREVIOUS--> result open, direction d
//   result open --NEXT/PREVIOUS in d--> fetch
//   result open --the other way, GET, PUT, ADD--> select from the current
//                                                 record, skip it, fetch
//
// Invariants: the saved copy is the row last read or written (empty: no
// current record); the order of a key that allows duplicates ends with the
// row key, so that selecting again meets equal values in the same order.
//
// Holds: on PostgreSQL a held row is locked (FOR UPDATE) on a connection of
// the file's own, outside the group's transactions; elsewhere held reads
// use a locking cursor.
//
// Every value travels as a bound parameter; SQL text holds only names built
// from the declaration (quoted or checked, odbc_sql.h) and the program's own
// statements and WHERE text.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drivers/common/skeleton.h"
#include "drivers/odbc/odbc_api.h"
#include "drivers/odbc/odbc_sql.h"
#include "drivers/odbc/odbc_types.h"

namespace odbc {

// Backend kinds. 1..10 are the servers the driver has always known; the two
// it is tested against here have kinds of their own.
enum Backend : int {
  kUnknown = 0,
  kAccess = 1,
  kOracle = 2,
  kSqlServer5 = 3,
  kSqlServer6 = 4,
  kFirstSql = 5,
  kSqlAnywhere = 6,
  kPervasive = 7,
  kAs400 = 8,
  kOracle8 = 9,
  kMySql = 10,
  kPostgreSql = 11,
  kSqlite = 12,
};
const char* BackendName(int kind);
// Backend kind by the driver's file name (and DBMS name for the two new ones).
int DetectBackend(const std::string& driver_file, const std::string& dbms_name);

// The ODBC call log, shared by name between files.
class OdbcLog {
 public:
  static OdbcLog* Share(const std::string& name, bool flush);
  static void Release(OdbcLog* log);
  // Writes text as it is (passwords hidden).
  void Write(const std::string& text);
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  void* file_ = nullptr;
  int uses_ = 0;
  bool flush_ = false;
};

struct ConnectionGroup;

struct OdbcConnection {
  SQLHDBC dbc = nullptr;
  ConnectionGroup* group = nullptr;
  std::string completed;  // the completed connection string (never logged)
  bool ok = false;
  bool private_use = false;  // a file's own connection (holds), never shared
  bool for_views = false;    // the group's connection for views read ahead
  int views = 0;             // views open on it (such a connection serves one)
  int failures = 0;          // statements failed on it (PostgreSQL: its cursors dropped)
  bool lost = false;         // the server went away: no new statements on it
  int statement_limit = 255;
  int statements = 0;
};

// Connection-level options a file may give before it has a group.
struct GroupOptions {
  int bind_constants = -1, bind_col_order = -1, clip_strings = -1, force_upper = -1,
      fast_column_fetch = -1, use_inner_join = -1, logon_screen = -1, join_style = -1,
      nesting = -1;
  long isolation = -1;
};

struct ConnectionGroup {
  std::string owner;
  std::string connection_string;
  std::vector<std::string> secrets;  // the passwords of the owner
  int backend = kUnknown;
  int join_style = 0, nesting = 0;
  bool transactions = false;
  long isolation = 2, txn_isolation = 8;
  long options[11] = {};  // 101..111, 0 = never set
  bool read_option[11] = {};
  long option_cache[11] = {};
  int max_statements = 255;
  std::string quote = "\"", qualifier = ".";
  int identifier_case = 0, quoted_case = 1;
  int commit_behaviour = 2, rollback_behaviour = 2;
  uint32_t string_functions = 0;
  int async_state = 0;
  bool logon_screen = false;
  bool bind_constants = true;
  int bind_col_order = 0;
  bool clip_strings = true;
  bool force_upper = false;
  bool fast_column_fetch = false;
  bool use_inner_join = true;
  bool odbc1 = false;
  bool plain_connect = false;
  bool correlation_names = false;
  // A view whose key has a range on its leading component and a window
  // under it is given the range's leading values as a list when there are
  // at most this many (0: never), so that the server descends its index
  // once per value instead of passing over the whole range (odbc_views.cpp).
  int lead_list_most = 0;
  long login_timeout = 0;
  std::vector<std::unique_ptr<OdbcConnection>> connections;
  int users = 0;
  int generation = 0;  // bumped when a transaction ends prepared statements
  bool in_txn = false;  // a transaction begun and not yet ended
};

struct OdbcField : nv::DrvFieldHead {
  bool column = false;
  std::string column_name;
  ValueShape shape;
  uint32_t offset = 0;
  SQLSMALLINT c_type = 0;
  bool described = false;
  bool auto_increment = false;  // the server numbers it (read-only for INSERT)
  uint32_t width = 0;
  std::vector<char> buf;    // one value per row of the row set
  std::vector<SQLLEN> ind;
  int32_t null = 0;         // -1: the current value is null
};

struct OdbcMemo : nv::DrvMemoHead {};

struct OdbcKey : nv::DrvKcbHead {
  std::vector<KeyColumn> cols;
  std::vector<OdbcField*> parts;
  // The order of a walk: the key's columns, then for a key that allows
  // duplicates the row-identifying key's, so that equal values come in the
  // same order every time a walk is selected again from a position.
  std::vector<KeyColumn> walk_cols;
  std::vector<OdbcField*> walk_parts;
  uint32_t value_length = 0;  // sum of component size + 1 (position strings)
  std::string index_name;
  bool unique = false;
  std::string hint;
};

// Parameters of one statement: values copied out of the record.
struct ParamColumn {
  OdbcField* field = nullptr;
  bool from_saved = false;     // the value of the record as last read
  bool position = false;       // compared against, never stored (a key position)
  ValueShape shape;
  SQLSMALLINT c_type = 0;
  SQLSMALLINT sql_type = 0;
  uint32_t width = 0;
  std::vector<char> data;
  std::vector<SQLLEN> ind;
};

struct Statement {
  SQLHSTMT h = nullptr;
  bool prepared = false;
  int generation = 0;
  int bound_epoch = -1;  // the column buffers' epoch the columns are bound to
  bool params_bound = false;
  size_t param_rows = 1;  // rows per execution (SQLParamOptions)
  std::string sql;
  std::vector<ParamColumn> params;
};

// The last positioning operation: SET file (41), SET file from a key value
// (42), SET key (44), SET key from value (45), RESET from a position (64), a
// statement of the program (60).
enum class ReadMode { kNone, kFile, kFileFromKey, kKeyStart, kKeyValue, kReset, kProgram };

struct OdbcFcb : nv::DrvFcbHead {
  std::vector<OdbcField> field_blocks;
  std::vector<OdbcKey> key_blocks;
  std::vector<OdbcMemo> memo_blocks;
  std::vector<OdbcField*> columns;  // data columns in declaration order
  std::string table;
  std::string column_list;

  ConnectionGroup* group = nullptr;
  OdbcConnection* conn = nullptr;
  GroupOptions pending;
  long pending_login_timeout = 0;  // connection options given before the group exists
  std::map<std::string, Statement> statements;  // by SQL text
  Statement* aux = nullptr;  // statements that return no rows

  // File-level options.
  bool gather_at_open = false, no_verify = false, odbc_call = true, verify_via_select = false,
       zero_is_null = true, no_primary = false, use_primary = false, order_in_select = true;
  std::string where, view_where, hint, view_hint, free_text, last_sql;
  bool view_name_set = false;  // property 29252 given: free_text is the correlation name
  OdbcLog* log = nullptr;
  bool in_txn = false;
  long stmt_options[15] = {};
  bool stmt_option_set[15] = {};

  // Reading.
  OdbcKey* row_key = nullptr;  // the row-identifying key
  ReadMode mode = ReadMode::kNone;
  OdbcKey* read_key = nullptr;
  std::vector<char> key_values;  // values of read_key for kKeyValue
  Statement* result = nullptr;   // the open result set
  bool result_forward = true;
  bool async_off = false;
  std::vector<ParamColumn> read_params;
  int rowset = 1;
  SQLULEN rows_in_set = 0;
  SQLULEN row_at = 0;
  std::vector<SQLUSMALLINT> row_status;
  bool have_current = false;
  std::vector<uint8_t> position;         // RESET: the record image of the position
  std::vector<int32_t> position_nulls;
  bool replay = false;   // the next read in the open set's direction gives the saved row again
  int32_t skip = 0;      // pending SKIP count

  // Holds and watches.
  bool hold = false;          // HOLD asked for: reads lock the row they make current
  int32_t hold_seconds = -1;  // -1: no waiting for another station's hold
  bool holding = false;       // a row is locked on the hold connection
  std::vector<uint8_t> held_row;  // that row as read (its row key values)
  std::vector<int32_t> held_nulls;
  OdbcConnection* hold_conn = nullptr;
  std::map<std::string, Statement> hold_statements;
  bool watch_requested = false, watched = false;

  // The insert batch.
  int batch = 0;
  int batched = 0;
  std::vector<ParamColumn> insert_params;
  Statement* insert_stmt = nullptr;

  bool is_open = false;
  std::vector<uint8_t> saved;  // the record as last read or written
  std::vector<int32_t> saved_nulls;  // its null indicators, by field number
  bool fresh = false;          // the next NEXT or PREVIOUS runs the mode's statement
  int buffer_epoch = 0;        // bumped when the column buffers move

  bool open() const { return is_open && conn != nullptr; }
};

class OdbcDriver final : public drv::DriverBase {
 public:
  const nv::DrvReg& Reg() const override;

 protected:
  const char* TraceSection() const override { return "NWODBC"; }
  const char* DefaultTraceFile() const override { return "ODBC.LOG"; }
  intptr_t ViewEntry() override;
  uint32_t MaxRecordLength() const override { return 0x7FFFFFFF; }
  int CreateFcb(nv::FileDescriptor* fd, nv::DrvFcbHead** out) override;
  void DeleteFcb(nv::DrvFcbHead* fcb) override;
  int Run(drv::OpContext& ctx) override;
  bool SendText(drv::OpContext& ctx, int* error) override;
  int Option(nv::DrvFcbHead* fcb, const std::string& name, const std::string& value,
             bool has_value, bool from_send, std::string* answer) override;
  bool DriverProperty(drv::OpContext& ctx, int32_t property, bool set, int* error) override;
};

OdbcDriver& Driver();
extern const nv::DrvReg kLocalReg;
void SetRegistration(const nv::DrvReg* reg);

// For tests: disconnects every group and drops the library (the next
// operation loads it again).
void ResetLibrary();

}  // namespace odbc
