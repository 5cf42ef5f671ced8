// RLIMIT_NOFILE raising for dovecrestd.
#include "host/descriptor_limit.h"

#include <sys/resource.h>

#include <algorithm>

namespace dovecrest {

DescriptorLimit RaiseDescriptorLimit(uint64_t wanted) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return {};
  rlim_t target = limit.rlim_max == RLIM_INFINITY ? std::max<rlim_t>(limit.rlim_cur, wanted) : limit.rlim_max;
  if (target > limit.rlim_cur) {
    rlimit raised = limit;
    raised.rlim_cur = target;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return {static_cast<uint64_t>(limit.rlim_cur), static_cast<uint64_t>(limit.rlim_max)};
}

}  // namespace dovecrest
