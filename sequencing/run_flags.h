#pragma once

namespace varnholt {

// Set by a test's start click, cleared by its stop click (which runs inside
// the test's waits) and by the start-up. The tests read them at each check.
bool& CycleTestRunning();
bool& PowerCutTestRunning();

}  // namespace varnholt
