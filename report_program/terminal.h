#pragma once

namespace varnholt {

// Whether the text printed reaches a reader who sees UTF-8 (the locale's
// character set, or the console's code page): otherwise beta and eta are
// spelled out, never shown as mojibake.
bool TerminalIsUtf8();

}  // namespace varnholt
