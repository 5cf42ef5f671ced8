// Acceptance of the three table file headers when a table is opened: every
// count, length, offset and page or block number read from a file is checked
// before anything relies on it. Violations raise TARN_HEADERCORRUPT, a wrong
// version TARN_OLDVERSION, an unsupported language TARN_CANNOTLOADLDDRV.
//
// Whether a default/minimum/maximum text is valid for its field type is
// decided by the expression layer, which installs its verifier here. Until
// one is installed, texts are accepted when they fit their stored area: they
// are inert until the expression layer reads them, and it parses them with
// its own error handling. Locales are checked with the platform's locale
// services unless another validator is installed.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "storage/formats/blob_header.h"
#include "storage/formats/data_header.h"
#include "storage/formats/field_definition.h"
#include "storage/formats/index_header.h"
#include "storage/formats/table_context.h"

namespace tarn {

// Answers whether text is a valid default, minimum or maximum for a field of
// the data type. Empty texts never reach it.
using TExpressionVerifier = bool (*)(std::string_view text, std::uint8_t dataType);
// Answers whether the platform supports the locale of a language and sort ID.
using TLocaleValidator = bool (*)(std::uint16_t languageID, std::uint16_t sortID);

// Install (or, with nullptr, remove) the checks of the higher layers.
void SetExpressionVerifier(TExpressionVerifier verifier) noexcept;
void SetLocaleValidator(TLocaleValidator validator) noexcept;

// Data file. CheckFieldCount runs before the definitions are read;
// CheckDataHeader recomputes each definition's physical size and decimals.
void CheckDataHeaderVersion(const TDataHeader& header, const TTableContext& context);
void CheckFieldCount(const TDataHeader& header, const TTableContext& context);
void CheckDataHeader(const TDataHeader& header, std::span<TFieldDefinition> fields, std::uint64_t fileSize,
                     const TTableContext& context);

// Index file, against the definitions of the (already checked) data file.
void CheckIndexHeaderVersion(const TIndexHeader& header, const TTableContext& context);
void CheckIndexHeader(const TIndexHeader& header, std::span<const TFieldDefinition> fields,
                      const TTableContext& context);

// BLOB file.
void CheckBlobHeaderVersion(const TBlobHeader& header, const TTableContext& context);
void CheckBlobHeader(const TBlobHeader& header, const TTableContext& context);

// Whole file images as read from disk, checked in the order of opening.
struct TDataFileImage {
  TDataHeader Header;
  std::vector<TFieldDefinition> Fields;
};
TDataFileImage CheckDataFileImage(std::span<const std::uint8_t> file, const TTableContext& context);
TIndexHeader CheckIndexFileImage(std::span<const std::uint8_t> file, bool encrypted,
                                 std::span<const TFieldDefinition> fields, const TTableContext& context);
TBlobHeader CheckBlobFileImage(std::span<const std::uint8_t> file, bool encrypted, const TTableContext& context);

}  // namespace tarn
