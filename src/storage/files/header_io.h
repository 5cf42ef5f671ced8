// The header of a table file: kept in memory by its file handler, stored as a
// fixed-size image at offset 0 and always read and written whole under the file
// section. One piece for the data, index and BLOB files: reading, writing with a
// new update stamp (which publishes the changes to other sessions and processes),
// advancing the stamp without a write, and detecting a stamp changed elsewhere.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "storage/files/file_handler.h"
#include "storage/files/table_link.h"

namespace tarn {

// TCodec describes one header format:
//   using THeader = ...;                    // has LastUpdateStamp and HeaderChanged
//   static constexpr std::size_t Size;      // bytes of the stored image
//   THeader Decode(std::span<const std::uint8_t, Size> image) const;
//   std::array<std::uint8_t, Size> Encode(const THeader& header) const;
//   void AdvanceStamp(THeader& header) const;   // the next update stamp
//   void PrepareWrite(THeader& header) const;   // the next stamp and what every write sets
//   std::int32_t DecodeStamp(std::array<std::uint8_t, 4> stored) const;  // the stamp from the image's first 4 bytes
// The codec carries whatever the format needs (whether the table is scrambled).
template <class TCodec>
class THeaderIO {
 public:
  using THeader = typename TCodec::THeader;

  THeaderIO(TFileHandler& file, TTableLink* link, const TCodec& codec) : file_(file), link_(link), codec_(codec) {}

  // The header as stored; its changed flag is clear.
  THeader Read() const {
    std::array<std::uint8_t, TCodec::Size> image{};
    {
      TFileHandlerLock section(file_);
      file_.Seek(0, 0);
      file_.Read(image.data(), static_cast<std::int64_t>(image.size()));
    }
    return codec_.Decode(std::span<const std::uint8_t, TCodec::Size>(image));
  }

  // Writes the header when forced or changed, with the next update stamp; the
  // table is marked changed and the changed flag cleared. True when written.
  bool Write(THeader& header, bool force) const {
    if (!force && header.HeaderChanged == 0) return false;
    codec_.PrepareWrite(header);
    const std::array<std::uint8_t, TCodec::Size> image = codec_.Encode(header);
    {
      TFileHandlerLock section(file_);
      file_.Seek(0, 0);
      file_.Write(image.data(), static_cast<std::int64_t>(image.size()));
    }
    MarkTableChanged();
    header.HeaderChanged = 0;
    return true;
  }

  // The update stamp as stored: the first four bytes of the image alone, so
  // that change detection reads the whole header only when it changed.
  std::int32_t ReadStoredStamp() const {
    std::array<std::uint8_t, 4> stored{};
    {
      TFileHandlerLock section(file_);
      file_.Seek(0, 0);
      file_.Read(stored.data(), static_cast<std::int64_t>(stored.size()));
    }
    return codec_.DecodeStamp(stored);
  }

  // Advances the stamp in memory; the next write stores it.
  void UpdateStamp(THeader& header) const {
    codec_.AdvanceStamp(header);
    header.HeaderChanged = 1;
    MarkTableChanged();
  }

 private:
  void MarkTableChanged() const {
    if (link_ != nullptr) link_->MarkTableChanged();
  }

  TFileHandler& file_;
  TTableLink* link_;
  TCodec codec_;
};

// Re-reads a header through reread (which may do more than read it) and answers
// whether its update stamp differs from the one held before: a change made
// elsewhere.
template <class THeader, class TReread>
bool RereadShowsNewStamp(const THeader& header, TReread&& reread) {
  const auto stamp = header.LastUpdateStamp;
  reread();
  return header.LastUpdateStamp != stamp;
}

// The same, reading the whole header only when the stored stamp (storedStamp)
// differs from the one held: an unchanged stamp means the header is as held,
// since every header write advances it.
template <class THeader, class TStoredStamp, class TReread>
bool StoredStampShowsChange(const THeader& header, TStoredStamp&& storedStamp, TReread&& reread) {
  if (storedStamp() == header.LastUpdateStamp) return false;
  return RereadShowsNewStamp(header, std::forward<TReread>(reread));
}

}  // namespace tarn
