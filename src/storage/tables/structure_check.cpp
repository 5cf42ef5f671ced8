// The structural check of a table's data, BLOB and index files.
#include "storage/tables/structure_check.h"

#include <map>

#include "core/errors.h"
#include "storage/btree/btree_check.h"
#include "storage/formats/data_header.h"
#include "storage/formats/record_layout.h"
#include "storage/keys/key_layout.h"
#include "storage/tables/data_table.h"

namespace tarn {
namespace {

std::string RecordText(std::int32_t n) { return "record " + std::to_string(n); }
std::string BlockText(std::int32_t n) { return "block " + std::to_string(n); }

std::string EngineErrorText(const ETarnEngineError& e) {
  return "engine error " + std::to_string(e.ErrorCode()) + ": " + e.Message();
}

// The checker's part in cache lookups: its caller holds the read lock already.
class TCheckClient final : public TCacheClient {
 public:
  bool ReadLockForCache() override { return false; }
  std::int32_t ReadAheadCount() const override { return 1; }
};

}  // namespace

TDataCheckReport CheckDataFileStructure(TDataFile& data, TCacheClient* cursor) {
  TDataCheckReport report;
  auto find = [&](std::string text) { report.Findings.push_back("data file: " + std::move(text)); };
  const TDataHeader& header = data.Header();
  const std::int32_t records = header.NextRecordNumber - 1;
  if (header.RecordSize == 0) {
    find("record size 0");
    return report;
  }
  if (records < 0) {
    find("next record number " + std::to_string(header.NextRecordNumber));
    return report;
  }
  const std::int64_t size = data.GetSize();
  const std::uint64_t needed =
      DataFixedPartSize(data.Fields().size()) + static_cast<std::uint64_t>(records) * header.RecordSize;
  // A longer file holds the remains of an append that never published its header.
  if (size < 0 || static_cast<std::uint64_t>(size) < needed)
    find("the header counts " + std::to_string(records) + " records, the file of " + std::to_string(size) +
         " bytes holds fewer");
  std::set<std::int32_t> deleted;
  try {
    for (std::int32_t n = 1; n <= records; ++n) {
      TRecord* record = nullptr;
      if (!data.GetRecord(cursor, n, record, {.ReadAhead = true})) {
        find("the caches changed during the check");
        return report;
      }
      if (record->GetIsDeleted()) deleted.insert(n);
      else report.LiveRecords.insert(n);
      data.PutRecord(record);
    }
    std::int32_t n = header.NextFreeRecordNumber;
    while (n != 0) {
      if (n < 1 || n > records) {
        find("the free-record chain links to " + RecordText(n) + " outside the file");
        break;
      }
      if (!report.FreeRecords.insert(n).second) {
        find("the free-record chain runs in a cycle at " + RecordText(n));
        break;
      }
      if (deleted.count(n) == 0) find("the free-record chain holds live " + RecordText(n));
      TRecord* record = nullptr;
      if (!data.GetRecord(cursor, n, record)) {
        find("the caches changed during the check");
        break;
      }
      n = record->GetNextFreeRecord();
      data.PutRecord(record);
    }
  } catch (const ETarnEngineError& e) {
    find("the check stopped at " + EngineErrorText(e));
  }
  return report;
}

TFindings CheckBlobFileStructure(TBlobFile& blob, TDataFile& data, TCacheClient* cursor,
                                 const std::set<std::int32_t>& liveRecords) {
  TFindings findings;
  auto find = [&](std::string text) { findings.push_back("BLOB file: " + std::move(text)); };
  const TBlobHeader& header = blob.Header();
  const std::int32_t blocks = header.NextBlockNumber - 1;
  const std::int32_t blockSize = blob.GetBlockSize();
  if (blocks < 0 || blockSize <= 0) {
    find("next block number " + std::to_string(header.NextBlockNumber));
    return findings;
  }
  const std::int64_t size = blob.GetSize();
  const std::uint64_t needed = kBlobHeaderSize + static_cast<std::uint64_t>(blocks) * static_cast<std::uint64_t>(blockSize);
  if (size < 0 || static_cast<std::uint64_t>(size) < needed)
    find("the header counts " + std::to_string(blocks) + " blocks, the file of " + std::to_string(size) +
         " bytes holds fewer");
  const std::int64_t capacity = blob.GetBlockBufferSize();
  // Which record's chain (or the free list, 0) owns each block.
  std::map<std::int32_t, std::int32_t> owner;
  try {
    std::int32_t n = header.NextFreeBlockNumber;
    while (n != 0) {
      if (n < 1 || n > blocks) {
        find("the free-block list links to " + BlockText(n) + " outside the file");
        break;
      }
      if (!owner.emplace(n, 0).second) {
        find("the free-block list runs in a cycle at " + BlockText(n));
        break;
      }
      TBlockRef ref(blob);
      if (!ref.Get(cursor, n, 1, false)) {
        find("the caches changed during the check");
        return findings;
      }
      n = ref->GetNextBlockNumber();
    }
    std::vector<const TFieldDefinition*> blobFields;
    for (const TFieldDefinition& field : data.Fields())
      if (field.DataType == dtBlob) blobFields.push_back(&field);
    for (std::int32_t record : liveRecords) {
      TRecord* buffer = nullptr;
      if (!data.GetRecord(cursor, record, buffer)) {
        find("the caches changed during the check");
        return findings;
      }
      std::vector<TBlobReference> references;
      for (const TFieldDefinition* field : blobFields) {
        const std::uint8_t* at = buffer->GetRecordBufferPtr() + field->FieldOffset;
        if (field->FieldOffset + 1u + kBlobReferenceSize > buffer->RecordSize() || at[0] == 0) {
          references.push_back({0, 0});
          continue;
        }
        references.push_back(LoadBlobReference(at + 1));
      }
      data.PutRecord(buffer);
      for (std::size_t f = 0; f < references.size(); ++f) {
        const TBlobReference reference = references[f];
        if (reference.FirstBlock == 0) continue;
        const std::string where = RecordText(record) + " field " + std::to_string(blobFields[f]->FieldNumber);
        std::int32_t current = reference.FirstBlock;
        std::int64_t counted = 0;
        std::int64_t length = -1;
        while (current != 0) {
          if (current < 1 || current > blocks) {
            find(where + " links to " + BlockText(current) + " outside the file");
            break;
          }
          if (auto [it, added] = owner.emplace(current, record); !added) {
            find(where + " reaches " + BlockText(current) +
                 (it->second == 0 ? std::string(" on the free list") : " owned by " + RecordText(it->second)));
            break;
          }
          TBlockRef ref(blob);
          if (!ref.Get(cursor, current, 1, false)) {
            find("the caches changed during the check");
            return findings;
          }
          if (ref->GetBlobSignature() != reference.Signature)
            find(where + " " + BlockText(current) + " carries another signature");
          if (length < 0) {
            length = ref->GetBlobLength();
            if (length <= 0) {
              find(where + " has a BLOB length of " + std::to_string(length));
              break;
            }
          }
          const std::int64_t expected = std::min<std::int64_t>(capacity, length - counted);
          if (ref->GetNextBlockNumber() != 0 && ref->GetBlockLength() != expected)
            find(where + " " + BlockText(current) + " uses " + std::to_string(ref->GetBlockLength()) + " bytes, not " +
                 std::to_string(expected));
          counted += ref->GetBlockLength();
          current = ref->GetNextBlockNumber();
        }
        if (length > 0 && current == 0 && counted != length)
          find(where + " holds " + std::to_string(counted) + " bytes, its length says " + std::to_string(length));
      }
    }
  } catch (const ETarnEngineError& e) {
    find("the check stopped at " + EngineErrorText(e));
  }
  return findings;
}

TFindings CheckTableStructure(TDataTable& table) {
  TReadLockScope lock(table);
  TCheckClient client;
  TDataCheckReport data = CheckDataFileStructure(table.DataFile(), &client);
  TFindings findings = std::move(data.Findings);
  if (table.HasBlobFile()) {
    TFindings blob = CheckBlobFileStructure(table.BlobFile(), table.DataFile(), &client, data.LiveRecords);
    findings.insert(findings.end(), blob.begin(), blob.end());
  }
  TIndexFile& index = table.IndexFile();
  const std::int32_t actual = index.Header().ActualRecordCount;
  if (actual != static_cast<std::int32_t>(data.LiveRecords.size()))
    findings.push_back("index header counts " + std::to_string(actual) + " records, the data file holds " +
                       std::to_string(data.LiveRecords.size()));
  const std::size_t lastSecondary = std::min<std::size_t>(index.GetIndexCount(), 30);
  for (std::size_t slot = 0; slot <= lastSecondary; ++slot) {
    if (slot == 0 && !table.HasPrimaryIndex()) continue;
    const TIndexDefinition& def = index.Header().Slots[slot];
    if (def.KeyFieldCount == 0) continue;
    try {
      const TLayoutKeyComparator comparator(MakeIndexKeyLayout(def, table.DataFile().Fields(), slot,
                                                               table.DataFile().GetLanguageID(),
                                                               table.DataFile().GetSortID()));
      TTreeCheckReport tree = CheckIndexTree(index, &client, slot, comparator);
      findings.insert(findings.end(), tree.Findings.begin(), tree.Findings.end());
      const std::string name = "index slot " + std::to_string(slot) + ": ";
      if (tree.Keys != static_cast<std::int64_t>(data.LiveRecords.size()))
        findings.push_back(name + std::to_string(tree.Keys) + " keys for " + std::to_string(data.LiveRecords.size()) +
                           " live records");
      std::set<std::int32_t> indexed;
      for (const auto& entry : tree.Entries) {
        if (data.LiveRecords.count(entry.second) == 0)
          findings.push_back(name + "a key points at " + RecordText(entry.second) + ", which is not live");
        else if (!indexed.insert(entry.second).second)
          findings.push_back(name + RecordText(entry.second) + " has two keys");
      }
    } catch (const ETarnEngineError& e) {
      findings.push_back("index slot " + std::to_string(slot) + ": the check stopped at " + EngineErrorText(e));
    }
  }
  return findings;
}

}  // namespace tarn
