#pragma once

namespace varnholt {

// Both run inside the start click's handler until a step fails or the run
// flag is cleared (by the stop click, from inside one of their waits).
void CycleTest();
void PowerCutTest();

}  // namespace varnholt
