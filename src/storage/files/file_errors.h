// Mapping of operating-system errors to engine codes, one table for the whole
// file layer.
#pragma once

#include "core/errors.h"

namespace tarn {

// The engine code for an errno value: not found -> TARN_OSENOENT, too many
// open files -> TARN_OSEMFILE, access or sharing refused -> TARN_OSEACCES,
// bad descriptor -> TARN_OSEBADF, no memory -> TARN_OSENOMEM, no device ->
// TARN_OSENODEV, other file system -> TARN_OSENOTSAM, name exists ->
// TARN_TABLEEXISTS, anything else -> TARN_OSUNKNOWN. 0 maps to 0.
TarnErrorCode OSLastNativeError(int osError) noexcept;

}  // namespace tarn
