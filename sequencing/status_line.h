#pragma once

#include <string>

namespace varnholt {

// Where the tests report: one operation, replacing the whole text.
class StatusLine {
public:
    virtual ~StatusLine() = default;
    virtual void SetText(const std::string& text) = 0;
};

// The window hands over its status field at start-up.
void BindStatusLine(StatusLine* statusLine);
// Reports through the bound status line; nothing when none is bound.
void ShowStatus(const std::string& text);

}  // namespace varnholt
