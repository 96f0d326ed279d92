#pragma once

#include <cstdint>
#include <string>

namespace varnholt::testing {

// Regular expressions for a test log, the clock fields matched by form.
inline const std::string kLogTime = "[0-9]{1,2}:[0-9]{2}:[0-9]{2} [AP]M";

inline std::string LogHeader(const std::string& title) {
    return title + "\r\nStarted on [0-9]{1,2}/[0-9]{1,2}/[0-9]{4} at " + kLogTime +
           "\r\n\r\nCount\tStatus\tTime\tError\r\n";
}

inline std::string LogRow(int64_t count, const std::string& state, const std::string& error) {
    return std::to_string(count) + "\t" + state + "\t" + kLogTime + "\t" + error + "\r\n";
}

}  // namespace varnholt::testing
