// The file layer reaches the OS only through the installed file system: a
// counting, fault-injecting one sees every write, read, flush and lock of a disk
// file, its faults come back as the file layer's errors, and a change journal
// undoes the writes it kept.
#include <gtest/gtest.h>

#include "storage/files/file_test_support.h"
#include "storage/files/lock_map.h"
#include "support/faulty_file_system.h"

namespace tarn {
namespace {

using testing::TCallKind;
using testing::TFault;
using testing_support::MakeFile;
using testing_support::RaisedCode;
using testing_support::ReadAll;
using testing_support::TScratchDir;

class FileSystemSeam : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeFile(dir_ / "a.dat", "0123456789");
    handler_.SetFileName(dir_ / "a.dat");
    handler_.OpenFile();
    faulty_.Reset();
  }
  void WriteAt(std::int64_t position, const std::string& bytes) {
    TFileHandlerLock lock(handler_);
    handler_.Seek(0, position);
    handler_.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  }

  TScratchDir dir_;
  testing::TFaultyFileSystem faulty_;
  TScopedFileSystem installed_{faulty_};
  TFileHandler handler_;
};

TEST_F(FileSystemSeam, EveryCallOfADiskFileGoesThroughTheInstalledFileSystem) {
  WriteAt(2, "ab");
  std::string bytes(4, '\0');
  handler_.Seek(0, 0);
  handler_.Read(bytes.data(), 4);
  handler_.Flush();
  EXPECT_TRUE(handler_.LockRegion(true, RecordLockOffset(1), 1));
  EXPECT_TRUE(handler_.LockRegion(false, RecordLockOffset(1), 1));
  EXPECT_EQ(bytes, "01ab");
  EXPECT_EQ(faulty_.Count(TCallKind::ckWrite), 1);
  EXPECT_EQ(faulty_.Count(TCallKind::ckRead), 1);
  EXPECT_EQ(faulty_.Count(TCallKind::ckFlush), 1);
  EXPECT_EQ(faulty_.Count(TCallKind::ckLock), 1);
}

TEST_F(FileSystemSeam, InjectedFaultsBecomeTheFileLayersErrors) {
  const struct {
    TCallKind Kind;
    TFault Fault;
    TarnErrorCode Code;  // 0: the call answers false instead of raising
  } cases[] = {
      {TCallKind::ckWrite, TFault::fkEIO, TARN_WRITEERR},
      {TCallKind::ckWrite, TFault::fkENOSPC, TARN_WRITEERR},
      {TCallKind::ckWrite, TFault::fkShortWrite, TARN_WRITEERR},
      {TCallKind::ckRead, TFault::fkEIO, TARN_READERR},
      {TCallKind::ckFlush, TFault::fkEIO, TARN_WRITEERR},
      {TCallKind::ckLock, TFault::fkRefuseLock, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::FaultName(c.Fault));
    faulty_.FailNth(c.Kind, 1, c.Fault);
    switch (c.Kind) {
      case TCallKind::ckWrite: EXPECT_EQ(RaisedCode([&] { WriteAt(0, "wxyz"); }), c.Code); break;
      case TCallKind::ckRead: {
        std::string bytes(4, '\0');
        handler_.Seek(0, 0);
        EXPECT_EQ(RaisedCode([&] { handler_.Read(bytes.data(), 4); }), c.Code);
        break;
      }
      case TCallKind::ckFlush: EXPECT_EQ(RaisedCode([&] { handler_.Flush(); }), c.Code); break;
      case TCallKind::ckLock: EXPECT_FALSE(handler_.LockRegion(true, RecordLockOffset(1), 1)); break;
    }
    EXPECT_TRUE(faulty_.Fired());
    // The next call of the kind passes again.
    EXPECT_TRUE(handler_.LockRegion(true, RecordLockOffset(2), 1));
    EXPECT_TRUE(handler_.LockRegion(false, RecordLockOffset(2), 1));
  }
  // The short write stored half of its bytes.
  faulty_.Reset();
  EXPECT_EQ(ReadAll(dir_ / "a.dat").substr(0, 4), "wx23");
}

TEST_F(FileSystemSeam, JournalUndoesOverwritesAndAppendsOfAFailedChange) {
  handler_.BeginJournal();
  WriteAt(3, "abc");
  WriteAt(8, "XYZW");  // overwrites two bytes and appends two
  faulty_.FailNth(TCallKind::ckWrite, 1, TFault::fkShortWrite);
  EXPECT_EQ(RaisedCode([&] { WriteAt(0, "!!!!"); }), TARN_WRITEERR);
  faulty_.Reset();
  EXPECT_TRUE(handler_.RollbackJournal());
  EXPECT_EQ(ReadAll(dir_ / "a.dat"), "0123456789");
  // After EndJournal the writes stay.
  handler_.BeginJournal();
  WriteAt(0, "ab");
  handler_.EndJournal();
  EXPECT_TRUE(handler_.RollbackJournal());
  EXPECT_EQ(ReadAll(dir_ / "a.dat"), "ab23456789");
}

}  // namespace
}  // namespace tarn
