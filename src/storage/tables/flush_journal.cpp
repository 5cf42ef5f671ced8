// The rollback journal of a table's flush: encoding, writing, and the recovery
// that rolls back a journal a dead writer left.
#include "storage/tables/flush_journal.h"

#include <cstring>
#include <random>

#include <zlib.h>

#include "core/errors.h"
#include "platform/file_system.h"

namespace tarn {
namespace {

constexpr char kMagic[8] = {'T', 'A', 'R', 'N', 'J', 'N', 'L', '1'};
constexpr std::size_t kFixedHeader = 46;  // magic, length, three sizes, region count, name length
constexpr std::size_t kRegionHeader = 13;  // file, position, length

// CRC-32 (IEEE), zlib's: fast enough to checksum every flush's journal.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint32_t>(::crc32(0L, bytes.data(), static_cast<uInt>(bytes.size())));
}

void Put(std::vector<std::uint8_t>& out, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t Get(std::span<const std::uint8_t> bytes, std::size_t at, int size) {
  std::uint64_t value = 0;
  for (int i = 0; i < size; ++i) value |= static_cast<std::uint64_t>(bytes[at + static_cast<std::size_t>(i)]) << (8 * i);
  return value;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

[[noreturn]] void RaiseFor(TarnErrorCode code, const std::string& path) { RaiseError(code, "", "", "", path); }

// Reads the whole journal; false when it cannot be read.
bool ReadJournal(const std::string& path, std::vector<std::uint8_t>& bytes) {
  TFileSystem& fs = CurrentFileSystem();
  TUniqueFd fd;
  if (fs.Open(path, false, fd) != 0) return false;
  std::int64_t size = 0;
  if (fs.Size(fd.Get(), size) != 0 || size < 0) return false;
  bytes.resize(static_cast<std::size_t>(size));
  const bool ok = size == 0 || fs.PRead(fd.Get(), bytes.data(), size, 0) == size;
  fs.Close(fd);
  return ok;
}

}  // namespace

std::vector<std::uint8_t> EncodeJournal(const TJournalImage& image) {
  std::size_t total = kFixedHeader + image.CommitRecord.size() + 4;
  for (const TJournalPart& part : image.Parts)
    for (const TJournalRegion& region : part.Regions) total += kRegionHeader + region.before.size();
  std::vector<std::uint8_t> out;
  out.reserve(total);
  out.assign(kMagic, kMagic + sizeof kMagic);
  Put(out, 0, 8);  // the length, filled in below
  std::uint32_t regions = 0;
  for (const TJournalPart& part : image.Parts) {
    Put(out, static_cast<std::uint64_t>(part.OriginalSize), 8);
    regions += static_cast<std::uint32_t>(part.Regions.size());
  }
  Put(out, regions, 4);
  Put(out, image.CommitRecord.size(), 2);
  out.insert(out.end(), image.CommitRecord.begin(), image.CommitRecord.end());
  for (std::size_t file = 0; file < image.Parts.size(); ++file) {
    for (const TJournalRegion& region : image.Parts[file].Regions) {
      Put(out, file, 1);
      Put(out, static_cast<std::uint64_t>(region.position), 8);
      Put(out, region.before.size(), 4);
      out.insert(out.end(), region.before.begin(), region.before.end());
    }
  }
  const std::uint64_t length = out.size() + 4;
  for (int i = 0; i < 8; ++i) out[8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (8 * i));
  Put(out, Crc32(out), 4);
  return out;
}

bool DecodeJournal(std::span<const std::uint8_t> file, TJournalImage& image) {
  if (file.size() < kFixedHeader + 4 || std::memcmp(file.data(), kMagic, sizeof kMagic) != 0) return false;
  // The journal file is reused: what lies past this journal's length is an
  // earlier, longer one's and does not count.
  const std::uint64_t length = Get(file, 8, 8);
  if (length < kFixedHeader + 4 || length > file.size()) return false;
  const std::span<const std::uint8_t> bytes = file.first(static_cast<std::size_t>(length));
  if (Get(bytes, bytes.size() - 4, 4) != Crc32(bytes.first(bytes.size() - 4))) return false;
  image = TJournalImage{};
  for (std::size_t file = 0; file < 3; ++file)
    image.Parts[file].OriginalSize = static_cast<std::int64_t>(Get(bytes, 16 + 8 * file, 8));
  const std::uint64_t regions = Get(bytes, 40, 4);
  const std::size_t nameLength = Get(bytes, 44, 2);
  const std::size_t end = bytes.size() - 4;
  std::size_t at = kFixedHeader;
  if (at + nameLength > end) return false;
  image.CommitRecord.assign(reinterpret_cast<const char*>(bytes.data() + at), nameLength);
  at += nameLength;
  for (std::uint64_t i = 0; i < regions; ++i) {
    if (at + kRegionHeader > end) return false;
    const std::size_t file = Get(bytes, at, 1);
    const auto position = static_cast<std::int64_t>(Get(bytes, at + 1, 8));
    const std::size_t length = Get(bytes, at + 9, 4);
    at += kRegionHeader;
    if (file > 2 || position < 0 || length > end - at) return false;
    image.Parts[file].Regions.push_back(
        TJournalRegion{position, std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                           bytes.begin() + static_cast<std::ptrdiff_t>(at + length))});
    at += length;
  }
  return at == end;
}

std::string JournalFileName(const std::string& dataFileName) {
  std::string name = dataFileName;
  if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".DAT") == 0) name.resize(name.size() - 4);
  return name + ".JNL";
}

bool JournalExists(const std::string& journalPath) {
  TFileSystem& fs = CurrentFileSystem();
  TOSFileAttributes attributes;
  if (fs.Attributes(journalPath, attributes) != 0 || !attributes.exists ||
      attributes.size < static_cast<std::int64_t>(kFixedHeader + 4))
    return false;
  TUniqueFd fd;
  if (fs.Open(journalPath, false, fd) != 0) return false;
  char magic[sizeof kMagic] = {};
  const bool active = fs.PRead(fd.Get(), magic, sizeof magic, 0) == static_cast<std::int64_t>(sizeof magic) &&
                      std::memcmp(magic, kMagic, sizeof kMagic) == 0;
  fs.Close(fd);
  return active;
}

namespace {

// Zeroes the journal's first bytes: it no longer counts. Answers 0 or errno.
int Deactivate(int fd, TFlushDurability durability) {
  static const std::uint8_t zeros[sizeof kMagic] = {};
  TFileSystem& fs = CurrentFileSystem();
  if (fs.PWrite(fd, zeros, sizeof zeros, 0) != static_cast<std::int64_t>(sizeof zeros)) return EIO;
  return durability == TFlushDurability::fdPowerLoss ? fs.Sync(fd) : 0;
}

int DeactivatePath(const std::string& path) {
  TFileSystem& fs = CurrentFileSystem();
  TUniqueFd fd;
  if (const int opened = fs.Open(path, true, fd); opened != 0) return opened == ENOENT ? 0 : opened;
  const int result = Deactivate(fd.Get(), TFlushDurability::fdPowerLoss);
  fs.Close(fd);
  return result;
}

}  // namespace

TJournalWriter::~TJournalWriter() { Abandon(); }

void TJournalWriter::Write(const TJournalImage& image) {
  if (!lockMap_.LockJournal(data_)) RaiseFor(TARN_LOCKTIMEOUT, path_);
  locked_ = true;
  const std::vector<std::uint8_t> bytes = EncodeJournal(image);
  const auto size = static_cast<std::int64_t>(bytes.size());
  TFileSystem& fs = CurrentFileSystem();
  bool ok = file_.Valid() || fs.Create(path_, false, file_) == 0;
  // One write: a journal cut short by a death fails its length or checksum.
  ok = ok && fs.PWrite(file_.Get(), bytes.data(), size, 0) == size;
  ok = ok && (durability_ != TFlushDurability::fdPowerLoss || fs.Sync(file_.Get()) == 0);
  if (!ok) {
    // Nothing of the table was written: the journal must not stay active.
    if (file_.Valid()) (void)Deactivate(file_.Get(), TFlushDurability::fdProcess);
    Abandon();
    RaiseFor(TARN_WRITEERR, path_);
  }
}

void TJournalWriter::Remove() {
  const int result = file_.Valid() ? Deactivate(file_.Get(), durability_) : 0;
  Abandon();
  if (result != 0) RaiseFor(TARN_WRITEERR, path_);
}

void TJournalWriter::Abandon() noexcept {
  if (!locked_) return;
  locked_ = false;
  (void)lockMap_.UnlockJournal(data_);
}

TCommitRecord::~TCommitRecord() {
  // A record whose commit never reached its point stays only while a journal
  // names it; one that was never removed is harmless otherwise (its name is new).
  if (!path_.empty()) (void)CurrentFileSystem().Delete(path_);
}

std::string TCommitRecord::Create(const std::vector<std::string>& journalPaths, TFlushDurability durability) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  const std::string directory = DirectoryOf(journalPaths.front());
  std::string text;
  for (const std::string& journal : journalPaths) text += journal.substr(DirectoryOf(journal).size()) + "\n";
  TFileSystem& fs = CurrentFileSystem();
  for (int attempt = 0; attempt < 16; ++attempt) {
    char hex[17];
    const std::uint64_t value = random();
    for (int i = 0; i < 16; ++i) hex[i] = "0123456789ABCDEF"[(value >> (4 * (15 - i))) & 0xFU];
    hex[16] = 0;
    const std::string name = std::string("COMMIT-") + hex + ".JNC";
    TUniqueFd fd;
    const int created = fs.Create(directory + name, true, fd);
    if (created == EEXIST) continue;
    if (created != 0) RaiseFor(TARN_WRITEERR, directory + name);
    path_ = directory + name;
    const auto size = static_cast<std::int64_t>(text.size());
    const bool ok = fs.PWrite(fd.Get(), text.data(), size, 0) == size &&
                    (durability != TFlushDurability::fdPowerLoss || fs.Sync(fd.Get()) == 0);
    fs.Close(fd);
    if (!ok) RaiseFor(TARN_WRITEERR, path_);
    return name;
  }
  RaiseFor(TARN_WRITEERR, directory);
}

void TCommitRecord::Remove() {
  if (path_.empty()) return;
  const int result = CurrentFileSystem().Delete(path_);
  if (result != 0 && result != ENOENT) RaiseFor(TARN_WRITEERR, path_);
  path_.clear();
}

namespace {

// After a journal of a commit was rolled back: the record goes once no journal it
// lists is left.
void DropCommitRecordWhenUnused(const std::string& recordPath) {
  std::vector<std::uint8_t> bytes;
  if (!ReadJournal(recordPath, bytes)) return;
  const std::string directory = DirectoryOf(recordPath);
  std::string name;
  for (std::uint8_t byte : bytes) {
    if (byte != '\n') {
      name.push_back(static_cast<char>(byte));
      continue;
    }
    if (!name.empty() && JournalExists(directory + name)) return;
    name.clear();
  }
  (void)CurrentFileSystem().Delete(recordPath);
}

}  // namespace

TRecovery RecoverFlushJournal(const std::string& journalPath, TJournalTargets targets, const TLockMap& lockMap) {
  if (targets.Data == nullptr || !targets.Data->IsOpen() || !JournalExists(journalPath)) return TRecovery::rcNone;
  // A live flush (or another session recovering) holds the byte: wait for it.
  if (!lockMap.LockJournal(*targets.Data)) return TRecovery::rcNone;
  struct TRelease {
    const TLockMap& map;
    TFileHandler& data;
    ~TRelease() { (void)map.UnlockJournal(data); }
  } release{lockMap, *targets.Data};
  std::vector<std::uint8_t> bytes;
  // Gone meanwhile: the flush finished, or another session recovered it.
  if (!JournalExists(journalPath) || !ReadJournal(journalPath, bytes)) return TRecovery::rcNone;
  TFileSystem& fs = CurrentFileSystem();
  TJournalImage image;
  bool live = DecodeJournal(bytes, image);
  // One table's share of a commit over several tables is live only while the
  // commit's record exists: once it is gone the commit was complete.
  if (live && !image.CommitRecord.empty()) live = fs.Exists(DirectoryOf(journalPath) + image.CommitRecord);
  if (!live) {
    if (DeactivatePath(journalPath) != 0) RaiseFor(TARN_WRITEERR, journalPath);
    return TRecovery::rcDiscarded;
  }
  TFileHandler* files[] = {targets.Data, targets.Index, targets.Blob};
  bool restored = true;
  for (std::size_t file = 0; file < 3; ++file) {
    const TJournalPart& part = image.Parts[file];
    if (part.OriginalSize < 0 && part.Regions.empty()) continue;
    if (files[file] == nullptr || !files[file]->IsOpen()) {
      restored = restored && part.Regions.empty();
      continue;
    }
    restored = files[file]->RestoreRegions(part.OriginalSize, part.Regions) && restored;
  }
  if (!restored) RaiseFor(TARN_WRITEERR, journalPath);
  // Recovery is rare: the restored files reach the disk before the journal goes.
  for (TFileHandler* file : files)
    if (file != nullptr && file->IsOpen()) file->Flush();
  if (DeactivatePath(journalPath) != 0) RaiseFor(TARN_WRITEERR, journalPath);
  if (!image.CommitRecord.empty()) DropCommitRecordWhenUnused(DirectoryOf(journalPath) + image.CommitRecord);
  return TRecovery::rcRolledBack;
}

}  // namespace tarn
