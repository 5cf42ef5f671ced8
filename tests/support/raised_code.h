// The engine error code an operation raises: the one helper every suite uses
// to check that an operation fails with the code it must.
#pragma once

#include <utility>

#include "core/errors.h"

namespace tarn::test_support {

// The code of the ETarnEngineError the operation raises, or 0 when it raises
// nothing. Any other exception passes through and fails the test.
template <typename F>
TarnErrorCode RaisedCode(F&& operation) {
  try {
    std::forward<F>(operation)();
  } catch (const ETarnEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

}  // namespace tarn::test_support
