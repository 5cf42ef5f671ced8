// Two processes on one table: a child appends records while this process
// walks and counts with strict change detection. Every record read is whole
// (its fields agree with each other), counts never go back, and after the
// child has finished the next operation sees every record.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cursor/cursor_fixture.h"

namespace tarn::cursor_testing {
namespace {

constexpr int kInitial = 200;
constexpr int kAppended = 600;

Person Row(std::int32_t id) { return {id, "n" + std::to_string(id), id * 2, "city" + std::to_string(id % 5)}; }

// A record is whole when AMOUNT and NAME are those written with its ID.
bool Whole(const TDataCursor& cursor, const std::uint8_t* record) {
  bool isNull = false;
  std::uint8_t value[32] = {};
  cursor.GetField(kIdField, record, value, isNull);
  const std::int32_t id = LoadInt32(value);
  cursor.GetField(kAmountField, record, value, isNull);
  if (isNull || LoadInt32(value) != id * 2) return false;
  std::memset(value, 0, sizeof value);
  cursor.GetField(kNameField, record, value, isNull);
  return !isNull && std::string(reinterpret_cast<const char*>(value)) == "n" + std::to_string(id);
}

TEST(TwoProcessNavigation, AReaderSeesAppendsAfterItsNextOperationAndNeverATornRecord) {
  TempDirectory dir;
  CreateTable(dir.Path(), "people", PeopleDefinition());
  {
    SessionOn writer(dir.Path());
    TableWriter rows(writer.Open("people"));
    for (int i = 1; i <= kInitial; ++i) rows.Append(Row(i));
  }
  // The child is forked before this process opens the table: a child shares
  // the open files (and with them the byte-range locks) it inherits.
  int toParent[2];
  int toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(toParent[0]);
    close(toChild[1]);
    int status = 0;
    try {
      SessionOn writer(dir.Path());
      TableWriter rows(writer.Open("people"));
      char go = 0;
      if (read(toChild[0], &go, 1) != 1) _exit(3);
      for (int i = kInitial + 1; i <= kInitial + kAppended; ++i) rows.Append(Row(i));
    } catch (...) {
      status = 2;
    }
    const char done = status == 0 ? 'd' : 'f';
    if (write(toParent[1], &done, 1) != 1) _exit(4);
    _exit(status);
  }
  close(toParent[1]);
  close(toChild[0]);
  CursorSession reader(dir.Path(), /*strict=*/true);
  auto cursor = reader.Cursor("people");
  ASSERT_EQ(cursor->GetRecordCount(), kInitial);
  const char go = 'g';
  ASSERT_EQ(write(toChild[1], &go, 1), 1);

  // Walk and count while the child appends.
  std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
  std::int32_t lastCount = kInitial;
  bool torn = false;
  for (int round = 0; round < 30; ++round) {
    const std::int32_t count = cursor->GetRecordCount();
    cursor->SetToBegin();
    std::int32_t walked = 0;
    std::int32_t previous = 0;
    while (cursor->GetNextRecord(buffer.data()) == 0) {
      if (!Whole(*cursor, buffer.data())) torn = true;
      const std::int32_t id = IdOf(*cursor, buffer.data());
      EXPECT_GT(id, previous);
      previous = id;
      ++walked;
    }
    EXPECT_GE(walked, kInitial);
    EXPECT_GE(count, lastCount);
    lastCount = count;
    // A record in the middle by its number.
    cursor->SetToRecordNumber(kInitial / 2);
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
    EXPECT_EQ(IdOf(*cursor, buffer.data()), kInitial / 2);
  }
  EXPECT_FALSE(torn);

  char done = 0;
  ASSERT_EQ(read(toParent[0], &done, 1), 1);
  EXPECT_EQ(done, 'd');
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The next operation sees every appended record.
  cursor->SetToEnd();
  ASSERT_EQ(cursor->GetPriorRecord(buffer.data()), 0);
  EXPECT_EQ(IdOf(*cursor, buffer.data()), kInitial + kAppended);
  EXPECT_EQ(cursor->GetRecordCount(), kInitial + kAppended);
  EXPECT_EQ(WalkIds(*cursor).size(), static_cast<std::size_t>(kInitial + kAppended));
  close(toParent[0]);
  close(toChild[1]);
}

}  // namespace
}  // namespace tarn::cursor_testing
