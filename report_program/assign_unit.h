#pragma once

#include <string>

namespace varnholt {

// Gives an old log (one without a run record) its record, naming the unit
// and lot. Never writes over an existing record. False with a sentence when
// the file got no new record.
bool AssignUnit(const std::string& logPath, const std::string& unit, const std::string& lot,
                std::string& sentence);

}  // namespace varnholt
