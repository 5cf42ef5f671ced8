// A database for the SQL tests: a temporary directory with a data session,
// tables created and filled through cursors, and statements run through
// TQueryStatement with their result rows read back as text.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cursor/data_cursor.h"
#include "engine/data_session.h"
#include "sql/query_statement.h"
#include "storage/formats/data_types.h"
#include "support/field_builders.h"

namespace tarn::sql_testing {

// A cell given to Insert: NULL, an integer, a float or a string.
using Cell = std::variant<std::monostate, std::int64_t, double, std::string>;
using Row = std::vector<Cell>;

struct Column {
  std::string Name;
  std::uint8_t Type = dtInteger;
  std::uint8_t Size = 0;
  std::uint8_t SubType = dstNone;
};

struct Index {
  std::string Name;  // empty: the primary index
  std::vector<std::uint16_t> Fields;
  bool Unique = false;
  bool CaseInsensitive = false;
  bool Descending = false;
};

// One result row as text: a cell per column, "NULL" for a null value.
using TextRow = std::vector<std::string>;

class SqlDatabase {
 public:
  SqlDatabase() {
    char pattern[] = "/tmp/tarn-sql-XXXXXX";
    path_ = mkdtemp(pattern);
    path_ += '/';
    char privatePattern[] = "/tmp/tarn-sql-private-XXXXXX";
    privatePath_ = mkdtemp(privatePattern);
    privatePath_ += '/';
    session_.SetPrivateDirectory(privatePath_);
    session_.SetLockRetries(2);
    session_.SetLockWait(1);
    directory_ = &session_.OpenDataDirectory("", path_);
  }
  ~SqlDatabase() {
    for (auto& dir : std::vector<std::string>{path_, privatePath_}) {
      std::error_code ignored;
      std::filesystem::remove_all(dir, ignored);
    }
  }
  SqlDatabase(const SqlDatabase&) = delete;
  SqlDatabase& operator=(const SqlDatabase&) = delete;

  const std::string& Path() const { return path_; }
  const std::string& PrivatePath() const { return privatePath_; }
  TDataSession& Session() { return session_; }
  TDataDirectory& Directory() { return *directory_; }

  // Files left in the private directory (result tables, reservations).
  std::vector<std::string> PrivateFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(privatePath_))
      names.push_back(entry.path().filename().string());
    return names;
  }
  // The data files among them: one per result table.
  std::vector<std::string> PrivateTables() const {
    std::vector<std::string> names;
    for (const std::string& name : PrivateFiles()) {
      if (name.size() > 4 && name.substr(name.size() - 4) == ".DAT") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  void CreateTable(const std::string& name, const std::vector<Column>& columns, const std::vector<Index>& indexes = {}) {
    TDataCursor::TCreateTableArguments arguments;
    for (const Column& c : columns) arguments.Fields.push_back(test_support::MakeField(c.Name, c.Type, c.Size, c.SubType));
    test_support::LayOut(arguments.Fields);
    arguments.Indexes.push_back(MakeEmptyIndexDefinition());
    for (const Index& index : indexes) {
      TIndexDefinition def = MakeEmptyIndexDefinition();
      def.Name.Assign(index.Name);
      def.Unique = index.Unique || index.Name.empty() ? 1 : 0;
      def.CaseInsensitive = index.CaseInsensitive ? 1 : 0;
      def.Descending = index.Descending ? 1 : 0;
      std::size_t k = 0;
      for (std::uint16_t f : index.Fields) def.KeyFields[k++] = f;
      def.KeyFieldCount = static_cast<std::uint8_t>(k);
      if (index.Name.empty()) {
        arguments.Indexes[0] = def;
      } else {
        arguments.Indexes.push_back(def);
      }
    }
    TDataCursor cursor(*directory_);
    cursor.SetTableName(name);
    cursor.SetExclusive(true);
    cursor.CreateTable(arguments);
  }

  void Insert(const std::string& table, const std::vector<Row>& rows) {
    TDataCursor cursor(*directory_);
    cursor.SetTableName(table);
    cursor.OpenCursor();
    std::vector<std::uint8_t> record(cursor.GetRecordBufferSize());
    std::vector<std::uint8_t> value(512);
    for (const Row& row : rows) {
      cursor.InitRecord(record.data());
      for (std::size_t i = 0; i < row.size(); ++i) {
        TFieldDefinition def;
        cursor.GetFieldDefinition(static_cast<std::uint16_t>(i + 1), def);
        const auto field = static_cast<std::uint16_t>(i + 1);
        if (std::holds_alternative<std::monostate>(row[i])) {
          cursor.PutField(field, record.data(), nullptr);
          continue;
        }
        std::fill(value.begin(), value.end(), 0);
        StoreCell(def, row[i], value.data());
        cursor.PutField(field, record.data(), value.data());
      }
      cursor.AppendRecord(record.data());
    }
    cursor.CloseCursor();
  }

  // Runs the statement text and answers the rows of its result (none for a
  // statement without one).
  std::vector<TextRow> Query(const std::string& sql, std::vector<std::string>* columnNames = nullptr,
                             std::int64_t maxRows = -1) {
    TQueryStatement statement(*directory_);
    statement.MaxRowCount = maxRows;
    statement.PrepareStatement(sql);
    TDataCursor* result = nullptr;
    statement.ExecuteStatement(result);
    lastRowsAffected_ = statement.RowsAffected();
    return result == nullptr ? std::vector<TextRow>{} : ReadRows(*result, columnNames);
  }
  std::int64_t LastRowsAffected() const { return lastRowsAffected_; }

  // Every row of an open cursor from its start, as text.
  static std::vector<TextRow> ReadRows(TDataCursor& cursor, std::vector<std::string>* columnNames = nullptr) {
    const std::uint16_t count = cursor.GetFieldCount();
    if (columnNames != nullptr) {
      columnNames->clear();
      for (std::uint16_t f = 1; f <= count; ++f) {
        TFieldDefinition def;
        cursor.GetFieldDefinition(f, def);
        columnNames->push_back(def.Name.Str());
      }
    }
    std::vector<TextRow> rows;
    std::vector<std::uint8_t> record(cursor.GetRecordBufferSize());
    std::vector<std::uint8_t> value(512);
    cursor.SetToBegin();
    while (cursor.GetNextRecord(record.data()) == 0) {
      TextRow row;
      for (std::uint16_t f = 1; f <= count; ++f) {
        TFieldDefinition def;
        cursor.GetFieldDefinition(f, def);
        bool isNull = false;
        std::fill(value.begin(), value.end(), 0);
        if (def.DataType == dtBlob) {
          row.push_back("BLOB");
          continue;
        }
        cursor.GetField(f, record.data(), value.data(), isNull);
        row.push_back(isNull ? "NULL" : CellText(def, value.data()));
      }
      rows.push_back(std::move(row));
    }
    return rows;
  }

  static std::string CellText(const TFieldDefinition& def, const std::uint8_t* v) {
    switch (def.DataType) {
      case dtString:
        return std::string(reinterpret_cast<const char*>(v));
      case dtSmallInt: {
        std::int16_t x;
        std::memcpy(&x, v, 2);
        return std::to_string(x);
      }
      case dtWord: {
        std::uint16_t x;
        std::memcpy(&x, v, 2);
        return std::to_string(x);
      }
      case dtInteger: {
        std::int32_t x;
        std::memcpy(&x, v, 4);
        return std::to_string(x);
      }
      case dtLargeInt: {
        std::int64_t x;
        std::memcpy(&x, v, 8);
        return std::to_string(x);
      }
      case dtBoolean: {
        std::uint16_t x;
        std::memcpy(&x, v, 2);
        return x != 0 ? "True" : "False";
      }
      case dtFloat: {
        double x;
        std::memcpy(&x, v, 8);
        char text[64];
        auto end = std::to_chars(text, text + sizeof text, x).ptr;
        return std::string(text, end);
      }
      default:
        return "?";
    }
  }

 private:
  static void StoreCell(const TFieldDefinition& def, const Cell& cell, std::uint8_t* out) {
    if (const auto* s = std::get_if<std::string>(&cell)) {
      std::memcpy(out, s->data(), std::min<std::size_t>(s->size(), 255));
      return;
    }
    const std::int64_t i = std::holds_alternative<std::int64_t>(cell) ? std::get<std::int64_t>(cell)
                                                                       : static_cast<std::int64_t>(std::get<double>(cell));
    const double d = std::holds_alternative<double>(cell) ? std::get<double>(cell) : static_cast<double>(i);
    switch (def.DataType) {
      case dtSmallInt:
      case dtWord: {
        auto x = static_cast<std::int16_t>(i);
        std::memcpy(out, &x, 2);
        break;
      }
      case dtBoolean: {
        std::uint16_t x = i != 0 ? 1 : 0;
        std::memcpy(out, &x, 2);
        break;
      }
      case dtInteger: {
        auto x = static_cast<std::int32_t>(i);
        std::memcpy(out, &x, 4);
        break;
      }
      case dtLargeInt:
        std::memcpy(out, &i, 8);
        break;
      case dtFloat:
        std::memcpy(out, &d, 8);
        break;
      default:
        break;
    }
  }

  std::string path_;
  std::string privatePath_;
  TDataSession session_;
  TDataDirectory* directory_ = nullptr;
  std::int64_t lastRowsAffected_ = 0;
};

}  // namespace tarn::sql_testing
