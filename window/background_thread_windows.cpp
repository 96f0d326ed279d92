#include <windows.h>

#include "window/background_thread.h"

namespace varnholt {

void YieldToEveryOtherThread() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE); }

}  // namespace varnholt
