#pragma once

#include <QString>
#include <optional>
#include <string>

#include "runlog/utf8_text.h"

namespace varnholt {

// A log's, a unit's or a sentence's bytes as the window shows them.
inline QString Q(const std::string& text) { return QString::fromStdString(ValidUtf8(text)); }

// A figure to one decimal, "-" when there is none (no failure, no MCBF).
inline QString Figure(const std::optional<double>& value) {
    return value ? QString::number(*value, 'f', 1) : QStringLiteral("-");
}

}  // namespace varnholt
