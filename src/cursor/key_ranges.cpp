// Key ranges from conditions (see key_ranges.h).
#include "cursor/key_ranges.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "storage/formats/data_types.h"
#include "storage/keys/key_compare.h"
#include "storage/keys/key_encoding.h"

namespace tarn {

namespace {

// What a key byte is, for the fills and steps of an index with a language.
enum TBytePart : std::uint8_t { bpByte, bpNullFlag, bpString };

struct TBytePlan {
  TBytePart Part = bpByte;
  bool Reversed = false;  // the field compares the other way round within the key
};

bool ByteOrder(const TKeyRangeIndex& index) {
  return index.Layout.Kind == kkDeletedRecords || (index.Layout.Kind == kkIndex && index.Layout.LanguageID == 0);
}

TBytePlan PlanOf(const TKeyRangeIndex& index, std::size_t position) {
  const TKeyLayout& layout = index.Layout;
  if (ByteOrder(index)) return {};
  if (layout.Kind == kkText) {
    if (position >= kTextKeyPrefixBytes && position < kTextKeyPrefixBytes + kTextKeyWordBytes) return {bpString, false};
    return {};
  }
  std::size_t pos = 0;
  for (const TKeyField& field : layout.Fields) {
    const std::size_t size = field.IndexedSize() + 1u;
    if (position < pos + size) {
      const bool reversed = field.Descending && !layout.Descending;
      if (position == pos) return {bpNullFlag, reversed};
      return {field.DataType == dtString ? bpString : bpByte, reversed};
    }
    pos += size;
  }
  return {};
}

std::uint8_t LowByte(const TKeyRangeIndex& index, const TBytePlan& plan) {
  if (plan.Reversed) {
    switch (plan.Part) {
      case bpNullFlag: return 1;
      case bpString: return index.CharMap[255];
      default: return 0xFF;
    }
  }
  switch (plan.Part) {
    case bpNullFlag: return 0;
    case bpString: return index.CharMap[0];
    default: return 0x00;
  }
}

std::uint8_t HighByte(const TKeyRangeIndex& index, const TBytePlan& plan) {
  TBytePlan other = plan;
  other.Reversed = !plan.Reversed;
  return LowByte(index, other);
}

void Fill(const TKeyRangeIndex& index, std::uint8_t* key, std::size_t from, bool high) {
  std::size_t start = from;
  if (index.Layout.Kind == kkText) {
    // The word area keeps from - 1 characters (all of it filled when from is 0).
    const std::size_t keep = from == 0 ? 0 : std::min(from - 1, kTextKeyWordBytes);
    if (from == 0) {
      for (std::size_t i = 0; i < kTextKeyPrefixBytes && i < index.KeySize; ++i) key[i] = high ? 0xFF : 0x00;
    }
    start = kTextKeyPrefixBytes + keep;
  }
  for (std::size_t i = start; i < index.KeySize; ++i) {
    const TBytePlan plan = PlanOf(index, i);
    key[i] = high ? HighByte(index, plan) : LowByte(index, plan);
  }
}

// The place of every byte value in the character order.
std::array<std::uint8_t, 256> PlacesOf(const TLanguageCharMap& map) {
  std::array<std::uint8_t, 256> places{};
  for (std::size_t i = 0; i < 256; ++i) places[map[i]] = static_cast<std::uint8_t>(i);
  return places;
}

// One step up (or down) at position; true when no carry is left.
bool StepAt(const TKeyRangeIndex& index, std::uint8_t* key, std::size_t position, bool up) {
  const TBytePlan plan = PlanOf(index, position);
  const bool byteUp = up != plan.Reversed;
  if (plan.Part == bpString) {
    const TLanguageCharMap& map = index.CharMap;
    const auto places = PlacesOf(map);
    const int at = places[key[position]];
    const char current = static_cast<char>(key[position]);
    if (byteUp) {
      for (int i = at + 1; i < 256; ++i) {
        if (CompareChar(index.Layout.LanguageID, index.Layout.SortID, static_cast<char>(map[i]), current) != 0) {
          key[position] = map[i];
          return true;
        }
      }
      key[position] = map[0];
    } else {
      for (int i = at - 1; i >= 0; --i) {
        if (CompareChar(index.Layout.LanguageID, index.Layout.SortID, static_cast<char>(map[i]), current) != 0) {
          key[position] = map[i];
          return true;
        }
      }
      key[position] = map[255];
    }
    return false;
  }
  if (plan.Part == bpNullFlag) {
    if (byteUp && key[position] == 0) { key[position] = 1; return true; }
    if (!byteUp && key[position] == 1) { key[position] = 0; return true; }
    key[position] = byteUp ? 0 : 1;
    return false;
  }
  if (byteUp) return ++key[position] != 0;
  return key[position]-- != 0;
}

bool Step(const TKeyRangeIndex& index, std::uint8_t* key, std::size_t position, std::size_t first, bool up) {
  if (position >= index.KeySize || first > position) return false;
  for (std::size_t p = position + 1; p-- > first;) {
    if (StepAt(index, key, p, up)) return true;
  }
  // Saturated: the bytes from first to position become the extreme ones.
  for (std::size_t p = first; p <= position; ++p) {
    const TBytePlan plan = PlanOf(index, p);
    key[p] = up ? HighByte(index, plan) : LowByte(index, plan);
  }
  return false;
}

bool IsStringField(const TKeyLayout& layout) {
  return layout.Kind == kkText || (!layout.Fields.empty() && layout.Fields[0].DataType == dtString);
}

std::size_t FirstIndexedSize(const TKeyLayout& layout) {
  if (layout.Kind == kkText) return 2 + kTextKeyWordBytes;
  if (layout.Fields.empty()) return 0;
  return layout.Fields[0].IndexedSize();
}

}  // namespace

void FillAllLowBytes(const TKeyRangeIndex& index, std::uint8_t* key) { Fill(index, key, 0, false); }
void FillAllHighBytes(const TKeyRangeIndex& index, std::uint8_t* key) { Fill(index, key, 0, true); }
void SetLowBytes(const TKeyRangeIndex& index, std::uint8_t* key, std::size_t from) { Fill(index, key, from, false); }
void SetHighBytes(const TKeyRangeIndex& index, std::uint8_t* key, std::size_t from) { Fill(index, key, from, true); }

bool IncLastByte(const TKeyRangeIndex& index, std::uint8_t* key, std::size_t position, std::size_t first) {
  return Step(index, key, position, first, true);
}

bool DecLastByte(const TKeyRangeIndex& index, std::uint8_t* key, std::size_t position, std::size_t first) {
  return Step(index, key, position, first, false);
}

bool ConstantFitsKey(const TKeyLayout& layout, const TExpToken& constant) {
  if (layout.Kind != kkIndex || layout.Fields.empty()) return false;
  const TKeyField& field = layout.Fields[0];
  if (constant.IsNull) return true;
  if (field.DataType == dtString) {
    return constant.DataType == dtString && constant.StringLength() + 1u <= field.IndexedSize();
  }
  if (constant.DataType != field.DataType) return false;
  // Raw-byte key types keep their value order only for equal sizes.
  return static_cast<std::size_t>(constant.DataSize) >= field.PhysicalSize || field.DataType == dtBCD ||
         constant.DataSize == 0;
}

void BuildConstantKey(const TKeyRangeIndex& index, const TExpToken& constant, std::uint8_t* key) {
  std::memset(key, 0, index.KeySize);
  const TKeyLayout& layout = index.Layout;
  if (layout.Fields.empty()) return;
  const TKeyField& field = layout.Fields[0];
  if (field.IndexedSize() + 1u > index.KeySize) return;
  key[0] = constant.IsNull ? 0 : 1;
  PrepareDataForIndex(field.DataType, field.PhysicalSize, constant.IsNull ? nullptr : constant.ValueData(), key,
                      layout.SortID, layout.LanguageID, false, layout.CaseInsensitive);
}

bool BuildRangeFromConstant(const TKeyRangeIndex& index, TExpOperator op, std::uint8_t* high, std::uint8_t* low,
                            std::int32_t partialLength) {
  const TKeyLayout& layout = index.Layout;
  const bool descending = layout.Descending;
  const bool isString = IsStringField(layout);
  const std::size_t indexedSize = FirstIndexedSize(layout);
  const std::size_t keySize = index.KeySize;
  // The step position: the last character before a string's terminating
  // zero, the last value byte of any other field. A step that would carry
  // into the presence byte leaves the field's values: no key lies beyond.
  const std::size_t stepAt = isString ? indexedSize - 1u : indexedSize;
  bool empty = false;
  if (op != eoBETWEEN && op != eoNOTBETWEEN) {
    if (op == eoGT) empty = !IncLastByte(index, low, stepAt, 1);
    if (op == eoLT) empty = !DecLastByte(index, low, stepAt, 1);
    if (op == eoLT || op == eoLE) {
      std::memcpy(high, low, keySize);
      FillAllLowBytes(index, low);
    } else {
      FillAllHighBytes(index, high);
    }
  }
  if (op != eoISBLANK) {
    // String values below a bound include NULL, which compares as the empty
    // string; every other range starts at the first present value.
    const bool keepNulls = isString && layout.Kind == kkIndex && (op == eoLT || op == eoLE);
    if (!keepNulls) low[0] = 1;
    high[0] = 1;
  }
  std::size_t significant;
  if (op == eoISBLANK || op == eoNOTBLANK)
    significant = 1;
  else if (partialLength > 0)
    significant = static_cast<std::size_t>(partialLength) + 1u;
  else
    significant = indexedSize + 1u;
  if (op == eoISBLANK || op == eoNOTBLANK || op == eoEQ || op == eoNE) {
    std::memcpy(high, low, keySize);
  } else if (descending) {
    for (std::size_t i = 0; i < keySize; ++i) std::swap(low[i], high[i]);
  }
  // On a descending index keys compare the other way round: the low key
  // takes the high fill.
  if (descending) {
    SetHighBytes(index, low, significant);
    SetLowBytes(index, high, significant);
  } else {
    SetLowBytes(index, low, significant);
    SetHighBytes(index, high, significant);
  }
  return !empty;
}

TKeyRange MakeKeyRange(const TKeyRangeIndex& index, TExpOperator op, const TExpToken* constant,
                       const TExpToken* upper, std::int32_t partialLength) {
  TKeyRange range;
  range.Low.assign(index.KeySize, 0);
  range.High.assign(index.KeySize, 0);
  const bool isString = IsStringField(index.Layout);
  if (op == eoNE || op == eoNOTBETWEEN || op == eoNOTIN) {
    range.Invert = true;
    op = op == eoNE ? eoEQ : (op == eoNOTIN ? eoEQ : eoBETWEEN);
  }
  if (op == eoLIKE) op = eoEQ;
  if (constant != nullptr && constant->IsNull && op != eoISBLANK && op != eoNOTBLANK) {
    if (op == eoEQ) {
      // field = NULL selects the nulls; field <> NULL the values.
      op = range.Invert ? eoNOTBLANK : eoISBLANK;
      range.Invert = false;
    } else if (isString && (op == eoGT || op == eoGE || op == eoLT || op == eoLE)) {
      // NULL compares as the empty string below every value.
      if (op == eoGE) { FillAllLowBytes(index, range.Low.data()); FillAllHighBytes(index, range.High.data()); return range; }
      if (op == eoLT) { range.Empty = true; return range; }
      op = op == eoGT ? eoNOTBLANK : eoISBLANK;
    } else {
      range.Empty = true;  // exactly one NULL in an ordering: false
      return range;
    }
  }
  if (op == eoISBLANK || op == eoNOTBLANK) range.NullTest = true;
  if (constant != nullptr && !range.NullTest) BuildConstantKey(index, *constant, range.Low.data());
  if (op == eoBETWEEN && upper != nullptr) {
    if (constant == nullptr || constant->IsNull || upper->IsNull) {
      range.Empty = true;
      return range;
    }
    BuildConstantKey(index, *upper, range.High.data());
  }
  if (op == eoISBLANK || op == eoNOTBLANK) std::memset(range.Low.data(), 0, index.KeySize);
  if (!ByteOrder(index) && isString && (op == eoGT || op == eoLT) && partialLength == 0) {
    range.ExcludeEqual = true;
    range.EqualLow = range.Low;
    range.EqualHigh.assign(index.KeySize, 0);
    BuildRangeFromConstant(index, eoEQ, range.EqualHigh.data(), range.EqualLow.data(), 0);
    op = op == eoGT ? eoGE : eoLE;
  }
  range.Empty = !BuildRangeFromConstant(index, op, range.High.data(), range.Low.data(), partialLength);
  return range;
}

TKeyRange MakeTextWordRange(const TKeyRangeIndex& index, std::uint16_t fieldNumber, const std::string& word,
                            std::int32_t partialLength) {
  TKeyRange range;
  range.Low.assign(index.KeySize, 0);
  range.High.assign(index.KeySize, 0);
  if (index.KeySize < kTextKeyPrefixBytes + kTextKeyWordBytes) {
    range.Empty = true;
    return range;
  }
  range.Low[0] = 1;
  FlipWordBits(fieldNumber, range.Low.data() + 1);
  std::memcpy(range.Low.data() + kTextKeyPrefixBytes, word.data(), std::min(word.size(), kTextKeyWordBytes));
  // In the text key the word starts after the field number: the prefix of
  // partialLength characters keeps partialLength + 2 bytes after the flag.
  range.Empty = !BuildRangeFromConstant(index, eoEQ, range.High.data(), range.Low.data(), partialLength);
  return range;
}

}  // namespace tarn
