#include "sequencing/unit_under_test.h"

namespace varnholt {
namespace {

UnitUnderTest current;

}  // namespace

void SetUnitUnderTest(const UnitUnderTest& unit) { current = unit; }
const UnitUnderTest& CurrentUnitUnderTest() { return current; }

}  // namespace varnholt
