#include "runlog/moves_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>

#include "runlog/log_format.h"
#include "runlog/plain_file.h"

namespace varnholt {
namespace {

bool Whole(std::string_view text, int64_t& value, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

bool Milliseconds(std::string_view text, int32_t& value) {
    int64_t v = MoveRow::kNone;
    if (!text.empty() && !Whole(text, v, 9)) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool ParseRow(std::string_view line, MoveRow& row) {
    const size_t t1 = line.find('\t');
    if (t1 == std::string_view::npos) return false;
    const size_t t2 = line.find('\t', t1 + 1);
    if (t2 == std::string_view::npos || line.find('\t', t2 + 1) != std::string_view::npos) {
        return false;
    }
    if (!Whole(line.substr(0, t1), row.count, 18)) return false;
    return Milliseconds(line.substr(t1 + 1, t2 - t1 - 1), row.openMs) &&
           Milliseconds(line.substr(t2 + 1), row.closeMs);
}

// "count<TAB>open<TAB>close" and its line end, in one pass: the end of the
// line, or nullptr for any other line (read then by Line). The longest such
// line fits in what is left, so no byte is checked against the end.
constexpr ptrdiff_t kLongestRow = 18 + 1 + 9 + 1 + 9 + 2;
const char* FastMove(const char* p, const char* end, MoveRow& row) {
    if (end - p <= kLongestRow) return nullptr;
    const auto field = [](const char*& q, int most, int64_t& value) {
        const char* const start = q;
        value = 0;
        for (unsigned d; (d = static_cast<unsigned char>(*q - '0')) <= 9 && q - start < most; ++q) {
            value = value * 10 + d;
        }
        return static_cast<size_t>(q - start);
    };
    const char* q = p;
    int64_t count = 0, open = 0, close = 0;
    if (field(q, 18, count) == 0 || *q++ != '\t') return nullptr;
    const size_t openDigits = field(q, 9, open);
    if (*q++ != '\t') return nullptr;
    const size_t closeDigits = field(q, 9, close);
    const char* e = q;
    if (*e == '\r') ++e;
    if (*e != '\n') return nullptr;
    row.count = count;
    row.openMs = openDigits == 0 ? MoveRow::kNone : static_cast<int32_t>(open);
    row.closeMs = closeDigits == 0 ? MoveRow::kNone : static_cast<int32_t>(close);
    return e;
}

// A line never longer than a few dozen bytes: anything more is junk.
constexpr size_t kLongestKept = 256;

}  // namespace

void MovesReader::Line(std::string_view line, std::vector<MoveRow>& rows) {
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return;
    if (!headerSeen_ && line == kMovesColumns) {
        headerSeen_ = true;
        return;
    }
    MoveRow row;
    if (ParseRow(line, row))
        rows.push_back(row);
    else
        ++badLines;
}

void MovesReader::Feed(std::string_view bytes, std::vector<MoveRow>& rows) {
    offset += bytes.size();
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p != end) {
        if (pending_.empty() && headerSeen_) {
            MoveRow row;
            if (const char* lineEnd = FastMove(p, end, row)) {
                rows.push_back(row);
                p = lineEnd + 1;
                continue;
            }
        }
        const char* lineEnd =
            static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (lineEnd == nullptr) {
            if (pending_.size() < kLongestKept) {
                pending_.append(p, std::min(static_cast<size_t>(end - p), kLongestKept));
            }
            return;
        }
        const std::string_view piece(p, static_cast<size_t>(lineEnd - p));
        p = lineEnd + 1;
        if (pending_.empty()) {
            Line(piece, rows);
            continue;
        }
        // Only a line cut by the end of a read is put together.
        pending_.append(piece);
        Line(pending_, rows);
        pending_.clear();
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
    // Some 14 bytes a row: room for them all on the first read.
    if (offset == 0) rows.reserve(rows.size() + static_cast<size_t>(file.size / 12));
    if (std::fseek(file.file, static_cast<long>(offset), SEEK_SET) == 0) {
        constexpr size_t kChunk = 64 * 1024;
        const std::unique_ptr<char[]> buffer(new char[kChunk]);
        for (size_t got; (got = std::fread(buffer.get(), 1, kChunk, file.file)) > 0;) {
            Feed(std::string_view(buffer.get(), got), rows);
        }
    }
}

}  // namespace varnholt
