// The log reader on any bytes: it never crashes or hangs, and reading the
// same bytes in two pieces (a log read while it grows), or a byte at a time
// (every line the long way), gives exactly what reading them whole gives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "runlog/log_reader.h"

namespace {

struct Result {
    std::vector<std::string> rows;
    int64_t badLines = 0;
    bool header = false;
    bool notALog = false;
    bool partial = false;
};

Result ReadIn(std::string_view bytes, size_t cut) {
    varnholt::LogReader reader;
    Result result;
    const auto onRow = [&](const varnholt::LogRow& row) {
        result.rows.push_back(std::to_string(row.count) + (row.failure ? "F" : "S") +
                              std::to_string(row.when) + std::string(row.error));
        if (row.error.find('\t') != std::string_view::npos) std::abort();
        if (!row.error.empty() && row.error.back() == '\r') std::abort();
    };
    if (cut == 0) {
        // A byte at a time: every line is put together and read the long
        // way, never by the one-pass reading of whole rows.
        for (size_t i = 0; i < bytes.size(); ++i) reader.Feed(bytes.substr(i, 1), onRow);
    } else {
        reader.Feed(bytes.substr(0, cut), onRow);
        reader.Feed(bytes.substr(cut), onRow);
    }
    if (reader.offset != bytes.size()) std::abort();
    result.badLines = reader.badLines;
    result.header = reader.HeaderComplete();
    result.notALog = reader.NotALog();
    result.partial = reader.PartialLastLine();
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Result whole = ReadIn(bytes, bytes.size());
    const Result pieces = ReadIn(bytes, data[0] % (bytes.size() + 1));
    const Result bytewise = ReadIn(bytes, 0);
    for (const Result* other : {&pieces, &bytewise}) {
        if (whole.rows != other->rows || whole.badLines != other->badLines ||
            whole.header != other->header || whole.notALog != other->notALog ||
            whole.partial != other->partial) {
            std::abort();
        }
    }
    return 0;
}
