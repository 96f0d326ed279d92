// Linux's SCHED_IDLE is per thread; elsewhere the thread keeps its priority.
#include <sched.h>

#include "window/background_thread.h"

namespace varnholt {

void YieldToEveryOtherThread() {
#ifdef SCHED_IDLE
    sched_param none{};
    sched_setscheduler(0, SCHED_IDLE, &none);
#endif
}

}  // namespace varnholt
