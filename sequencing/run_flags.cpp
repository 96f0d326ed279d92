#include "sequencing/run_flags.h"

namespace varnholt {
namespace {

bool cycleTestRunning = false;
bool powerCutTestRunning = false;

}  // namespace

bool& CycleTestRunning() { return cycleTestRunning; }
bool& PowerCutTestRunning() { return powerCutTestRunning; }

}  // namespace varnholt
