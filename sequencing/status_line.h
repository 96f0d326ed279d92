#pragma once

#include <string>

namespace varnholt {

// Where the tests report: one operation, replacing the whole text.
class StatusLine {
public:
    virtual ~StatusLine() = default;
    virtual void SetText(const std::string& text) = 0;
};

}  // namespace varnholt
