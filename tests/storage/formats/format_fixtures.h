// Small table structures for the format tests, built with the engine's own
// definition helpers.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "storage/formats/data_header.h"
#include "storage/formats/field_definition.h"
#include "storage/formats/index_header.h"
#include "storage/formats/record_layout.h"
#include "support/field_builders.h"
#include "support/raised_code.h"

namespace tarn::testing {

using test_support::LayOut;
using test_support::MakeField;
using test_support::MakeIndex;
using test_support::RaisedCode;

inline const TTableContext kContext{"/data/", "quota"};

// A table: ID auto-increment, NAME string(20), LIMIT integer, NOTE memo.
inline std::vector<TFieldDefinition> QuotaFields() {
  std::vector<TFieldDefinition> fields{MakeField("ID", dtInteger, 0, dstAutoInc), MakeField("NAME", dtString, 20),
                                       MakeField("LIMIT", dtInteger), MakeField("NOTE", dtBlob, 0, dstMemo),
                                       MakeField("PRICE", dtBCD)};
  LayOut(fields);
  return fields;
}

}  // namespace tarn::testing
