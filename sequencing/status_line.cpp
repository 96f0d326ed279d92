#include "sequencing/status_line.h"

namespace varnholt {
namespace {

StatusLine* statusLine = nullptr;

}  // namespace

void BindStatusLine(StatusLine* line) { statusLine = line; }

void ShowStatus(const std::string& text) {
    if (statusLine != nullptr) statusLine->SetText(text);
}

}  // namespace varnholt
