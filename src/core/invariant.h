// TARN_ASSERT: checks an invariant of the engine's own state in builds without
// NDEBUG (the test build) and compiles to nothing otherwise. A broken invariant
// is a fault of the engine, never of its input (bad input raises an engine
// error), so it stops the process at once, naming the condition and its place.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tarn::detail {

[[noreturn]] inline void InvariantBroken(const char* condition, const char* file, int line) noexcept {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  std::fflush(stderr);
  std::abort();
}

}  // namespace tarn::detail

#ifdef NDEBUG
// The condition stays visible to the compiler (no unused warnings) but is not run.
#define TARN_ASSERT(condition) static_cast<void>(sizeof(static_cast<bool>(condition)))
#else
#define TARN_ASSERT(condition) \
  ((condition) ? static_cast<void>(0) : ::tarn::detail::InvariantBroken(#condition, __FILE__, __LINE__))
#endif
