#include "runlog/log_reader.h"

#include <algorithm>
#include <array>
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

namespace detail {
namespace {
constexpr std::array<unsigned char, 65536> PairValues() {
    std::array<unsigned char, 65536> values{};
    for (unsigned char& v : values) v = kNoPair;
    for (int tens = 0; tens < 6; ++tens) {
        for (int ones = 0; ones < 10; ++ones) {
            const unsigned first = '0' + tens, second = '0' + ones;
            values[kLittleEndian ? first | second << 8 : first << 8 | second] =
                static_cast<unsigned char>(tens * 10 + ones);
        }
    }
    return values;
}
}  // namespace
// Built by the compiler: nothing to do at start-up.
const std::array<unsigned char, 65536> kPairValue = PairValues();
}  // namespace detail

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

void detail::NextCount::Set(int64_t count) {
    std::memset(text, 0, sizeof text);
    length = static_cast<int>(std::to_chars(text, text + sizeof text, count).ptr - text);
    text[length] = '\t';
    unsigned char bytes[sizeof mask] = {};
    for (int i = 0; i <= length && i < static_cast<int>(sizeof bytes); ++i) bytes[i] = 0xFF;
    std::memcpy(&word, text, sizeof word);
    std::memcpy(&mask, bytes, sizeof mask);
    const bool inWord = length < 8;
    lastOne = inWord ? detail::ByteOfWord(length - 1, 1) : 0;
    lastDigit = inWord ? text[length - 1] - '0' : 9;
}

bool detail::NextCount::Carry() {
    // The word alone was kept up to date since the last carry.
    if (length < 8) std::memcpy(text, &word, sizeof word);
    // 1999 + 1: the carry runs left; past the first digit the number grows.
    for (int i = length - 1; i >= 0; --i) {
        const uint64_t one = i < 8 ? detail::ByteOfWord(i, 1) : 0;
        if (text[i] != '9') {
            ++text[i];
            word += one;
            lastDigit = length < 8 ? text[length - 1] - '0' : 9;
            return true;
        }
        text[i] = '0';
        word -= 9 * one;
    }
    return false;
}

const char* LogReader::SlowLine(const char* p, const char* end, RowSink onRow) {
    const char* lineEnd =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (lineEnd == nullptr) {
        if (pendingTooLong_) return end;
        pending_.append(p, static_cast<size_t>(end - p));
        if (pending_.size() > kMaxLineBytes) {
            // Counted once, when its end comes; nothing more of it is kept.
            pending_.assign("\x01", 1);
            pendingTooLong_ = true;
        }
        return end;
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
    return lineEnd + 1;
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

bool LogReader::ReadChunks(const std::string& path, CallRef<std::string_view> feed) {
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
    // A file just opened stands at its start: no seek (a system call a log).
    bool ok = offset == 0 || std::fseek(file.file, static_cast<long>(offset), SEEK_SET) == 0;
    // One buffer a thread, kept rather than allocated for each of 10,000
    // logs, and small enough to stay in the cache while its rows are read.
    constexpr size_t kChunk = 128 * 1024;
    thread_local std::unique_ptr<char[]> kept(new char[kChunk]);
    char* const buffer = kept.get();
    const size_t chunk = kChunk;
    while (ok) {
        const size_t got = std::fread(buffer, 1, chunk, file.file);
        if (got > 0) {
            feed(std::string_view(buffer, got));
            constexpr size_t kTail = 256;
            if (got >= kTail) {
                tail_.assign(buffer + got - kTail, kTail);
            } else {
                tail_.append(buffer, got);
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
