// Fuzzes the acceptance of table file headers over arbitrary bytes: data file
// images, index and BLOB headers, and valid images with patched bytes. The
// checks may only answer with engine errors; anything else is a fault.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/errors.h"
#include "storage/formats/check_header.h"
#include "storage/formats/record_layout.h"
#include "support/field_builders.h"

namespace {

using namespace tarn;

const TTableContext kContext{"/fuzz/", "table"};

// A small valid table: its fields and the images of its three headers.
struct Table {
  std::vector<TFieldDefinition> fields;
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> index;
  std::vector<std::uint8_t> blob;
};

Table MakeTable(bool encrypted) {
  Table t;
  t.fields = test_support::LaidOut(
      {test_support::MakeField("ID", dtInteger, 0, dstAutoInc), test_support::MakeField("NAME", dtString, 20),
       test_support::MakeField("N", dtInteger), test_support::MakeField("NOTE", dtBlob, 0, dstMemo),
       test_support::MakeField("PRICE", dtBCD)});
  TDataHeaderParams params;
  params.Encrypted = encrypted;
  params.Password = "pw";
  TDataHeader header = CreateDataHeader(params, t.fields, kContext);
  header.NextRecordNumber = 2;
  const auto h = DataHeaderBytes(header);
  t.data.assign(h.begin(), h.end());
  const auto area = WriteFieldDefinitions(t.fields, encrypted);
  t.data.insert(t.data.end(), area.begin(), area.end());
  t.data.resize(t.data.size() + header.RecordSize, 0);

  TIndexHeader index = CreateIndexHeader();
  TIndexDefinition primary = MakeEmptyIndexDefinition();
  primary.KeyFieldCount = 1;
  primary.KeyFields[0] = 1;
  primary.KeySize = 5;
  AddPrimaryIndex(index, primary, t.fields, kContext);
  TIndexDefinition byName = MakeEmptyIndexDefinition();
  byName.Name.Assign("ByName");
  byName.KeyFieldCount = 1;
  byName.KeyFields[0] = 2;
  byName.KeySize = 22 + 4;
  AddSecondaryIndex(index, byName, t.fields, kContext);
  index.NextPageNumber = 3;
  const auto ib = IndexHeaderBytes(index, encrypted);
  t.index.assign(ib.begin(), ib.end());
  const auto bb = BlobHeaderBytes(CreateBlobHeader(), encrypted);
  t.blob.assign(bb.begin(), bb.end());
  return t;
}

template <typename F>
void Guarded(F&& check) {
  try {
    check();
  } catch (const ETarnEngineError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size < 2) return 0;
  static const Table plain = MakeTable(false);
  static const Table scrambled = MakeTable(true);
  const std::uint8_t mode = bytes[0] % 4;
  const bool encrypted = (bytes[1] & 1) != 0;
  const Table& table = encrypted ? scrambled : plain;
  const std::span<const std::uint8_t> input(bytes + 2, size - 2);
  switch (mode) {
    case 0:
      Guarded([&] { CheckDataFileImage(input, kContext); });
      break;
    case 1:
      Guarded([&] { CheckIndexFileImage(input, encrypted, table.fields, kContext); });
      break;
    case 2:
      Guarded([&] { CheckBlobFileImage(input, encrypted, kContext); });
      break;
    default: {
      // Patch a valid table: triples of (offset low, offset high, value) over
      // the data image followed by the index and BLOB images.
      std::vector<std::uint8_t> all = table.data;
      all.insert(all.end(), table.index.begin(), table.index.end());
      all.insert(all.end(), table.blob.begin(), table.blob.end());
      for (std::size_t i = 0; i + 3 <= input.size(); i += 3) {
        const std::size_t offset = (input[i] | (input[i + 1] << 8)) % all.size();
        all[offset] = input[i + 2];
      }
      const std::size_t dataSize = table.data.size();
      const std::span<const std::uint8_t> data(all.data(), dataSize);
      const std::span<const std::uint8_t> index(all.data() + dataSize, table.index.size());
      const std::span<const std::uint8_t> blob(all.data() + dataSize + table.index.size(), table.blob.size());
      Guarded([&] {
        const TDataFileImage image = CheckDataFileImage(data, kContext);
        CheckIndexFileImage(index, image.Header.Encrypted != 0, image.Fields, kContext);
      });
      Guarded([&] { CheckIndexFileImage(index, encrypted, table.fields, kContext); });
      Guarded([&] { CheckBlobFileImage(blob, encrypted, kContext); });
      break;
    }
  }
  return 0;
}
