#include <windows.h>

#include "report_program/terminal.h"

namespace varnholt {

bool TerminalIsUtf8() { return GetConsoleOutputCP() == CP_UTF8; }

}  // namespace varnholt
