// Fixtures of the web tests and benchmarks: temporary directories, a
// configuration directory named by $VANTREL_CONFIG_DIR, and a print-quota
// database whose tables are made and changed with SQL through a data session
// of its own, as the print-quota service would from outside.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/data_session.h"
#include "sql/query_statement.h"
#include "support/temp_dir.h"

namespace dovecrest::testing {

using TempDir = tarn::testing_support::TTempDir;

// A temporary configuration directory named by $VANTREL_CONFIG_DIR for one test.
class ConfigDir {
 public:
  ConfigDir() : dir_("dovecrest-config") { setenv("VANTREL_CONFIG_DIR", dir_.Path().c_str(), 1); }
  ~ConfigDir() { unsetenv("VANTREL_CONFIG_DIR"); }
  void Write(const std::string& text) { std::ofstream(dir_.Path() + "Vantrel.ini", std::ios::binary) << text; }

 private:
  TempDir dir_;
};

// A database directory with the quota tables' statements.
class QuotaDatabase {
 public:
  QuotaDatabase() : dir_("dovecrest-quota"), private_("dovecrest-quota-private") {
    session_.SetPrivateDirectory(private_.Path());
    session_.AddPassword("KT62WB38");
    directory_ = &session_.OpenDataDirectory("", dir_.Path());
  }
  ~QuotaDatabase() { session_.CloseDataDirectory(*directory_); }
  QuotaDatabase(const QuotaDatabase&) = delete;
  QuotaDatabase& operator=(const QuotaDatabase&) = delete;

  const std::string& Path() const { return dir_.Path(); }

  // Runs one statement (GBK text) that answers no rows.
  void Exec(const std::string& statement) {
    tarn::TQueryStatement query(*directory_);
    query.PrepareStatement(statement);
    tarn::TDataCursor* result = nullptr;
    query.ExecuteStatement(result);
  }
  // The number of rows of a table.
  int Count(const std::string& table) {
    tarn::TQueryStatement query(*directory_);
    query.PrepareStatement("SELECT * FROM " + table);
    tarn::TDataCursor* result = nullptr;
    query.ExecuteStatement(result);
    return result ? result->GetRecordCount() : -1;
  }

  // The quota tables with the service's password.
  void CreateTables() {
    Exec(
        "CREATE TABLE \"user\" (\"USER\" CHAR(20), NAME CHAR(40), LIMIT_P INTEGER, USED_P INTEGER, "
        "HOWTODO INTEGER ENCRYPTED WITH 'KT62WB38')");
    Exec("CREATE NOCASE INDEX ByUser ON \"user\" (\"USER\")");
    Exec(
        "CREATE TABLE printer (NAME CHAR(40), D_LIMIT INTEGER, TOTALP_LIMIT INTEGER, TOTALP_USE INTEGER, "
        "HOWTODO INTEGER ENCRYPTED WITH 'KT62WB38')");
    Exec(
        "CREATE TABLE setting (L_SCOPE INTEGER, L_VALTYPE INTEGER, FIX_VAL INTEGER, HOWTODO INTEGER "
        "ENCRYPTED WITH 'KT62WB38')");
  }

 private:
  TempDir dir_;
  TempDir private_;
  tarn::TDataSession session_;
  tarn::TDataDirectory* directory_ = nullptr;
};

}  // namespace dovecrest::testing
