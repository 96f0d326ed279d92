#include "runlog/log_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace varnholt {
namespace {

namespace fs = std::filesystem;

// No row is longer: a line past this is a bad line, whatever follows, and
// what is held of it stays bounded.
constexpr size_t kMaxLineBytes = 64 * 1024;

std::string_view WithoutCRs(std::string_view text) {
    while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    return text;
}

// Counts are written 1, 2, 3 ...: "007" is no Count of ours.
bool WholeNumber(std::string_view text, int64_t& value) {
    if (text.empty() || text.size() > 18 || (text.size() > 1 && text[0] == '0')) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

std::string Shown(std::string_view line) {
    std::string text;
    for (const char c : line.substr(0, 40)) {
        const auto byte = static_cast<unsigned char>(c);
        text.push_back(byte < 0x20 || byte >= 0x7F ? '?' : c);
    }
    return line.size() > 40 ? text + "..." : text;
}

}  // namespace

void LogReader::Refuse(const std::string& why) {
    state_ = State::NotALog;
    problem = why;
}

void LogReader::Header(std::string_view line) {
    switch (state_) {
        case State::Title:
            if (line == NamesOf(TestLogKind::CycleTest).title)
                kind = TestLogKind::CycleTest;
            else if (line == NamesOf(TestLogKind::PowerCutTest).title)
                kind = TestLogKind::PowerCutTest;
            else {
                return Refuse("it is not a Varnholt test log: its first line '" + Shown(line) +
                              "' is neither '" + NamesOf(TestLogKind::CycleTest).title + "' nor '" +
                              NamesOf(TestLogKind::PowerCutTest).title + "'");
            }
            state_ = State::Started;
            return;
        case State::Started: {
            const std::string_view on = kLogStartedOn, at = kLogStartedAt;
            const size_t split = line.find(at);
            int year, month, day, second;
            if (line.substr(0, on.size()) != on || split == std::string_view::npos ||
                !ParseLogDate(line.substr(on.size(), split - on.size()), year, month, day) ||
                !ParseLogTime(line.substr(split + at.size()), second)) {
                return Refuse("its second line '" + Shown(line) +
                              "' is not 'Started on M/D/YYYY at h:mm:ss AM/PM'");
            }
            started = LocalSeconds(year, month, day, second);
            dates_.Start(started);
            state_ = State::Empty;
            return;
        }
        case State::Empty:
            if (!line.empty()) return Refuse("its third line is not empty");
            state_ = State::Columns;
            return;
        case State::Columns:
            if (line != kLogColumns) {
                return Refuse("its fourth line '" + Shown(line) + "' is not the column line");
            }
            state_ = State::Rows;
            return;
        default:
            return;
    }
}

bool LogReader::Row(std::string_view line, LogRow& row) {
    const size_t t1 = line.find('\t');
    if (t1 == std::string_view::npos) return false;
    const size_t t2 = line.find('\t', t1 + 1);
    if (t2 == std::string_view::npos) return false;
    const size_t t3 = line.find('\t', t2 + 1);
    if (t3 == std::string_view::npos) return false;
    const std::string_view error = line.substr(t3 + 1);
    if (error.find('\t') != std::string_view::npos) return false;
    if (!WholeNumber(line.substr(0, t1), row.count)) return false;
    const std::string_view status = line.substr(t1 + 1, t2 - t1 - 1);
    if (status == kLogFailure)
        row.failure = true;
    else if (status == kLogSuccess)
        row.failure = false;
    else
        return false;
    int second = 0;
    if (!ParseLogTime(line.substr(t2 + 1, t3 - t2 - 1), second)) return false;
    row.when = dates_.Next(second, &row.timeWentBack);
    row.error = WithoutCRs(error);
    return true;
}

void LogReader::Bad() {
    if (badLines++ == 0) firstBadLine = lineNumber_;
}

void LogReader::Line(std::string_view line, RowSink onRow) {
    ++lineNumber_;
    line = WithoutCRs(line);
    if (state_ == State::NotALog) return;
    if (state_ != State::Rows) return Header(line);
    if (line.empty()) return;
    LogRow row;
    const RowDates before = dates_;
    if (!Row(line, row)) return Bad();
    Accept(row, before, onRow);
}

void LogReader::Accept(LogRow& row, const RowDates& before, RowSink onRow) {
    // A row out of its place (a Count repeated, skipped, or from another
    // log pasted in) would forge cycles and failures: it is a bad line.
    if (row.count != lastCount_ + 1) {
        dates_ = before;
        ++outOfSequence;
        return Bad();
    }
    lastCount_ = row.count;
    nextKnown_ = false;
    row.line = lineNumber_;
    ++rows;
    onRow(row);
}

void LogReader::AdvanceNext() {
    // 1999 + 1: the carry runs left; past the first digit the number grows.
    for (int i = nextLength_ - 1; i >= 0; --i) {
        if (next_[i] != '9') {
            ++next_[i];
            return;
        }
        next_[i] = '0';
    }
    nextKnown_ = false;
}

const char* LogReader::FastRow(const char* p, const char* end, LogRow& row, int& secondOfDay) {
    // The Count must be the one after the last row's: compared as text
    // with that number, not parsed. Any other line goes the long way, which
    // says what it is.
    if (!nextKnown_) {
        nextLength_ = static_cast<int>(
            std::to_chars(next_, next_ + sizeof next_, lastCount_ + 1).ptr - next_);
        nextKnown_ = true;
    }
    const char* q = p;
    if (end - q <= nextLength_) return nullptr;
    // A few digits: a loop, not a call to memcmp.
    for (int i = 0; i < nextLength_; ++i) {
        if (q[i] != next_[i]) return nullptr;
    }
    if (q[nextLength_] != '\t') return nullptr;
    const int64_t count = lastCount_ + 1;
    q += nextLength_ + 1;
    // Status and its tab: eight bytes either way.
    if (end - q < 8) return nullptr;
    if (std::memcmp(q, "SUCCESS\t", 8) == 0) {
        row.failure = false;
    } else if (std::memcmp(q, "FAILURE\t", 8) == 0) {
        row.failure = true;
    } else {
        return nullptr;
    }
    q += 8;
    // "h:mm:ss AM" or "hh:mm:ss AM", then a tab.
    if (end - q < 12) return nullptr;
    // By position, as ParseLogTime reads it, here without a call a row.
    int hour = q[0] - '0';
    if (hour < 0 || hour > 9) return nullptr;
    if (q[1] != ':') {
        const int low = q[1] - '0';
        if (low < 0 || low > 9) return nullptr;
        hour = hour * 10 + low;
        ++q;
    }
    const char* m = q + 1;  // ":mm:ss AM\t"
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (m[0] != ':' || !digit(m[1]) || !digit(m[2]) || m[3] != ':' || !digit(m[4]) ||
        !digit(m[5]) || m[6] != ' ' || (m[7] != 'A' && m[7] != 'P') || m[8] != 'M' ||
        m[9] != '\t') {
        return nullptr;
    }
    const int minute = (m[1] - '0') * 10 + (m[2] - '0');
    const int sec = (m[4] - '0') * 10 + (m[5] - '0');
    if (hour < 1 || hour > 12 || minute > 59 || sec > 59) return nullptr;
    const int second = (hour % 12 + (m[7] == 'P' ? 12 : 0)) * 3600 + minute * 60 + sec;
    q = m + 10;
    // The error, to the line's end; a tab in it makes the line no row. Most
    // rows say NONE.
    if (end - q >= 6 && std::memcmp(q, "NONE\r\n", 6) == 0) {
        row.count = count;
        secondOfDay = second;
        row.error = std::string_view(q, 4);
        return q + 5;
    }
    const char* e = q;
    while (e != end && *e != '\n' && *e != '\t') ++e;
    if (e == end || *e == '\t') return nullptr;
    const char* errorEnd = e;
    while (errorEnd != q && errorEnd[-1] == '\r') --errorEnd;
    row.count = count;
    secondOfDay = second;
    row.error = std::string_view(q, static_cast<size_t>(errorEnd - q));
    return e;
}

void LogReader::Feed(std::string_view bytes, RowSink onRow) {
    offset += bytes.size();
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p != end && state_ != State::NotALog) {
        if (state_ == State::Rows && pending_.empty() && !pendingTooLong_) {
            LogRow row;
            int second = 0;
            if (const char* lineEnd = FastRow(p, end, row, second)) {
                ++lineNumber_;
                p = lineEnd + 1;
                row.when = dates_.Next(second, &row.timeWentBack);
                lastCount_ = row.count;
                AdvanceNext();
                row.line = lineNumber_;
                ++rows;
                onRow(row);
                continue;
            }
        }
        const char* lineEnd =
            static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (lineEnd == nullptr) {
            if (pendingTooLong_) return;
            pending_.append(p, static_cast<size_t>(end - p));
            if (pending_.size() > kMaxLineBytes) {
                // Counted once, when its end comes; nothing more of it is kept.
                pending_.assign("\x01", 1);
                pendingTooLong_ = true;
            }
            return;
        }
        const size_t length = static_cast<size_t>(lineEnd - p);
        if (pendingTooLong_) {
            pending_.clear();
            pendingTooLong_ = false;
            ++lineNumber_;
            if (state_ == State::Rows)
                ++badLines;
            else
                Refuse("it holds a line longer than any log line");
        } else if (!pending_.empty()) {
            pending_.append(p, length);
            const std::string line = std::move(pending_);
            pending_.clear();
            Line(line, onRow);
        } else {
            Line(std::string_view(p, length), onRow);
        }
        p = lineEnd + 1;
    }
}

bool LogReader::ChangedUnder(const std::string& path) const {
    if (offset == 0) return false;
    PlainFile file;
    std::string ignored;
    if (OpenPlainFile(path, file, ignored) != OpenOutcome::Opened) return false;
    if (file.size < offset || (idKnown_ && file.id != id_)) return true;
    // The bytes last read must still stand where they stood.
    std::string now(tail_.size(), '\0');
    return std::fseek(file.file, static_cast<long>(offset - tail_.size()), SEEK_SET) != 0 ||
           std::fread(now.data(), 1, now.size(), file.file) != now.size() || now != tail_;
}

bool LogReader::ReadAppended(const std::string& path, RowSink onRow) {
    if (NotALog()) return false;
    PlainFile file;
    if (OpenPlainFile(path, file, problem) != OpenOutcome::Opened) {
        if (problem.rfind("it is a ", 0) == 0) problem += ", not a log";
        return false;
    }
    if (file.size < offset || (idKnown_ && file.id != id_)) {
        // Cut back or replaced since the last read: read it afresh.
        *this = LogReader{};
    }
    id_ = file.id;
    idKnown_ = true;
    bool ok = std::fseek(file.file, static_cast<long>(offset), SEEK_SET) == 0;
    // As large as what is new, up to 1 MiB, and never zero-filled: a folder
    // of thousands of short logs is read again and again.
    const uint64_t fresh = file.size > offset ? file.size - offset : 0;
    const size_t chunk = static_cast<size_t>(std::clamp<uint64_t>(fresh + 1, 4096, 1 << 20));
    const std::unique_ptr<char[]> buffer(new char[chunk]);
    while (ok) {
        const size_t got = std::fread(buffer.get(), 1, chunk, file.file);
        if (got > 0) {
            Feed(std::string_view(buffer.get(), got), onRow);
            constexpr size_t kTail = 256;
            if (got >= kTail) {
                tail_.assign(buffer.get() + got - kTail, kTail);
            } else {
                tail_.append(buffer.get(), got);
                if (tail_.size() > kTail) tail_.erase(0, tail_.size() - kTail);
            }
        }
        if (got < chunk) {
            ok = std::ferror(file.file) == 0;
            break;
        }
    }
    if (!ok) {
        problem = "reading it failed";
        return false;
    }
    if (offset == 0) {
        problem = "it is empty";
        return false;
    }
    if (state_ == State::Title) {
        if (pendingTooLong_) {
            // 64 KiB without a line end: binary data, a flood of NULs, a
            // file whose lines end in CR alone.
            Refuse("it is not a Varnholt test log: its first " +
                   std::to_string(kMaxLineBytes / 1024) + " KiB hold no line end");
        } else {
            // A first line without an end is judged as far as it goes.
            const std::string_view first = WithoutCRs(pending_);
            bool mayBeTitle = false;
            for (const TestLogKind k : {TestLogKind::CycleTest, TestLogKind::PowerCutTest}) {
                mayBeTitle |= std::string_view(NamesOf(k).title).substr(0, first.size()) == first;
            }
            if (!mayBeTitle) Header(first);
        }
    }
    if (NotALog()) return false;
    if (!HeaderComplete()) {
        problem = "it ends inside the header, before the column line";
        return false;
    }
    return true;
}

}  // namespace varnholt
