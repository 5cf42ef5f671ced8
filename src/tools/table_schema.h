// The structure of a table as CREATE TABLE-like text for the shell's .schema
// command: columns with their SQL types, sizes and options, the primary key
// and the table's options, then one CREATE INDEX per secondary index.
#pragma once

#include <string>

#include "engine/data_directory.h"
#include "storage/formats/field_definition.h"

namespace tarn::tools {

// The SQL type words of a field: "INTEGER", "CHAR(20)", "DECIMAL(32,2)",
// "BLOB(0,1)"... Types SQL has no words for get their engine names
// ("CARDINAL", "EXTENDED", "VARBYTES(n)").
std::string SqlTypeText(const TFieldDefinition& def);

// Opens the table read-only in the directory and describes it; engine errors
// (a missing table, a password the session lacks) are raised.
std::string TableSchemaText(TDataDirectory& directory, const std::string& tableName);

}  // namespace tarn::tools
