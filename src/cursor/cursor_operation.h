// TCursorOperation: the frame of every reading or moving cursor operation.
// It runs change detection at the start (taking the table read lock when the
// session detects changes strictly) and releases whatever table read lock the
// operation took, by itself or through a cache miss, at the end, also when
// the operation fails. A read lock held before the operation is left alone.
#pragma once

#include "cursor/data_cursor.h"

namespace tarn {

class TCursorOperation {
 public:
  explicit TCursorOperation(TDataCursor& cursor)
      : cursor_(cursor), held_(cursor.Table() == nullptr || cursor.Table()->InternalReadLocked()) {
    try {
      if (cursor_.Table() != nullptr) cursor_.CheckForChangeDetection();
    } catch (...) {
      Release();
      throw;
    }
  }
  ~TCursorOperation() { Release(); }
  TCursorOperation(const TCursorOperation&) = delete;
  TCursorOperation& operator=(const TCursorOperation&) = delete;

 private:
  void Release() noexcept {
    if (held_ || cursor_.Table() == nullptr || !cursor_.Table()->InternalReadLocked()) return;
    try {
      cursor_.ReadUnlockTable();
    } catch (...) {
      // An unlock the operating system refused leaves nothing to undo here.
    }
  }

  TDataCursor& cursor_;
  bool held_;
};

}  // namespace tarn
