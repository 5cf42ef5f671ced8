// Two processes change one table at once through cursors, under pessimistic
// and under optimistic locking: each appends its own records, deletes some of
// them, and adds one to AMOUNT of records of both processes. Afterwards every
// appended record that was not deleted is there once, every AMOUNT equals the
// number of increments both processes saw succeed (no update is lost), every
// failed change was refused with a conflict code, and the table's structure
// is sound.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>

#include "cursor/cursor_fixture.h"
#include "storage/tables/structure_check.h"

namespace tarn::cursor_testing {
namespace {

constexpr int kOperations = 300;
constexpr std::int32_t Base(int process) { return (process + 1) * 100000; }

// What one process did, as it saw its changes succeed.
struct Log {
  std::set<std::int32_t> Appended;
  std::set<std::int32_t> Deleted;
  std::map<std::int32_t, int> Increments;
  std::map<TarnErrorCode, int> Conflicts;
};

void WriteLog(const std::string& path, const Log& log) {
  std::ofstream out(path);
  for (std::int32_t id : log.Appended) out << "a " << id << "\n";
  for (std::int32_t id : log.Deleted) out << "d " << id << "\n";
  for (const auto& [id, n] : log.Increments) out << "i " << id << " " << n << "\n";
  for (const auto& [code, n] : log.Conflicts) out << "c " << code << " " << n << "\n";
}

Log ReadLog(const std::string& path) {
  Log log;
  std::ifstream in(path);
  char kind = 0;
  while (in >> kind) {
    std::int64_t a = 0, b = 0;
    in >> a;
    if (kind == 'i' || kind == 'c') in >> b;
    if (kind == 'a') log.Appended.insert(static_cast<std::int32_t>(a));
    if (kind == 'd') log.Deleted.insert(static_cast<std::int32_t>(a));
    if (kind == 'i') log.Increments[static_cast<std::int32_t>(a)] = static_cast<int>(b);
    if (kind == 'c') log.Conflicts[static_cast<TarnErrorCode>(a)] = static_cast<int>(b);
  }
  return log;
}

bool IsConflict(TarnErrorCode code) {
  return code == TARN_RECLOCKFAILED || code == TARN_KEYORRECDELETED || code == TARN_LOCKTIMEOUT;
}

// One process's stream of changes; answers its exit status.
int Changer(const std::string& path, int p, TLockProtocol protocol) {
  Log log;
  try {
    CursorSession session(path);
    session.session.session.SetLockProtocol(protocol);
    auto cursor = session.Cursor("shared");
    std::mt19937 random(static_cast<unsigned>(77 + p));
    std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
    std::int32_t next = Base(p);
    for (int i = 0; i < kOperations; ++i) {
      const unsigned op = random() % 10;
      if (op < 4 || cursor->GetRecordCount() == 0) {
        Person person;
        person.Id = ++next;
        person.Name = "p" + std::to_string(p);
        person.Amount = 0;
        std::vector<std::uint8_t> record = TableWriter(*cursor->Table()).Record(person);
        record.resize(buffer.size(), 0);
        cursor->AppendRecord(record.data());
        log.Appended.insert(person.Id);
        continue;
      }
      // A record of either process, by its number in the primary index.
      const std::int32_t count = cursor->GetRecordCount();
      cursor->SetToRecordNumber(static_cast<std::int32_t>(random() % static_cast<unsigned>(count)) + 1);
      if (cursor->GetCurrentRecord(buffer.data()) != 0) continue;
      const std::int32_t id = IdOf(*cursor, buffer.data());
      try {
        if (op < 6 && id / 100000 == p + 1 && log.Deleted.count(id) == 0) {
          cursor->DeleteRecord(buffer.data());
          log.Deleted.insert(id);
          continue;
        }
        if (protocol == lpPessimistic && cursor->GetCurrentRecord(buffer.data(), true) != 0) continue;
        bool isNull = false;
        std::uint8_t amount[4];
        cursor->GetField(kAmountField, buffer.data(), amount, isNull);
        StoreInt32(amount, LoadInt32(amount) + 1);
        cursor->PutField(kAmountField, buffer.data(), amount);
        cursor->ModifyRecord(buffer.data());
        ++log.Increments[id];
      } catch (const ETarnEngineError& error) {
        if (!IsConflict(error.ErrorCode())) throw;
        ++log.Conflicts[error.ErrorCode()];
        cursor->CancelRecord();
      }
    }
  } catch (const ETarnEngineError& error) {
    std::ofstream(path + "error" + std::to_string(p)) << error.ErrorCode() << " " << error.Message() << "\n";
    return 2;
  }
  WriteLog(path + "log" + std::to_string(p), log);
  return 0;
}

class TwoProcessChangesTest : public ::testing::TestWithParam<TLockProtocol> {};

TEST_P(TwoProcessChangesTest, NothingIsLostOrDuplicatedAndConflictsAreReported) {
  TempDirectory dir;
  CreateTable(dir.Path(), "shared", PeopleDefinition());
  // The children are forked before this process opens the table.
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    ASSERT_GE(children[p], 0);
    if (children[p] == 0) _exit(Changer(dir.Path(), p, GetParam()));
  }
  for (int p = 0; p < 2; ++p) {
    int status = 0;
    ASSERT_EQ(waitpid(children[p], &status, 0), children[p]);
    std::ifstream error(dir.Path() + "error" + std::to_string(p));
    std::string message((std::istreambuf_iterator<char>(error)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "process " << p << ": " << message;
  }
  const Log logs[2] = {ReadLog(dir.Path() + "log0"), ReadLog(dir.Path() + "log1")};
  std::set<std::int32_t> expected;
  for (const Log& log : logs) {
    for (std::int32_t id : log.Appended)
      if (log.Deleted.count(id) == 0) expected.insert(id);
  }
  CursorSession reader(dir.Path());
  auto cursor = reader.Cursor("shared");
  std::vector<std::int32_t> ids = WalkIds(*cursor);
  EXPECT_EQ(std::set<std::int32_t>(ids.begin(), ids.end()), expected);
  EXPECT_EQ(ids.size(), expected.size());
  // Every AMOUNT is the number of increments that succeeded on it.
  std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
  cursor->SetToBegin();
  int increments = 0;
  while (cursor->GetNextRecord(buffer.data()) == 0) {
    const std::int32_t id = IdOf(*cursor, buffer.data());
    bool isNull = false;
    std::uint8_t amount[4];
    cursor->GetField(kAmountField, buffer.data(), amount, isNull);
    int seen = 0;
    for (const Log& log : logs) {
      auto it = log.Increments.find(id);
      if (it != log.Increments.end()) seen += it->second;
    }
    EXPECT_EQ(LoadInt32(amount), seen) << id;
    increments += seen;
  }
  EXPECT_GT(increments, 0);
  const TFindings findings = CheckTableStructure(*cursor->Table());
  EXPECT_TRUE(findings.empty()) << (findings.empty() ? "" : findings.front());
}

INSTANTIATE_TEST_SUITE_P(Protocols, TwoProcessChangesTest, ::testing::Values(lpPessimistic, lpOptimistic),
                         [](const auto& info) { return info.param == lpPessimistic ? "Pessimistic" : "Optimistic"; });

}  // namespace
}  // namespace tarn::cursor_testing
