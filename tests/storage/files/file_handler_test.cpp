// File handlers on disk and memory files: sharing through the file list,
// exclusive use, reads, writes, truncation, seeks, positions per handle.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "file_test_support.h"
#include "platform/os_file.h"
#include "storage/files/file_errors.h"
#include "storage/files/file_list.h"
#include "storage/files/memory_file.h"
#include "storage/files/physical_file.h"

namespace tarn {
namespace {

using testing_support::MakeFile;
using testing_support::RaisedCode;
using testing_support::ReadAll;
using testing_support::TScratchDir;

class FileKinds : public ::testing::TestWithParam<bool> {
 protected:
  bool InMemory() const { return GetParam(); }
  std::string Name(const std::string& bare) const { return InMemory() ? "MEM/" + bare : dir_ / bare; }
  void SetUp() override { ASSERT_FALSE(dir_.Path().empty()); }
  void TearDown() override {
    for (const auto& n : created_) (void)TFileList::Instance().DeleteFile(n, InMemory());
  }
  std::string Made(const std::string& bare, const std::string& bytes) {
    const std::string name = Name(bare);
    MakeFile(name, bytes, InMemory());
    created_.push_back(name);
    return name;
  }
  void Open(TFileHandler& h, const std::string& name, bool exclusive = false) {
    h.SetFileName(name);
    h.SetInMemory(InMemory());
    h.SetExclusive(exclusive);
    h.OpenFile();
  }

  TScratchDir dir_;
  std::vector<std::string> created_;
};

INSTANTIATE_TEST_SUITE_P(DiskAndMemory, FileKinds, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Memory" : "Disk"; });

TEST_P(FileKinds, TwoHandlersShareOneFileObject) {
  const std::string name = Made("share.DAT", "0123456789");
  TFileHandler a, b;
  Open(a, name);
  Open(b, name);
  ASSERT_NE(a.File(), nullptr);
  EXPECT_EQ(a.File(), b.File());
  EXPECT_NE(a.Handle(), b.Handle());
  EXPECT_EQ(a.File()->OpenCount(), 2);
  if (!InMemory()) {
    const int fd = static_cast<TPhysicalFile*>(a.File())->Descriptor();
    EXPECT_GE(fd, 0);
    a.CloseFile();
    // The OS file stays open for the second handler.
    EXPECT_EQ(static_cast<TPhysicalFile*>(b.File())->Descriptor(), fd);
  } else {
    a.CloseFile();
  }
  char buffer[4] = {};
  b.Seek(0, 6);
  EXPECT_EQ(b.Read(buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  TAbstractFile* object = b.File();
  b.CloseFile();
  // A disk object leaves the list with its last handle; a memory file stays.
  TFileList& list = TFileList::Instance();
  list.LockFileList();
  bool open = false, media = false;
  TAbstractFile* again = nullptr;
  const auto handle = list.OpenFile(name, {.InMemory = InMemory()}, open, media, again);
  ASSERT_GT(handle, 0);
  if (InMemory()) {
    EXPECT_EQ(again, object);
  }
  EXPECT_EQ(list.CloseFile(again, InMemory(), handle), 0);
  list.UnlockFileList();
}

struct TExclusiveCase {
  bool firstExclusive;
  bool secondExclusive;
  TarnErrorCode expected;
};

class ExclusiveUse : public FileKinds {};

TEST_P(ExclusiveUse, ExclusiveRequestsAreRefusedWhileTheNameIsInUse) {
  const TExclusiveCase cases[] = {
      {false, false, 0}, {true, false, TARN_OSEACCES}, {false, true, TARN_OSEACCES}, {true, true, TARN_OSEACCES}};
  const std::string name = Made("excl.DAT", "x");
  for (const auto& c : cases) {
    TFileHandler first, second;
    Open(first, name, c.firstExclusive);
    second.SetFileName(name);
    second.SetInMemory(InMemory());
    second.SetExclusive(c.secondExclusive);
    const auto code = RaisedCode([&] { second.OpenFile(); });
    EXPECT_EQ(code, c.expected) << c.firstExclusive << c.secondExclusive;
    EXPECT_EQ(second.IsOpen(), c.expected == 0);
    // Creating, deleting or renaming a name in use is refused as well.
    EXPECT_EQ(TFileList::Instance().DeleteFile(name, InMemory()), -TARN_OSEACCES);
    EXPECT_EQ(TFileList::Instance().RenameFile(name, InMemory(), Name("other.DAT")), -TARN_OSEACCES);
    TAbstractFile* f = nullptr;
    EXPECT_EQ(TFileList::Instance().CreateFile(name, {.InMemory = InMemory()}, f), -TARN_OSEACCES);
  }
}

INSTANTIATE_TEST_SUITE_P(DiskAndMemory, ExclusiveUse, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Memory" : "Disk"; });

TEST_P(FileKinds, MissingFileRaisesOSENOENTWithTheFileName) {
  TFileHandler h;
  h.SetFileName(Name("missing.DAT"));
  h.SetInMemory(InMemory());
  try {
    h.OpenFile();
    FAIL();
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_OSENOENT);
    EXPECT_EQ(e.ErrorTableName(), Name("missing.DAT"));
  }
  EXPECT_FALSE(h.IsOpen());
}

TEST_P(FileKinds, ZeroByteWriteTruncatesAtThePosition) {
  const std::string name = Made("trunc.DAT", "abcdefgh");
  TFileHandler h;
  Open(h, name);
  h.Seek(0, 3);
  h.Write(nullptr, 0);
  EXPECT_EQ(h.GetSize(), 3);
  // Extending with a zero-byte write beyond the end gives zero bytes.
  h.Seek(0, 6);
  h.Write(nullptr, 0);
  h.Seek(0, 0);
  char buffer[6];
  ASSERT_EQ(h.Read(buffer, 6), 6);
  EXPECT_EQ(std::string(buffer, 6), std::string("abc\0\0\0", 6));
}

TEST_P(FileKinds, ReadsPastTheEndAreShort) {
  const std::string name = Made("short.DAT", "abc");
  TFileHandler h;
  Open(h, name);
  char buffer[8] = {};
  h.Seek(0, 1);
  EXPECT_EQ(h.Read(buffer, 8, true), 2);
  EXPECT_EQ(h.Read(buffer, 8, true), 0);
  h.Seek(0, 100);
  EXPECT_EQ(h.Read(buffer, 8, true), 0);
  EXPECT_EQ(RaisedCode([&] { h.Read(buffer, 1); }), TARN_READERR);
  // A negative position reads nothing.
  h.Seek(0, -5);
  EXPECT_EQ(h.Read(buffer, 1, true), 0);
}

TEST_P(FileKinds, WritesAtANegativePositionFailAndChangeNothing) {
  const std::string name = Made("neg.DAT", "abc");
  {
    TFileHandler h;
    Open(h, name);
    EXPECT_EQ(h.Seek(0, -1), -1);
    EXPECT_EQ(RaisedCode([&] { h.Write("zz", 2); }), TARN_WRITEERR);
    EXPECT_EQ(RaisedCode([&] { h.Write(nullptr, 0); }), TARN_WRITEERR);
    EXPECT_EQ(RaisedCode([&] { h.Write("zz", -2); }), TARN_WRITEERR);
  }
  EXPECT_EQ(ReadAll(name, InMemory()), "abc");
}

struct TSeekCase {
  int origin;
  std::int64_t offset;
  std::int64_t expected;
};

TEST_P(FileKinds, SeekOrigins) {
  const std::string name = Made("seek.DAT", std::string(100, 'q'));
  TFileHandler h;
  Open(h, name);
  const TSeekCase cases[] = {{0, 10, 10}, {1, 5, 15}, {1, -15, 0}, {2, 0, 100}, {2, -20, 80}, {1, 1, 81}, {0, 0, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(h.Seek(c.origin, c.offset), c.expected) << c.origin << " " << c.offset;
    EXPECT_EQ(h.GetPos(), c.expected);
  }
  EXPECT_EQ(RaisedCode([&] { h.Seek(3, 0); }), TARN_OSUNKNOWN);
  TFileHandler closed;
  EXPECT_EQ(closed.Seek(0, 10), 0);
}

TEST_P(FileKinds, PositionsArePerHandle) {
  const std::string name = Made("pos.DAT", "0123456789");
  TFileHandler a, b;
  Open(a, name);
  Open(b, name);
  a.Seek(0, 2);
  b.Seek(0, 7);
  char ca, cb;
  a.Read(&ca, 1);
  b.Read(&cb, 1);
  EXPECT_EQ(ca, '2');
  EXPECT_EQ(cb, '7');
  EXPECT_EQ(a.GetPos(), 3);
  EXPECT_EQ(b.GetPos(), 8);
}

TEST_P(FileKinds, CreateEmptiesAndHoldsExclusively) {
  const std::string name = Made("create.DAT", "old contents");
  TFileHandler h;
  h.SetFileName(name);
  h.SetInMemory(InMemory());
  h.CreateFile();
  EXPECT_EQ(h.GetSize(), 0);
  EXPECT_TRUE(h.File()->Exclusive());
  TFileHandler other;
  other.SetFileName(name);
  other.SetInMemory(InMemory());
  EXPECT_EQ(RaisedCode([&] { other.OpenFile(); }), TARN_OSEACCES);
}

TEST_P(FileKinds, DeleteAndRename) {
  const std::string name = Made("del.DAT", "abc");
  const std::string other = Made("keep.DAT", "keep");
  TFileHandler h;
  h.SetFileName(name);
  h.SetInMemory(InMemory());
  // Renaming onto an existing name never replaces it.
  EXPECT_EQ(RaisedCode([&] { h.RenameFile(other); }), TARN_TABLEEXISTS);
  EXPECT_EQ(ReadAll(other, InMemory()), "keep");
  EXPECT_EQ(ReadAll(name, InMemory()), "abc");
  const std::string renamed = Name("renamed.DAT");
  created_.push_back(renamed);
  h.RenameFile(renamed);
  EXPECT_EQ(h.FileName(), renamed);
  EXPECT_FALSE(TFileList::Instance().FileExists(name, InMemory()));
  EXPECT_EQ(ReadAll(renamed, InMemory()), "abc");
  h.DeleteFile();
  EXPECT_FALSE(h.Exists());
  EXPECT_EQ(RaisedCode([&] { h.DeleteFile(); }), TARN_OSENOENT);
  EXPECT_EQ(RaisedCode([&] { h.RenameFile(Name("x.DAT")); }), TARN_OSENOENT);
}

TEST_P(FileKinds, CopyToAndFromFileWithProgress) {
  std::string bytes(200000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 300);
  const std::string name = Made("copy.DAT", bytes);
  const std::string backup = Name("copy.IBK");
  created_.push_back(backup);
  TFileHandler h;
  Open(h, name);
  std::vector<int> reports;
  h.CopyToFile(backup, InMemory(), 25, [&](int p) { reports.push_back(p); });
  EXPECT_EQ(ReadAll(backup, InMemory()), bytes);
  // 65536-byte chunks of 200000 bytes: 32%, 65%, 98%, 100%.
  EXPECT_EQ(reports, (std::vector<int>{32, 65, 98}));
  // Copying back replaces the contents and cuts the file to the copied length.
  h.Seek(0, 0);
  h.Write(std::string(300000, 'z').data(), 300000);
  reports.clear();
  h.CopyFromFile(backup, InMemory(), 1, [&](int p) { reports.push_back(p); });
  EXPECT_EQ(reports, (std::vector<int>{32, 65, 98, 100}));
  EXPECT_EQ(h.GetSize(), 200000);
  h.CloseFile();
  EXPECT_EQ(ReadAll(name, InMemory()), bytes);
  EXPECT_EQ(RaisedCode([&] { h.CopyToFile(backup, InMemory()); }), TARN_OSEBADF);
}

TEST(MemoryFiles, NonTemporaryKeepsItsContentsTemporaryDisappears) {
  MakeFile("MEM/keep.DAT", "kept", true);
  EXPECT_TRUE(TFileList::Instance().FileExists("mem/KEEP.dat", true));
  EXPECT_EQ(ReadAll("MEM/keep.DAT", true), "kept");
  EXPECT_EQ(TFileList::Instance().DeleteFile("MEM/keep.DAT", true), 0);
  EXPECT_FALSE(TFileList::Instance().FileExists("MEM/keep.DAT", true));

  TFileHandler temp;
  temp.SetFileName("MEM/temp.DAT");
  temp.SetInMemory(true);
  temp.SetTemporary(true);
  temp.CreateFile();
  temp.Write("t", 1);
  EXPECT_TRUE(temp.Exists());
  temp.CloseFile();
  EXPECT_FALSE(temp.Exists());
  EXPECT_EQ(TFileList::Instance().FileExists("MEM/none.DAT", false), false);
}

TEST(MemoryFiles, BufferGrowsIn4096ByteSteps) {
  TFileHandler h;
  h.SetFileName("MEM/grow.DAT");
  h.SetInMemory(true);
  h.SetTemporary(true);
  h.CreateFile();
  auto* file = static_cast<TMemoryFile*>(h.File());
  EXPECT_EQ(file->Capacity(), 0);
  h.Write("a", 1);
  EXPECT_EQ(file->Capacity(), 4096);
  h.Seek(0, 4096);
  h.Write("b", 1);
  EXPECT_EQ(file->Capacity(), 8192);
  h.Seek(0, 1);
  h.Write(nullptr, 0);
  EXPECT_EQ(h.GetSize(), 1);
  EXPECT_EQ(file->Capacity(), 8192);
}

class DiskFiles : public ::testing::Test {
 protected:
  TScratchDir dir_;
};

TEST_F(DiskFiles, ReadOnlyFileOpensReadOnly) {
  const std::string name = dir_ / "ro.DAT";
  MakeFile(name, "read me");
  ASSERT_EQ(::chmod(name.c_str(), 0444), 0);
  TFileHandler h;
  h.SetFileName(name);
  h.OpenFile();
  EXPECT_TRUE(h.OpenedReadOnly());
  EXPECT_TRUE(h.ReadOnlyMedia());
  char buffer[7];
  EXPECT_EQ(h.Read(buffer, 7), 7);
  EXPECT_EQ(std::string(buffer, 7), "read me");
  EXPECT_EQ(RaisedCode([&] { h.Write("x", 1); }), TARN_WRITEERR);
  EXPECT_NO_THROW(h.Flush());
  h.CloseFile();
  // A read-only file is not deleted.
  EXPECT_EQ(RaisedCode([&] { h.DeleteFile(); }), TARN_OSEACCES);
  EXPECT_TRUE(h.Exists());
}

TEST_F(DiskFiles, NamesResolveWithoutRegardToCase) {
  MakeFile(dir_ / "Customer.DAT", "cust");
  EXPECT_TRUE(TFileList::Instance().FileExists(dir_ / "CUSTOMER.dat", false));
  EXPECT_EQ(ReadAll(dir_ / "customer.Dat"), "cust");
  {
    TFileHandler a, b;
    a.SetFileName(dir_ / "customer.dat");
    b.SetFileName(dir_ / "CUSTOMER.DAT");
    a.OpenFile();
    b.OpenFile();
    EXPECT_EQ(a.File(), b.File());
  }
  // Creating under another case reaches the existing file.
  MakeFile(dir_ / "CUSTOMER.DAT", "again");
  EXPECT_EQ(ReadAll(dir_ / "Customer.DAT"), "again");
  // Two files whose names differ only in case make other spellings ambiguous:
  // then only the exact names are found.
  for (const char* twin : {"twin.dat", "TWIN.DAT"}) {
    TUniqueFd fd;
    ASSERT_EQ(OSFileCreate(dir_ / twin, true, fd), 0);
    const std::string bytes = twin[0] == 't' ? "lower" : "upper";
    ASSERT_EQ(OSFileWrite(fd.Get(), bytes.data(), 5, 0), 5);
  }
  EXPECT_EQ(ReadAll(dir_ / "twin.dat"), "lower");
  EXPECT_EQ(ReadAll(dir_ / "TWIN.DAT"), "upper");
  EXPECT_FALSE(TFileList::Instance().FileExists(dir_ / "Twin.Dat", false));
}

TEST_F(DiskFiles, BackslashesAndBlanksInNames) {
  MakeFile(dir_ / "slash.DAT", "s");
  std::string windowsName = "  " + dir_.Path() + "slash.DAT ";
  for (auto& c : windowsName)
    if (c == '/') c = '\\';
  EXPECT_EQ(ReadAll(windowsName), "s");
}

TEST_F(DiskFiles, DirectoriesAreNotFiles) {
  ASSERT_EQ(::mkdir((dir_ / "sub.DAT").c_str(), 0700), 0);
  EXPECT_FALSE(TFileList::Instance().FileExists(dir_ / "sub.DAT", false));
  TFileHandler h;
  h.SetFileName(dir_ / "sub.DAT");
  EXPECT_EQ(RaisedCode([&] { h.OpenFile(); }), TARN_OSENOENT);
  EXPECT_EQ(RaisedCode([&] { h.DeleteFile(); }), TARN_OSEACCES);
}

TEST_F(DiskFiles, GetFileNames) {
  MakeFile(dir_ / "alpha.DAT", "a");
  MakeFile(dir_ / "beta.dat", "b");
  MakeFile(dir_ / "gamma.IDX", "g");
  ASSERT_EQ(::mkdir((dir_ / "dir.DAT").c_str(), 0700), 0);
  std::vector<std::string> names;
  ASSERT_EQ(TFileList::Instance().GetFileNames(false, dir_ / "*.DAT", true, names), 0);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"alpha.DAT", "beta.dat"}));
  ASSERT_EQ(TFileList::Instance().GetFileNames(false, dir_ / "?amma.*", false, names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"gamma"}));

  MakeFile("LIST/one.DAT", "1", true);
  MakeFile("LIST/two.IDX", "2", true);
  MakeFile("OTHER/three.DAT", "3", true);
  ASSERT_EQ(TFileList::Instance().GetFileNames(true, "list\\*.dat", false, names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"one"}));
  for (const char* n : {"LIST/one.DAT", "LIST/two.IDX", "OTHER/three.DAT"})
    EXPECT_EQ(TFileList::Instance().DeleteFile(n, true), 0);
}

TEST_F(DiskFiles, TemporaryOpenIsDeletedAtLastClose) {
  const std::string name = dir_ / "gone.DAT";
  MakeFile(name, "tmp");
  TFileHandler h;
  h.SetFileName(name);
  h.SetTemporary(true);
  h.OpenFile();
  EXPECT_TRUE(OSFileExists(name));
  h.CloseFile();
  EXPECT_FALSE(OSFileExists(name));
}

// Another process sees the share modes: an exclusive holder keeps everyone
// out, a shared holder keeps exclusive openers out and forbids shortening.
TEST_F(DiskFiles, ShareModesBetweenProcesses) {
  const std::string name = dir_ / "shared.DAT";
  MakeFile(name, "0123456789");
  auto childOpen = [&](bool exclusive, bool truncate) -> int {
    const pid_t pid = ::fork();
    if (pid == 0) {
      // The child starts without the parent's file objects (and descriptors).
      TFileList::Instance().Clear();
      int code = 0;
      try {
        TFileHandler h;
        h.SetFileName(name);
        h.SetExclusive(exclusive);
        h.OpenFile();
        if (truncate) {
          h.Seek(0, 2);
          h.Write(nullptr, 0);
        }
      } catch (const ETarnEngineError& e) {
        code = e.ErrorCode() == TARN_OSEACCES ? 1 : e.ErrorCode() == TARN_WRITEERR ? 2 : 3;
      }
      ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
  };
  {
    TFileHandler holder;
    holder.SetFileName(name);
    holder.OpenFile();
    EXPECT_EQ(childOpen(false, false), 0);
    EXPECT_EQ(childOpen(true, false), 1);
    EXPECT_EQ(childOpen(false, true), 2);  // shortening refused while shared
    // With no other process holding the file, this process may shorten it.
    holder.Seek(0, 8);
    holder.Write(nullptr, 0);
    EXPECT_EQ(holder.GetSize(), 8);
  }
  {
    TFileHandler holder;
    holder.SetFileName(name);
    holder.SetExclusive(true);
    holder.OpenFile();
    EXPECT_EQ(childOpen(false, false), 1);
    EXPECT_EQ(childOpen(true, false), 1);
  }
  EXPECT_EQ(childOpen(true, false), 0);
}

TEST(OSErrorMapping, OneTable) {
  struct TCase {
    int osError;
    TarnErrorCode code;
  };
  const TCase cases[] = {{0, 0},
                         {ENOENT, TARN_OSENOENT},
                         {ENOTDIR, TARN_OSENOENT},
                         {EMFILE, TARN_OSEMFILE},
                         {ENFILE, TARN_OSEMFILE},
                         {EACCES, TARN_OSEACCES},
                         {EPERM, TARN_OSEACCES},
                         {EROFS, TARN_OSEACCES},
                         {EBADF, TARN_OSEBADF},
                         {ENOMEM, TARN_OSENOMEM},
                         {ENODEV, TARN_OSENODEV},
                         {EXDEV, TARN_OSENOTSAM},
                         {EEXIST, TARN_TABLEEXISTS},
                         {EIO, TARN_OSUNKNOWN},
                         {ENOSPC, TARN_OSUNKNOWN}};
  for (const auto& c : cases) EXPECT_EQ(OSLastNativeError(c.osError), c.code) << c.osError;
}

}  // namespace
}  // namespace tarn
