// Thread priority; see thread_priority.h.
#include "app/lookup/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace quillon {

void LowerThisThreadPriority() {
  // On Linux the nice value is per thread: raising it by one for this
  // thread's id is the "below normal" step.
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  const int current = ::getpriority(PRIO_PROCESS, tid);
  if (current == -1 && errno != 0) return;
  ::setpriority(PRIO_PROCESS, tid, current + 1);
}

}  // namespace quillon
