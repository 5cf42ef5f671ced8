// TFilterSource: what a filter needs of the cursor that owns it: the table's
// language, record counts, the choice of an index for a field, counting and
// collecting the records of a key range in the current index, reading one
// record, and the callbacks that evaluate expressions against a record. The
// cursor implements it; tests may answer it from memory.
#pragma once

#include <cstdint>
#include <string>

#include "expressions/exp_token.h"
#include "expressions/expression_evaluator.h"
#include "expressions/text_word_search.h"
#include "storage/keys/character_maps.h"
#include "storage/keys/key_layout.h"
#include "storage/records/records_bitmap.h"

namespace tarn {

// Which index a condition on a field needs.
struct TIndexForField {
  std::uint16_t FieldNumber = 0;
  bool CaseInsensitive = false;  // the wanted case flag of the index
  bool AnyCase = false;          // the case flag does not matter
};

class TFilterSource {
 public:
  virtual ~TFilterSource() = default;

  // Names for error context.
  virtual const std::string& FilterTableName() const = 0;
  virtual const std::string& FilterDatabaseName() const = 0;
  // False on a result set that is not a source table: nothing is optimised.
  virtual bool OptimizationAllowed() const = 0;
  virtual std::uint16_t FilterLanguageID() const = 0;
  virtual std::uint16_t FilterSortID() const = 0;
  // The language's character order (byte order for language 0).
  virtual const TLanguageCharMap& FilterCharMap() const = 0;
  // Live records (the index header's count) and physical records used.
  virtual std::int32_t FilterActualRecordCount() = 0;
  virtual std::int32_t FilterPhysicalRecordsUsed() = 0;

  // Field lookup for verifying a filter: fills FieldNumber, DataType, SubType,
  // DataSize and Decimals of the node from the table's physical field named by
  // node.FieldName; false when there is none.
  virtual bool LookupFilterField(TExpToken& node) = 0;

  // --- indexes --------------------------------------------------------------
  // The current index position (0 primary, 1..30 secondary, 31 deleted
  // records, 32 text index, 255 physical order) and its restoration after an
  // indexed build.
  virtual std::uint8_t FilterIndexPosition() const = 0;
  virtual void RestoreFilterIndexPosition(std::uint8_t position) = 0;
  // Makes current the first index, the primary index (when the table has one)
  // and then the secondary indexes by position, whose first key field is the
  // field and whose case-insensitive flag matches (the flag does not matter
  // for fields that are not strings or when any case is accepted). False, with
  // the position unchanged, when there is none.
  virtual bool ChangeToIndexForField(const TIndexForField& wanted) = 0;
  // Makes the text index (slot 32) current; false when the table has none or
  // the field is not in it.
  virtual bool ChangeToTextIndex(std::uint16_t fieldNumber) = 0;
  // The key layout and key size of the current index.
  virtual const TKeyLayout& CurrentKeyLayout() const = 0;
  virtual std::uint16_t CurrentKeySize() const = 0;
  // Keys of the current index within [low, high] (key-size buffers); false
  // when the index changed underneath (the caller starts over).
  virtual bool CountIndexedRecords(const std::uint8_t* low, const std::uint8_t* high, std::int64_t& count) = 0;
  // Clears bitmap, then sets the record number of every key within [low,
  // high]; false on a restart as above.
  virtual bool NavigateIndexedRecords(const std::uint8_t* low, const std::uint8_t* high, TRecordsBitmap& bitmap) = 0;

  // --- records ----------------------------------------------------------------
  // The record with this number (physical layout; byte 0 is the deleted
  // flag), valid until the next call; false when the record cache was
  // invalidated underneath (the caller starts over).
  virtual bool ReadFilterRecord(std::int32_t recordNumber, const std::uint8_t*& record) = 0;
  // Evaluation of expressions against a record read above.
  virtual void* EvaluationContext() = 0;
  virtual TEvaluateFieldCallback FieldCallback() const = 0;
  virtual TEvaluateTextSearchCallback TextSearchCallback() const = 0;
  // The text-index parameters (stop words, space and include characters).
  virtual const TTextIndexParams& FilterTextIndexParams() const = 0;
};

}  // namespace tarn
