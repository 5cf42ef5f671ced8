// Raising the process's open-descriptor limit (RLIMIT_NOFILE) for many connections.
#pragma once

#include <cstdint>

namespace dovecrest {

struct DescriptorLimit {
  uint64_t soft = 0;  // in force after raising
  uint64_t hard = 0;
};

// Raises the soft limit to the hard limit (or to `wanted` when the hard limit is
// unlimited) and answers the limits in force.
DescriptorLimit RaiseDescriptorLimit(uint64_t wanted);

}  // namespace dovecrest
