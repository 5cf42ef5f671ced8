// The structural check of a whole table: a sound table has no findings, and each
// kind of damage, made on a table built through the engine and written under the
// write lock, is found with its own finding.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "storage/tables/quota_table.h"
#include "storage/tables/structure_check.h"

namespace tarn::testing {
namespace {

constexpr std::int32_t kRows = 700;  // enough for a two-level primary index

std::string Joined(const TFindings& findings) {
  std::string text;
  for (const std::string& finding : findings) text += finding + "\n";
  return text;
}

// Builds the table: kRows rows, rows 4 and 5 deleted, notes on rows 1 and 2.
void Build(const std::string& path) {
  CreateQuotaTable(path, "quota", true);
  SessionOn s(path);
  QuotaOps ops(s.Open("quota"));
  for (std::int32_t id = 1; id <= kRows; ++id) ops.Append({id, "row", id});
  ops.Delete(4);
  ops.Delete(5);
  ops.SetNote(1, std::string(1200, 'a'));
  ops.SetNote(2, std::string(900, 'b'));
}

// A record of the table held for a change.
struct THeldRecord {
  THeldRecord(TDataTable& table, TCacheClient& client, std::int32_t n) : table_(table) {
    while (!table_.DataFile().GetRecord(&client, n, record)) {
    }
  }
  ~THeldRecord() { table_.DataFile().PutRecord(record); }
  TDataTable& table_;
  TRecord* record = nullptr;
};

struct TDamage {
  const char* Name;
  std::function<void(TDataTable&, QuotaOps&, TCacheClient&)> Apply;  // under the write lock
  const char* Finding;                                                // part of one finding
};

const TDamage kDamages[] = {
    {"FreeChainHoldsALiveRecord",
     [](TDataTable& t, QuotaOps&, TCacheClient&) { t.DataFile().SetNextFreeRecordNumber(3); },
     "the free-record chain holds live record 3"},
    {"FreeChainRunsInACycle",
     [](TDataTable& t, QuotaOps&, TCacheClient& client) {
       // Row 5 was deleted last: the chain is 5 -> 4 -> 0; 4 now links back to 5.
       THeldRecord four(t, client, 4);
       four.record->SetNextFreeRecord(5);
     },
     "the free-record chain runs in a cycle"},
    {"HeaderCountsRecordsTheFileLacks",
     [](TDataTable& t, QuotaOps&, TCacheClient& client) {
       // Taking the next record number without writing the record.
       THeldRecord extra(t, client, t.DataFile().Header().NextRecordNumber);
     },
     "the file of"},
    {"IndexHeaderCountsTooManyRecords",
     [](TDataTable& t, QuotaOps&, TCacheClient&) {
       t.SetActualRecordCount(t.IndexFile().Header().ActualRecordCount + 1);
     },
     "index header counts 699 records, the data file holds 698"},
    {"KeyMissingFromTheIndex",
     [](TDataTable& t, QuotaOps&, TCacheClient& client) {
       const TKeyLayout layout = MakeIndexKeyLayout(t.IndexFile().Header().Slots[0], t.DataFile().Fields(), 0, 0, 0);
       const TLayoutKeyComparator comparator(layout);
       std::vector<std::uint8_t> key(layout.KeySize(), 0);
       THeldRecord two(t, client, 2);
       std::vector<std::uint8_t> bytes(two.record->Bytes().begin(), two.record->Bytes().end());
       BuildIndexKey(layout, bytes, key);
       TIndexPath path;
       TBTree(t.IndexFile(), &client, 0, comparator, path).RemoveIndexKey(key.data());
     },
     "index slot 0: 697 keys for 698 live records"},
    {"SiblingLinkBroken",
     [](TDataTable& t, QuotaOps&, TCacheClient& client) {
       TPageRef root(t.IndexFile(), &client);
       ASSERT_TRUE(root.Get(0, t.IndexFile().GetRootPageNumber(0)));
       ASSERT_TRUE(root->IsBranch());
       TPageRef leaf(t.IndexFile(), &client);
       ASSERT_TRUE(leaf.Get(0, root->GetRecordNumber(1)));
       leaf->SetRightPageNumber(0);
       leaf->SetDirty(true);
     },
     "right link of page"},
    {"LowerCountWrong",
     [](TDataTable& t, QuotaOps&, TCacheClient& client) {
       TPageRef root(t.IndexFile(), &client);
       ASSERT_TRUE(root.Get(0, t.IndexFile().GetRootPageNumber(0)));
       root->SetLowerKeyEntryCount(1, root->GetLowerKeyEntryCount(1) + 1);
       root->SetDirty(true);
     },
     "lower count of page"},
    {"TwoRecordsShareABlobChain",
     [](TDataTable& t, QuotaOps&, TCacheClient& client) {
       THeldRecord one(t, client, 1), two(t, client, 2);
       std::vector<std::uint8_t> bytes(two.record->Bytes().begin(), two.record->Bytes().end());
       std::memcpy(&bytes[kNoteOffset + 1], one.record->GetRecordBufferPtr() + kNoteOffset + 1, 8);
       two.record->CopyRecordBuffer(bytes.data());
     },
     "owned by record 1"},
    {"FreeBlockListReachesALiveChain",
     [](TDataTable& t, QuotaOps&, TCacheClient& client) {
       THeldRecord one(t, client, 1);
       t.BlobFile().SetNextFreeBlockNumber(LoadBlobReference(one.record->GetRecordBufferPtr() + kNoteOffset + 1).FirstBlock);
     },
     "on the free list"},
};

class StructureCheck : public ::testing::TestWithParam<TDamage> {
 protected:
  void SetUp() override { Build(dir_.Path()); }
  TempDirectory dir_;
};

TEST(StructureCheckSound, BuiltTableHasNoFindings) {
  TempDirectory dir;
  Build(dir.Path());
  SessionOn s(dir.Path());
  TDataTable& table = s.Open("quota");
  EXPECT_EQ(Joined(CheckTableStructure(table)), "");
}

TEST_P(StructureCheck, DamageIsFound) {
  {
    SessionOn s(dir_.Path());
    TDataTable& table = s.Open("quota");
    QuotaOps ops(table);
    TableClient client(table);
    TWriteLockScope scope(table);
    GetParam().Apply(table, ops, client);
    if (HasFatalFailure()) return;
    scope.Commit();
  }
  // Opened as a repair opens it: a damaged header is a finding, not a refusal.
  SessionOn s(dir_.Path());
  const std::string findings = Joined(CheckTableStructure(s.Open("quota", {.RepairMode = true})));
  EXPECT_NE(findings.find(GetParam().Finding), std::string::npos) << "findings:\n" << findings;
}

INSTANTIATE_TEST_SUITE_P(Damages, StructureCheck, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<TDamage>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace tarn::testing
