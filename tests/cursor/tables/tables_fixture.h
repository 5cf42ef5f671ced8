// Tables for the table-operation tests: creation arguments for the people
// table (made through TDataCursor::CreateTable), the files a directory holds,
// an exclusive cursor, and a check that a table is sound and holds exactly
// the expected IDs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cursor/cursor_fixture.h"
#include "storage/tables/structure_check.h"

namespace tarn::cursor_testing {

using TCreateArguments = TDataCursor::TCreateTableArguments;

// The people table as creation arguments: fields numbered but not laid out,
// index key sizes left for creation to compute.
inline TCreateArguments PeopleArguments() {
  TCreateArguments arguments;
  TTableDefinition def = PeopleDefinition();
  arguments.Fields = def.Fields;
  for (TFieldDefinition& field : arguments.Fields) {
    field.FieldOffset = 0;
    field.PhysicalSize = 0;
  }
  arguments.Indexes = def.Indexes;
  for (TIndexDefinition& index : arguments.Indexes) {
    index.KeySize = 0;
    index.KeyFieldCount = 0;
  }
  return arguments;
}

// The names of the files in a directory, sorted.
inline std::vector<std::string> FilesIn(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

inline std::unique_ptr<TDataCursor> ClosedCursor(TDataDirectory& directory, const std::string& table,
                                                 bool exclusive = true) {
  auto cursor = std::make_unique<TDataCursor>(directory);
  cursor->SetTableName(table);
  cursor->SetExclusive(exclusive);
  return cursor;
}

inline std::unique_ptr<TDataCursor> ExclusiveCursor(TDataDirectory& directory, const std::string& table) {
  auto cursor = ClosedCursor(directory, table);
  cursor->OpenCursor();
  return cursor;
}

// Appends the people through a session of its own (closed again at the end).
inline void FillPeople(const std::string& path, const std::string& table, const std::vector<Person>& people) {
  SessionOn writing(path);
  TableWriter writer(writing.Open(table));
  for (const Person& p : people) writer.Append(p);
}

// Empty when the table, opened by a new session, is structurally sound; else
// the findings.
inline std::string StructureFindings(const std::string& path, const std::string& table) {
  SessionOn s(path);
  std::string text;
  for (const std::string& finding : CheckTableStructure(s.Open(table))) text += finding + "\n";
  return text;
}

// The IDs walked in the order of the named index (physical order for
// kPhysicalOrder), through a new session.
inline std::vector<std::int32_t> IdsByIndex(const std::string& path, const std::string& table,
                                            const std::string& index) {
  CursorSession s(path);
  auto cursor = s.Cursor(table);
  cursor->SetIndexName(index);
  return WalkIds(*cursor);
}

inline std::vector<std::int32_t> IdsInPhysicalOrder(const std::string& path, const std::string& table) {
  CursorSession s(path);
  auto cursor = s.Cursor(table);
  cursor->SetIndexPos(kPhysicalOrder);
  return WalkIds(*cursor);
}

}  // namespace tarn::cursor_testing
