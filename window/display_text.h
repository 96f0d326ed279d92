#pragma once

#include <QString>
#include <optional>
#include <string>

#include "report/words.h"
#include "runlog/utf8_text.h"

namespace varnholt {

// A log's, a unit's or a sentence's bytes as the window shows them.
inline QString Q(const std::string& text) { return QString::fromStdString(ValidUtf8(text)); }

// Cycles as the report and the PDF write them ("12,000"), "-" when there
// are none (no failure, no MCBF).
inline QString Figure(const std::optional<double>& value) {
    return value ? QString::fromStdString(CyclesText(*value)) : QStringLiteral("-");
}

}  // namespace varnholt
