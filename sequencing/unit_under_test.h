#pragma once

#include <string>

namespace varnholt {

// The shutter the next run tests (its serial number) and its lot, as the
// operator gave them; either may be empty. A run takes them when it starts.
struct UnitUnderTest {
    std::string unit, lot;
};

void SetUnitUnderTest(const UnitUnderTest& unit);
const UnitUnderTest& CurrentUnitUnderTest();

}  // namespace varnholt
