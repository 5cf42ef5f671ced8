// Cursor BLOBs: reading at and past the end, the open-buffer limit, invalid
// handles, freeing that restores the field, BLOBs written with a record and
// read back by another session after reopening, rewritten, emptied and freed
// with their record, and the ownership check at a post.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cursor/cursor_fixture.h"
#include "storage/tables/structure_check.h"
#include "support/raised_code.h"

namespace tarn::cursor_testing {
namespace {

using test_support::RaisedCode;

constexpr std::uint16_t kKeyField = 1, kNoteField = 2, kTagField = 3;

TTableDefinition NotesDefinition() {
  using test_support::MakeField;
  TTableDefinition def;
  def.Fields = {MakeField("ID", dtInteger), MakeField("NOTE", dtBlob, 0, dstMemo), MakeField("TAG", dtString, 8)};
  test_support::LayOut(def.Fields);
  def.Indexes.push_back(test_support::MakeIndex("", {kKeyField}, def.Fields, true));
  return def;
}

std::string Text(std::size_t size) {
  std::string text(size, ' ');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
  return text;
}

class CursorBlobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateTable(dir_.Path(), "notes", NotesDefinition());
    cursor_ = session_.Cursor("notes");
  }
  std::vector<std::uint8_t> NewRecord(std::int32_t id) {
    std::vector<std::uint8_t> buffer(cursor_->GetRecordBufferSize());
    cursor_->InitRecord(buffer.data());
    std::uint8_t value[4];
    StoreInt32(value, id);
    cursor_->PutField(kKeyField, buffer.data(), value);
    return buffer;
  }
  // Opens the note of the buffer, writes the text (a null text leaves it
  // empty) and posts the record as a new one.
  void AppendWithNote(std::int32_t id, const std::string& note) {
    std::vector<std::uint8_t> buffer = NewRecord(id);
    ASSERT_EQ(cursor_->OpenBlob(kNoteField, buffer.data(), 0, false, false), 0);
    ASSERT_EQ(cursor_->PutBlob(kNoteField, buffer.data(), false, static_cast<std::int32_t>(note.size()),
                               reinterpret_cast<const std::uint8_t*>(note.data()), 0),
              0);
    cursor_->AppendRecord(buffer.data());
  }
  // Where the reference word of the note lies in a record buffer.
  std::size_t NoteReference() const {
    TFieldDefinition def;
    cursor_->GetFieldDefinition(kNoteField, def);
    return def.FieldOffset + 1u;
  }
  static std::string ReadNote(TDataCursor& cursor, std::int32_t id) {
    cursor.SetIndexPos(0);
    std::vector<std::uint8_t> buffer(cursor.GetRecordBufferSize());
    cursor.InitRecord(buffer.data());
    std::uint8_t value[4];
    StoreInt32(value, id);
    cursor.PutField(kKeyField, buffer.data(), value);
    std::vector<std::uint8_t> key(cursor.GetKeyEntrySize());
    cursor.GetKeyValues(buffer.data(), key.data());
    if (!cursor.FindIndexKey(key.data(), false, false)) return "<no record>";
    if (cursor.GetCurrentRecord(buffer.data()) != 0) return "<no current record>";
    if (cursor.OpenBlob(kNoteField, buffer.data(), 0, false, true) != 0) return "<not opened>";
    std::int32_t size = -1;
    if (cursor.GetBlobSize(kNoteField, buffer.data(), false, size) != 0) return "<no size>";
    std::string text(static_cast<std::size_t>(size), '\0');
    std::int32_t read = 0;
    const std::uint16_t code =
        cursor.GetBlob(kNoteField, buffer.data(), false, read, size, reinterpret_cast<std::uint8_t*>(text.data()), 0);
    cursor.FreeBlob(kNoteField, buffer.data(), false, true);
    if (code != 0 || read != size) return "<read failed>";
    return text;
  }

  TempDirectory dir_;
  CursorSession session_{dir_.Path()};
  std::unique_ptr<TDataCursor> cursor_;
};

TEST_F(CursorBlobTest, GetBlobReadsUpToTheEnd) {
  std::vector<std::uint8_t> buffer = NewRecord(1);
  ASSERT_EQ(cursor_->OpenBlob(kNoteField, buffer.data(), 0, false, true), 0);
  const std::string twelve = "abcdefghijkl";
  ASSERT_EQ(cursor_->PutBlob(kNoteField, buffer.data(), false, 12, reinterpret_cast<const std::uint8_t*>(twelve.data()),
                             0),
            0);
  struct Case {
    std::int32_t Offset, Count;
    std::uint16_t Code;
    std::string Bytes;
  };
  const Case cases[] = {
      {0, 10, 0, "abcdefghij"},          {2, 10, 0, "cdefghijkl"},  {5, 10, TARN_ENDOFBLOB, "fghijkl"},
      {11, 10, TARN_ENDOFBLOB, "l"},     {12, 10, TARN_ENDOFBLOB, ""}, {40, 3, TARN_ENDOFBLOB, ""},
      {0, 0, 0, ""},                     {-1, 3, TARN_INVALIDBLOBOFFSET, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("offset " + std::to_string(c.Offset) + " count " + std::to_string(c.Count));
    std::string out(16, '#');
    std::int32_t read = -1;
    EXPECT_EQ(cursor_->GetBlob(kNoteField, buffer.data(), false, read, c.Count,
                               reinterpret_cast<std::uint8_t*>(out.data()), c.Offset),
              c.Code);
    EXPECT_EQ(read, static_cast<std::int32_t>(c.Bytes.size()));
    EXPECT_EQ(out.substr(0, c.Bytes.size()), c.Bytes);
    EXPECT_EQ(out[c.Bytes.size()], '#');  // nothing past what was read
  }
}

TEST_F(CursorBlobTest, OpenBufferLimitHandlesAndCodes) {
  std::vector<std::vector<std::uint8_t>> records;
  for (std::size_t i = 0; i < TDataCursor::kMaxOpenBlobs; ++i) {
    records.push_back(NewRecord(static_cast<std::int32_t>(i)));
    ASSERT_EQ(cursor_->OpenBlob(kNoteField, records.back().data(), 0, false, true), 0) << i;
    // The handle is stored negated; the null flag says the BLOB is empty.
    const std::int32_t reference = LoadInt32(records.back().data() + NoteReference());
    EXPECT_LT(reference, 0);
  }
  std::vector<std::uint8_t> extra = NewRecord(999);
  EXPECT_EQ(cursor_->OpenBlob(kNoteField, extra.data(), 0, false, true), TARN_OPENBLOBLIMIT);
  EXPECT_FALSE(cursor_->ValidBlobHandle(kNoteField, extra.data(), false));
  // Opening an open BLOB again reuses its buffer.
  EXPECT_EQ(cursor_->OpenBlob(kNoteField, records[0].data(), 0, false, true), 0);
  EXPECT_EQ(cursor_->OpenBlobCount(), TDataCursor::kMaxOpenBlobs);

  cursor_->FreeAllBlobs(true);
  EXPECT_EQ(cursor_->OpenBlobCount(), 0u);
  std::int32_t size = 0;
  std::int32_t read = 0;
  std::uint8_t byte = 0;
  // A handle whose buffer is gone, a reference that never was a handle, a
  // field that is no BLOB, a field that does not exist.
  EXPECT_EQ(cursor_->GetBlobSize(kNoteField, records[0].data(), false, size), TARN_INVALIDBLOBHANDLE);
  EXPECT_EQ(cursor_->GetBlob(kNoteField, extra.data(), false, read, 1, &byte, 0), TARN_INVALIDBLOBHANDLE);
  EXPECT_EQ(cursor_->PutBlob(kNoteField, records[1].data(), false, 1, &byte, 0), TARN_INVALIDBLOBHANDLE);
  EXPECT_EQ(cursor_->FreeBlob(kNoteField, records[2].data(), false, true), TARN_INVALIDBLOBHANDLE);
  EXPECT_EQ(cursor_->TruncateBlob(kNoteField, records[3].data(), false, 0), TARN_INVALIDBLOBHANDLE);
  EXPECT_EQ(cursor_->OpenBlob(kNoteField, records[4].data(), 0, false, true), TARN_INVALIDBLOBOFFSET);
  EXPECT_EQ(cursor_->OpenBlob(kTagField, extra.data(), 0, false, true), TARN_NOTABLOB);
  EXPECT_EQ(cursor_->GetBlobSize(kKeyField, extra.data(), false, size), TARN_NOTABLOB);
  EXPECT_EQ(cursor_->OpenBlob(9, extra.data(), 0, false, true), TARN_OUTOFRANGE);
  EXPECT_EQ(cursor_->OpenBlob(kNoteField, extra.data(), 0, false, true), 0);
  EXPECT_EQ(cursor_->TruncateBlob(kNoteField, extra.data(), false, -1), TARN_INVALIDBLOBLEN);
}

TEST_F(CursorBlobTest, FreeBlobRestoresTheField) {
  AppendWithNote(1, "stored note");
  std::vector<std::uint8_t> buffer(cursor_->GetRecordBufferSize());
  ASSERT_EQ(cursor_->GetCurrentRecord(buffer.data()), 0);
  const std::vector<std::uint8_t> before = buffer;
  ASSERT_EQ(cursor_->OpenBlob(kNoteField, buffer.data(), 0, false, true), 0);
  EXPECT_NE(buffer, before);
  // Freed by the other owner: stays open.
  EXPECT_EQ(cursor_->FreeBlob(kNoteField, buffer.data(), false, false), 0);
  EXPECT_TRUE(cursor_->ValidBlobHandle(kNoteField, buffer.data(), false));
  // Even after changes, freeing by its owner puts the field back.
  ASSERT_EQ(cursor_->TruncateBlob(kNoteField, buffer.data(), false, 0), 0);
  bool isNull = false;
  cursor_->GetField(kNoteField, buffer.data(), nullptr, isNull);
  EXPECT_TRUE(isNull);  // the null flag follows the contents
  EXPECT_EQ(cursor_->FreeBlob(kNoteField, buffer.data(), false, true), 0);
  EXPECT_EQ(buffer, before);
  EXPECT_EQ(cursor_->OpenBlobCount(), 0u);
  EXPECT_EQ(ReadNote(*cursor_, 1), "stored note");
}

TEST_F(CursorBlobTest, BlobsWrittenWithRecordsAreReadBackAfterReopening) {
  const std::string longNote = Text(3000);  // several blocks
  AppendWithNote(1, longNote);
  AppendWithNote(2, "short");
  AppendWithNote(3, "to be removed");
  EXPECT_EQ(cursor_->OpenBlobCount(), 0u);  // the engine's own buffers went with the posts

  // Rewrite 2 longer, empty 3.
  for (const auto& [id, note] : {std::pair<std::int32_t, std::string>{2, Text(1500)}, {3, ""}}) {
    ASSERT_NE(ReadNote(*cursor_, id), "<no record>");
    std::vector<std::uint8_t> buffer(cursor_->GetRecordBufferSize());
    ASSERT_EQ(cursor_->GetCurrentRecord(buffer.data()), 0);
    ASSERT_EQ(cursor_->OpenBlob(kNoteField, buffer.data(), 0, false, false), 0);
    ASSERT_EQ(cursor_->TruncateBlob(kNoteField, buffer.data(), false, 0), 0);
    ASSERT_EQ(cursor_->PutBlob(kNoteField, buffer.data(), false, static_cast<std::int32_t>(note.size()),
                               reinterpret_cast<const std::uint8_t*>(note.data()), 0),
              0);
    cursor_->ModifyRecord(buffer.data());
  }
  cursor_->CloseCursor();
  cursor_.reset();

  CursorSession other(dir_.Path());
  auto reader = other.Cursor("notes");
  EXPECT_EQ(ReadNote(*reader, 1), longNote);
  EXPECT_EQ(ReadNote(*reader, 2), Text(1500));
  EXPECT_EQ(ReadNote(*reader, 3), "");
  std::vector<std::uint8_t> buffer(reader->GetRecordBufferSize());
  ASSERT_EQ(reader->GetCurrentRecord(buffer.data()), 0);
  bool isNull = false;
  reader->GetField(kNoteField, buffer.data(), nullptr, isNull);
  EXPECT_TRUE(isNull);

  // Deleting a record frees its chain: the next BLOB reuses the blocks.
  ASSERT_NE(ReadNote(*reader, 1), "<no record>");
  ASSERT_EQ(reader->GetCurrentRecord(buffer.data()), 0);
  const std::int32_t blocks = reader->Table()->GetPhysicalBlocksUsed();
  reader->DeleteRecord(buffer.data());
  std::vector<std::uint8_t> fresh(reader->GetRecordBufferSize());
  reader->InitRecord(fresh.data());
  std::uint8_t value[4];
  StoreInt32(value, 4);
  reader->PutField(kKeyField, fresh.data(), value);
  ASSERT_EQ(reader->OpenBlob(kNoteField, fresh.data(), 0, false, false), 0);
  ASSERT_EQ(reader->PutBlob(kNoteField, fresh.data(), false, static_cast<std::int32_t>(longNote.size()),
                            reinterpret_cast<const std::uint8_t*>(longNote.data()), 0),
            0);
  reader->AppendRecord(fresh.data());
  EXPECT_EQ(reader->Table()->GetPhysicalBlocksUsed(), blocks);
  EXPECT_EQ(ReadNote(*reader, 4), longNote);
  EXPECT_TRUE(CheckTableStructure(*reader->Table()).empty());
}

TEST_F(CursorBlobTest, APostRefusesAModifiedBlobOfAnotherRecord) {
  AppendWithNote(1, "one");
  std::vector<std::uint8_t> stray = NewRecord(50);
  ASSERT_EQ(cursor_->OpenBlob(kNoteField, stray.data(), 0, false, true), 0);
  ASSERT_EQ(cursor_->PutBlob(kNoteField, stray.data(), false, 3, reinterpret_cast<const std::uint8_t*>("xyz"), 0), 0);
  const std::vector<std::uint8_t> data = [&] {
    std::vector<std::uint8_t> buffer = NewRecord(2);
    return buffer;
  }();
  std::vector<std::uint8_t> other = data;
  EXPECT_EQ(RaisedCode([&] { cursor_->AppendRecord(other.data()); }), TARN_MEMOCORRUPT);
  // A handle that names no open BLOB is refused too.
  std::vector<std::uint8_t> forged = NewRecord(3);
  StoreInt32(forged.data() + NoteReference(), -12345);
  cursor_->FreeBlob(kNoteField, stray.data(), false, true);
  EXPECT_EQ(RaisedCode([&] { cursor_->AppendRecord(forged.data()); }), TARN_MEMOCORRUPT);
  EXPECT_EQ(WalkIds(*cursor_), (std::vector<std::int32_t>{1}));
  // With the stray BLOB freed, the same record posts.
  cursor_->AppendRecord(other.data());
  EXPECT_EQ(WalkIds(*cursor_), (std::vector<std::int32_t>{1, 2}));
}

TEST_F(CursorBlobTest, AClearedOrReplacedBlobFreesItsStoredChain) {
  const std::string note = Text(2000);
  AppendWithNote(1, note);
  AppendWithNote(2, note);
  const std::int32_t blocks = cursor_->Table()->GetPhysicalBlocksUsed();

  // Record 1: the field set null, then posted.
  ASSERT_EQ(ReadNote(*cursor_, 1), note);
  std::vector<std::uint8_t> buffer(cursor_->GetRecordBufferSize());
  ASSERT_EQ(cursor_->GetCurrentRecord(buffer.data()), 0);
  cursor_->PutField(kNoteField, buffer.data(), nullptr);
  cursor_->ModifyRecord(buffer.data());
  EXPECT_EQ(ReadNote(*cursor_, 1), "");

  // Record 2: new contents opened on the cleared field replace the old chain.
  ASSERT_EQ(ReadNote(*cursor_, 2), note);
  ASSERT_EQ(cursor_->GetCurrentRecord(buffer.data()), 0);
  cursor_->PutField(kNoteField, buffer.data(), nullptr);
  const std::string replacement = Text(1900);
  ASSERT_EQ(cursor_->OpenBlob(kNoteField, buffer.data(), 0, false, false), 0);
  ASSERT_EQ(cursor_->PutBlob(kNoteField, buffer.data(), false, static_cast<std::int32_t>(replacement.size()),
                             reinterpret_cast<const std::uint8_t*>(replacement.data()), 0),
            0);
  cursor_->ModifyRecord(buffer.data());
  EXPECT_EQ(ReadNote(*cursor_, 2), replacement);

  // Two more notes of the same size fit into the freed blocks.
  AppendWithNote(3, note);
  EXPECT_EQ(cursor_->Table()->GetPhysicalBlocksUsed(), blocks);
  EXPECT_TRUE(CheckTableStructure(*cursor_->Table()).empty());
}

TEST_F(CursorBlobTest, AReferenceToAnotherChainIsRefused) {
  AppendWithNote(1, "first note");
  AppendWithNote(2, "second note");
  std::vector<std::uint8_t> first(cursor_->GetRecordBufferSize());
  ASSERT_EQ(ReadNote(*cursor_, 1), "first note");
  ASSERT_EQ(cursor_->GetCurrentRecord(first.data()), 0);
  std::vector<std::uint8_t> second(cursor_->GetRecordBufferSize());
  ASSERT_EQ(ReadNote(*cursor_, 2), "second note");
  ASSERT_EQ(cursor_->GetCurrentRecord(second.data()), 0);
  const auto data = cursor_->Table()->GetDataFileSize();
  const auto blocks = cursor_->Table()->GetPhysicalBlocksUsed();

  // Record 2 pointed at record 1's chain; a new record pointing at it.
  std::memcpy(second.data() + NoteReference(), first.data() + NoteReference(), 8);
  EXPECT_EQ(RaisedCode([&] { cursor_->ModifyRecord(second.data()); }), TARN_MEMOCORRUPT);
  std::vector<std::uint8_t> copy = first;
  std::uint8_t value[4];
  StoreInt32(value, 3);
  cursor_->PutField(kKeyField, copy.data(), value);
  EXPECT_EQ(RaisedCode([&] { cursor_->AppendRecord(copy.data()); }), TARN_MEMOCORRUPT);

  EXPECT_EQ(cursor_->Table()->GetDataFileSize(), data);
  EXPECT_EQ(cursor_->Table()->GetPhysicalBlocksUsed(), blocks);
  EXPECT_EQ(ReadNote(*cursor_, 1), "first note");
  EXPECT_EQ(ReadNote(*cursor_, 2), "second note");
  EXPECT_EQ(WalkIds(*cursor_), (std::vector<std::int32_t>{1, 2}));
}

// A copy of the current record inserts again as a record of its own: fields and
// BLOB contents alike, with a BLOB chain of its own.
TEST_F(CursorBlobTest, ACloneOfTheCurrentRecordCarriesItsFieldsAndBlobContents) {
  std::vector<std::uint8_t> copy(cursor_->GetRecordBufferSize());
  cursor_->SetToBegin();
  EXPECT_EQ(cursor_->CloneCurrentRecord(copy.data()), TARN_NOCURRREC);
  const std::string note = Text(3000);
  AppendWithNote(1, note);
  ASSERT_EQ(cursor_->CloneCurrentRecord(copy.data()), 0);
  std::uint8_t id[4];
  StoreInt32(id, 2);
  cursor_->PutField(kKeyField, copy.data(), id);
  cursor_->AppendRecord(copy.data());
  EXPECT_EQ(cursor_->OpenBlobCount(), 0u);
  EXPECT_EQ(ReadNote(*cursor_, 1), note);
  EXPECT_EQ(ReadNote(*cursor_, 2), note);
  EXPECT_TRUE(CheckTableStructure(*cursor_->Table()).empty());
}

}  // namespace
}  // namespace tarn::cursor_testing
