#pragma once

namespace varnholt {

// The calling thread runs only when nothing else wants the processor, so a
// watcher's work (reading thousands of logs, drawing charts) never delays the
// running test's tick on a machine with few cores.
void YieldToEveryOtherThread();

}  // namespace varnholt
