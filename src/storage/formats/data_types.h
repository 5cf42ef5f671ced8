// Engine data types and sub types as stored in a field definition (bytes 84
// and 85), with the physical size each type occupies in a record and in an
// index key. The codes are part of the table file format and never change.
#pragma once

#include <cstdint>

namespace tarn {

// Data type code of a field (field definition byte 84). 0 is invalid.
enum TDataType : std::uint8_t {
  dtUnknown = 0,
  dtString = 1,      // declared size + 1: characters, zero-terminated, zero-filled
  dtDate = 2,        // int32 day number, day 1 = 0001-01-01
  dtBlob = 3,        // BLOB reference: first block (int32), signature (int32)
  dtBoolean = 4,     // 16-bit boolean, 0 or 1
  dtSmallInt = 5,    // int16
  dtInteger = 6,     // int32
  dtFloat = 7,       // IEEE double
  dtBCD = 8,         // packed decimal: precision, sign/places, 32 digit bytes
  dtBytes = 9,       // declared size raw bytes
  dtTime = 10,       // int32 milliseconds since midnight
  dtTimeStamp = 11,  // IEEE double: day number x 86,400,000 + milliseconds
  dtWord = 12,       // uint16
  dtCardinal = 13,   // uint32
  dtExtended = 14,   // 10-byte extended float
  dtVarBytes = 15,   // declared size
  dtLargeInt = 18,   // int64
};

// Sub type code of a field (field definition byte 85). 0 is none.
enum TDataSubType : std::uint8_t {
  dstNone = 0,
  dstMoney = 21,          // with dtFloat
  dstMemo = 22,           // with dtBlob
  dstBinary = 23,         // with dtBlob
  dstFormattedMemo = 24,  // with dtBlob
  dstOle = 25,            // with dtBlob
  dstGraphic = 26,        // with dtBlob
  dstTypedBinary = 28,    // with dtBlob
  dstAutoInc = 29,        // with dtInteger
  dstFixedChar = 31,      // with dtString
  dstWideString = 32,     // with dtString
};

// Bytes of the BCD record and of a BLOB reference.
inline constexpr std::uint8_t kBcdPhysicalSize = 34;
inline constexpr std::uint8_t kBlobReferenceSize = 8;
// Largest declared size of dtString, dtBytes and dtVarBytes fields.
inline constexpr std::uint8_t kMaxDeclaredFieldSize = 250;

// True for the types whose declared size (byte 86) is meaningful.
constexpr bool HasDeclaredSize(std::uint8_t dataType) noexcept {
  return dataType == dtString || dataType == dtBytes || dataType == dtVarBytes;
}

// Bytes of data a field of this type occupies in a record (without its
// null-flag byte). Unknown codes keep their declared size.
constexpr std::uint8_t PhysicalSize(std::uint8_t dataType, std::uint8_t declaredSize) noexcept {
  switch (dataType) {
    case dtString:
      // A declared size of 255 would not fit the byte; the header check
      // refuses such sizes before they are used.
      return static_cast<std::uint8_t>(declaredSize == 255 ? 255 : declaredSize + 1);
    case dtDate: return 4;
    case dtBlob: return kBlobReferenceSize;
    case dtBoolean: return 2;
    case dtSmallInt: return 2;
    case dtInteger: return 4;
    case dtFloat: return 8;
    case dtBCD: return kBcdPhysicalSize;
    case dtBytes: return declaredSize;
    case dtTime: return 4;
    case dtTimeStamp: return 8;
    case dtWord: return 2;
    case dtCardinal: return 4;
    case dtExtended: return 10;
    case dtVarBytes: return declaredSize;
    case dtLargeInt: return 8;
    default: return declaredSize;
  }
}

// Bytes a field occupies in an index or sort key after its presence byte:
// the physical size, except 8 for dtBCD (keyed as a double).
constexpr std::uint8_t IndexedSize(std::uint8_t dataType, std::uint8_t physicalSize) noexcept {
  return dataType == dtBCD ? 8 : physicalSize;
}

static_assert(PhysicalSize(dtString, 20) == 21);
static_assert(PhysicalSize(dtBCD, 0) == 34 && IndexedSize(dtBCD, 34) == 8);
static_assert(PhysicalSize(dtLargeInt, 0) == 8 && PhysicalSize(99, 7) == 7);

}  // namespace tarn
