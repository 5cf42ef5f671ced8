// The byte-range lock map: regions, in-process refusal of overlapping locks,
// retries with an injected waiter, reader tokens, and what another process
// sees through F_OFD_GETLK.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "file_test_support.h"
#include "platform/os_locks.h"
#include "storage/files/lock_map.h"
#include "storage/files/physical_file.h"

namespace tarn {
namespace {

using testing_support::MakeFile;
using testing_support::TScratchDir;

class TFakeWaiter : public TLockWaiter {
 public:
  void Wait(std::uint32_t milliseconds) override {
    waits.push_back(milliseconds);
    if (onWait) onWait(static_cast<int>(waits.size()));
  }
  std::vector<std::uint32_t> waits;
  std::function<void(int)> onWait;
};

class TFixedTokens : public TTokenSource {
 public:
  explicit TFixedTokens(std::vector<std::uint16_t> tokens) : tokens_(std::move(tokens)) {}
  std::uint16_t NextToken() override {
    const std::uint16_t t = tokens_[std::min(next_, tokens_.size() - 1)];
    ++next_;
    return t;
  }
  std::size_t Drawn() const { return next_; }

 private:
  std::vector<std::uint16_t> tokens_;
  std::size_t next_ = 0;
};

TEST(LockRegions, Offsets) {
  EXPECT_EQ(DataWriteLockOffset, 4294967295LL);
  EXPECT_EQ(RecordLockOffset(1), 4294967293LL);
  // The table lock covers exactly the record-lock bytes of records 1..200,000,001.
  EXPECT_EQ(TableLockOffset, RecordLockOffset(200000001));
  EXPECT_EQ(TableLockOffset + TableLockLength - 1, RecordLockOffset(1));
  EXPECT_EQ(SemaphoreLockOffset(1), 4094967291LL);
  EXPECT_LT(SemaphoreLockOffset(1), TableLockOffset);
  EXPECT_EQ(WriteLockOffset + WriteLockLength - 1, 4294967294LL);
  EXPECT_EQ(ReadTokenOffset(1), 4294967294LL);
  EXPECT_EQ(ReadTokenOffset(65535), WriteLockOffset + 1);
  EXPECT_LT(DataWriteLockOffset, ShareModeLockOffset);
}

struct TLockStep {
  bool lock;
  std::int64_t offset;
  std::int64_t length;
  bool expected;
};

class LockList : public ::testing::TestWithParam<bool> {
 protected:
  TScratchDir dir_;
};

// Windows LockFile semantics on both kinds of file.
TEST_P(LockList, OverlapsFailAndUnlocksMustNameAHeldRange) {
  const bool inMemory = GetParam();
  const std::string name = inMemory ? "LOCKS/list.DAT" : dir_ / "list.DAT";
  MakeFile(name, "data", inMemory);
  TFileHandler h;
  h.SetFileName(name);
  h.SetInMemory(inMemory);
  h.OpenFile();
  const TLockStep steps[] = {
      {true, 10, 10, true},     // 10..19
      {true, 15, 1, false},     // inside
      {true, 5, 6, false},      // overlaps the first byte
      {true, 19, 5, false},     // overlaps the last byte
      {true, 0, 100, false},    // covers it
      {true, 10, 10, false},    // the same range again
      {true, 20, 1, true},      // adjacent
      {true, 0, 0, false},      // length 0
      {true, -1, 1, false},     // negative offset
      {true, 30, -4, false},    // negative length
      {true, 0x7FFFFFFFFFFFFFFFLL, 2, false},  // past the largest offset
      {false, 10, 5, false},    // part of a held range
      {false, 12, 10, false},   // not a held range
      {false, 40, 1, false},    // never held
      {false, 10, 0, false},    // length 0
      {false, 10, 10, true},
      {false, 10, 10, false},   // already released
      {true, 15, 1, true},      // free again
      {true, 1LL << 40, 1, true},  // far beyond the end of the file
  };
  for (const auto& s : steps)
    EXPECT_EQ(h.LockRegion(s.lock, s.offset, s.length), s.expected) << s.lock << " " << s.offset << " " << s.length;
  EXPECT_EQ(h.File()->LockCount(), 3u);
  // Locks never include the share-mode byte of disk files.
  if (!inMemory) {
    EXPECT_FALSE(h.LockRegion(true, ShareModeLockOffset - 1, 2));
  }
  h.CloseFile();
  if (inMemory) {
    EXPECT_EQ(TFileList::Instance().DeleteFile(name, true), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(DiskAndMemory, LockList, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Memory" : "Disk"; });

class LockMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = dir_ / "table.DAT";
    MakeFile(name_, "header");
    for (TFileHandler* h : {&first_, &second_}) {
      h->SetFileName(name_);
      h->OpenFile();
    }
  }
  TScratchDir dir_;
  std::string name_;
  TFileHandler first_, second_;
  TFakeWaiter waiter_;
  TFixedTokens tokens_{{7}};
};

TEST_F(LockMapTest, SecondHandlerCannotTakeAHeldRecordAndRetriesAsConfigured) {
  TLockMap map(waiter_, tokens_);
  ASSERT_TRUE(map.LockRecord(first_, 42, {0, 0}));
  EXPECT_TRUE(waiter_.waits.empty());
  // Refused for the other handler of this process, and for the holder too.
  EXPECT_FALSE(map.LockRecord(second_, 42, {15, 100}));
  EXPECT_EQ(waiter_.waits, std::vector<std::uint32_t>(15, 100));
  waiter_.waits.clear();
  EXPECT_FALSE(map.LockRecord(first_, 42, {2, 7}));
  EXPECT_EQ(waiter_.waits, std::vector<std::uint32_t>(2, 7));
  // Other records are free.
  EXPECT_TRUE(map.LockRecord(second_, 43, {0, 0}));
  // Released during the third wait: the fourth attempt succeeds.
  waiter_.waits.clear();
  waiter_.onWait = [&](int n) {
    if (n == 3) {
      EXPECT_TRUE(map.UnlockRecord(first_, 42));
    }
  };
  EXPECT_TRUE(map.LockRecord(second_, 42, {15, 100}));
  EXPECT_EQ(waiter_.waits.size(), 3u);
  waiter_.onWait = nullptr;
  EXPECT_TRUE(map.UnlockRecord(second_, 42));
  EXPECT_FALSE(map.UnlockRecord(second_, 42));
  EXPECT_FALSE(map.LockRecord(first_, 0, {0, 0}));
  EXPECT_FALSE(map.UnlockRecord(first_, 0));
}

TEST_F(LockMapTest, TableLockAndRecordLocksExcludeEachOther) {
  TLockMap map(waiter_, tokens_);
  ASSERT_TRUE(map.LockRecord(first_, 200000001, {0, 0}));
  EXPECT_FALSE(map.LockTable(second_, {3, 50}));
  EXPECT_EQ(waiter_.waits.size(), 3u);
  ASSERT_TRUE(map.UnlockRecord(first_, 200000001));
  // Record 200,000,002 lies below the table range.
  ASSERT_TRUE(map.LockRecord(first_, 200000002, {0, 0}));
  ASSERT_TRUE(map.LockTable(second_, {0, 0}));
  for (std::uint32_t record : {1u, 2u, 100000000u, 200000001u}) EXPECT_FALSE(map.LockRecord(first_, record, {0, 0}));
  EXPECT_TRUE(map.LockSemaphore(first_, 1, {0, 0}));
  EXPECT_TRUE(map.LockDataWrite(first_));
  EXPECT_TRUE(map.UnlockTable(second_));
  EXPECT_FALSE(map.UnlockTable(second_));
  EXPECT_TRUE(map.LockRecord(first_, 1, {0, 0}));
}

TEST_F(LockMapTest, Semaphores) {
  TLockMap map(waiter_, tokens_);
  struct TCase {
    std::uint32_t semaphore;
    bool expected;
  };
  for (const TCase c : {TCase{0, false}, TCase{1025, false}, TCase{1024, true}, TCase{1, true}})
    EXPECT_EQ(map.LockSemaphore(first_, c.semaphore, {0, 0}), c.expected) << c.semaphore;
  EXPECT_FALSE(map.LockSemaphore(second_, 1024, {1, 1}));
  EXPECT_TRUE(map.UnlockSemaphore(first_, 1024));
  EXPECT_FALSE(map.UnlockSemaphore(first_, 1024));
  EXPECT_FALSE(map.UnlockSemaphore(first_, 0));
  EXPECT_TRUE(map.LockSemaphore(second_, 1024, {0, 0}));
}

TEST_F(LockMapTest, InternalLocksRetry16384TimesWith3msPauses) {
  TLockMap map(waiter_, tokens_);
  ASSERT_TRUE(map.LockDataWrite(first_));
  EXPECT_FALSE(map.LockDataWrite(second_));
  EXPECT_EQ(waiter_.waits.size(), 16384u);
  EXPECT_EQ(std::count(waiter_.waits.begin(), waiter_.waits.end(), 3u), 16384);
  EXPECT_TRUE(map.UnlockDataWrite(first_));
  EXPECT_TRUE(map.LockDataWrite(second_));
}

TEST_F(LockMapTest, ReaderTokensAndWriterRange) {
  TFixedTokens tokens({0, 5, 5, 0, 6, 9});
  TLockMap map(waiter_, tokens);
  std::uint16_t a = 0, b = 0;
  ASSERT_TRUE(map.LockRead(first_, a));
  EXPECT_EQ(a, 5);  // token 0 is never used
  // The same token drawn again is busy; the retry draws a new one.
  ASSERT_TRUE(map.LockRead(second_, b));
  EXPECT_EQ(b, 6);
  EXPECT_EQ(waiter_.waits, (std::vector<std::uint32_t>{3}));
  // A writer fails while readers hold bytes of its range, and blocks readers.
  waiter_.waits.clear();
  waiter_.onWait = [&](int n) {
    if (n == 2) {
      EXPECT_TRUE(map.UnlockRead(first_, a));
      EXPECT_TRUE(map.UnlockRead(second_, b));
    }
  };
  EXPECT_TRUE(map.LockWrite(first_));
  EXPECT_EQ(waiter_.waits.size(), 2u);
  waiter_.onWait = nullptr;
  waiter_.waits.clear();
  TFixedTokens many({9});
  TLockMap readers(waiter_, many);
  std::uint16_t c = 0;
  EXPECT_FALSE(readers.LockRead(second_, c));
  EXPECT_EQ(waiter_.waits.size(), 16384u);
  EXPECT_EQ(c, 0);
  EXPECT_TRUE(map.UnlockWrite(first_));
  EXPECT_TRUE(readers.LockRead(second_, c));
  EXPECT_EQ(c, 9);
  EXPECT_FALSE(map.UnlockRead(second_, 0));
}

TEST(ReadOnlyFiles, ReaderTokensWorkAndWriteLocksFailAtOnce) {
  TScratchDir dir;
  const std::string name = dir / "ro.IDX";
  MakeFile(name, "index");
  ASSERT_EQ(::chmod(name.c_str(), 0444), 0);
  TFileHandler h;
  h.SetFileName(name);
  h.OpenFile();
  ASSERT_TRUE(h.ReadOnlyMedia());
  TFakeWaiter waiter;
  TFixedTokens tokens({11});
  TLockMap map(waiter, tokens);
  std::uint16_t token = 0;
  EXPECT_TRUE(map.LockRead(h, token));
  EXPECT_TRUE(map.UnlockRead(h, token));
  // An exclusive lock needs write access: refused without any waiting.
  EXPECT_FALSE(map.LockWrite(h));
  EXPECT_TRUE(waiter.waits.empty());
  char buffer[5];
  EXPECT_EQ(h.Read(buffer, 5), 5);
}

TEST(DefaultTokens, AreInRange) {
  TTokenSource& tokens = DefaultTokenSource();
  for (int i = 0; i < 10000; ++i) EXPECT_NE(tokens.NextToken(), 0);
}

// What a second process sees with F_OFD_GETLK.
struct TExpectedLock {
  std::string file;
  std::int64_t offset;
  std::int64_t length;
  bool shared;
};

// Runs in a child process: opens each file anew and checks that exactly the
// expected ranges are held (and the bytes around them are free). Answers the
// list of mismatches, empty when everything matched.
std::string ProbeFromAnotherProcess(const std::vector<TExpectedLock>& expected) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    std::string report;
    for (const auto& e : expected) {
      const int fd = ::open(e.file.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        report += "open " + e.file + "\n";
        continue;
      }
      const std::string what = e.file + "@" + std::to_string(e.offset) + "+" + std::to_string(e.length);
      TOSLockProbe probe;
      if (!OSProbeRange(fd, e.offset, e.length, false, probe) || !probe.conflict) {
        report += "not held: " + what + "\n";
      } else if (probe.start != e.offset || probe.length != e.length || probe.conflictShared != e.shared) {
        report += "held differently: " + what + " seen " + std::to_string(probe.start) + "+" +
                  std::to_string(probe.length) + (probe.conflictShared ? " shared" : " exclusive") + "\n";
      }
      // Shared locks let other readers in.
      if (e.shared && (!OSProbeRange(fd, e.offset, e.length, true, probe) || probe.conflict))
        report += "shared lock excludes readers: " + what + "\n";
      for (std::int64_t outside : {e.offset - 1, e.offset + e.length}) {
        if (!OSProbeRange(fd, outside, 1, false, probe) || probe.conflict)
          report += "byte " + std::to_string(outside) + " held next to " + what + "\n";
      }
      ::close(fd);
    }
    (void)!::write(pipeFds[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string report;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) report += "child failed\n";
  return report;
}

TEST(LockMapBetweenProcesses, AnotherProcessSeesExactlyTheHeldRanges) {
  TScratchDir dir;
  const std::string data = dir / "orders.DAT", index = dir / "orders.IDX", blob = dir / "orders.BLB";
  for (const auto& n : {data, index, blob}) MakeFile(n, "contents");
  TFileHandler dataFile, indexFile, blobFile;
  dataFile.SetFileName(data);
  indexFile.SetFileName(index);
  blobFile.SetFileName(blob);
  for (TFileHandler* h : {&dataFile, &indexFile, &blobFile}) h->OpenFile();

  TFakeWaiter waiter;
  TFixedTokens tokens({777});
  TLockMap map(waiter, tokens);
  std::uint16_t token = 0;
  ASSERT_TRUE(map.LockRecord(dataFile, 5, {0, 0}));
  ASSERT_TRUE(map.LockSemaphore(dataFile, 3, {0, 0}));
  ASSERT_TRUE(map.LockDataWrite(dataFile));
  ASSERT_TRUE(map.LockRead(indexFile, token));
  ASSERT_EQ(token, 777);
  ASSERT_TRUE(map.LockWrite(blobFile));

  // Other opens and closes of the same files in this process keep the locks:
  // through the file list, and directly through the OS.
  {
    TFileHandler again;
    again.SetFileName(data);
    again.OpenFile();
    again.CloseFile();
    EXPECT_TRUE(again.Exists());
    const int fd = ::open(data.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }

  EXPECT_EQ(ProbeFromAnotherProcess({
                {data, RecordLockOffset(5), 1, false},
                {data, SemaphoreLockOffset(3), 1, false},
                {data, DataWriteLockOffset, 1, false},
                {index, ReadTokenOffset(777), 1, true},
                {blob, WriteLockOffset, WriteLockLength, false},
            }),
            "");

  // The table lock and the index write lock.
  ASSERT_TRUE(map.UnlockRecord(dataFile, 5));
  ASSERT_TRUE(map.LockTable(dataFile, {0, 0}));
  ASSERT_TRUE(map.UnlockRead(indexFile, token));
  ASSERT_TRUE(map.LockWrite(indexFile));
  EXPECT_EQ(ProbeFromAnotherProcess({
                {data, TableLockOffset, TableLockLength, false},
                {index, WriteLockOffset, WriteLockLength, false},
            }),
            "");

  // Released ranges are free for the other process.
  ASSERT_TRUE(map.UnlockTable(dataFile));
  ASSERT_TRUE(map.UnlockDataWrite(dataFile));
  const std::string stillHeld = ProbeFromAnotherProcess({{data, DataWriteLockOffset, 1, false}});
  EXPECT_NE(stillHeld.find("not held"), std::string::npos) << stillHeld;
}

}  // namespace
}  // namespace tarn
