#include "common/IdleThread.h"

#include <pthread.h>
#include <sched.h>

namespace jarseal {

void RunThisThreadWhenIdle() {
#ifdef SCHED_IDLE
    sched_param param{};
    param.sched_priority = 0;
    ::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &param);
#endif
}

} // namespace jarseal
