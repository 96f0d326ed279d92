#include "runlog/moves_reader.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "runlog/log_format.h"
#include "runlog/plain_file.h"

namespace varnholt {
namespace {

bool Whole(const std::string& text, int64_t& value, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

bool Milliseconds(const std::string& text, int32_t& value) {
    int64_t v = MoveRow::kNone;
    if (!text.empty() && !Whole(text, v, 9)) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool ParseRow(const std::string& line, MoveRow& row) {
    const size_t t1 = line.find('\t');
    if (t1 == std::string::npos) return false;
    const size_t t2 = line.find('\t', t1 + 1);
    if (t2 == std::string::npos || line.find('\t', t2 + 1) != std::string::npos) return false;
    if (!Whole(line.substr(0, t1), row.count, 18)) return false;
    return Milliseconds(line.substr(t1 + 1, t2 - t1 - 1), row.openMs) &&
           Milliseconds(line.substr(t2 + 1), row.closeMs);
}

}  // namespace

void MovesReader::Feed(const std::string& bytes, std::vector<MoveRow>& rows) {
    offset += bytes.size();
    size_t start = 0;
    for (;;) {
        const size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            // A line never longer than a few dozen bytes: anything more is junk.
            if (pending_.size() < 256) pending_.append(bytes, start, 256);
            return;
        }
        std::string line = pending_ + bytes.substr(start, end - start);
        pending_.clear();
        start = end + 1;
        while (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (!headerSeen_ && line == kMovesColumns) {
            headerSeen_ = true;
            continue;
        }
        MoveRow row;
        if (ParseRow(line, row))
            rows.push_back(row);
        else
            ++badLines;
    }
}

void MovesReader::ReadAppended(const std::string& path, std::vector<MoveRow>& rows) {
    PlainFile file;
    if (OpenPlainFile(path, file, problem) != OpenOutcome::Opened) {
        if (problem == "it does not exist") problem.clear();  // logs of earlier versions
        return;
    }
    problem.clear();
    if (file.size <= offset) return;
    if (std::fseek(file.file, static_cast<long>(offset), SEEK_SET) == 0) {
        constexpr size_t kChunk = 64 * 1024;
        const std::unique_ptr<char[]> buffer(new char[kChunk]);
        for (size_t got; (got = std::fread(buffer.get(), 1, kChunk, file.file)) > 0;) {
            Feed(std::string(buffer.get(), got), rows);
        }
    }
}

}  // namespace varnholt
