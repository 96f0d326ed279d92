#include "runlog/log_reader.h"

#include <algorithm>
#include <cstdio>
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

void LogReader::Line(std::string_view line, const RowHandler& onRow) {
    ++lineNumber_;
    line = WithoutCRs(line);
    if (state_ == State::NotALog) return;
    if (state_ != State::Rows) return Header(line);
    if (line.empty()) return;
    LogRow row;
    const RowDates before = dates_;
    if (!Row(line, row)) return Bad();
    // A row out of its place (a Count repeated, skipped, or from another
    // log pasted in) would forge cycles and failures: it is a bad line.
    if (row.count != lastCount_ + 1) {
        dates_ = before;
        ++outOfSequence;
        return Bad();
    }
    lastCount_ = row.count;
    row.line = lineNumber_;
    ++rows;
    if (onRow) onRow(row);
}

void LogReader::Feed(std::string_view bytes, const RowHandler& onRow) {
    offset += bytes.size();
    while (!bytes.empty() && state_ != State::NotALog) {
        const size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            if (pendingTooLong_) return;
            pending_.append(bytes.data(), bytes.size());
            if (pending_.size() > kMaxLineBytes) {
                // Counted once, when its end comes; nothing more of it is kept.
                pending_.assign("\x01", 1);
                pendingTooLong_ = true;
            }
            return;
        }
        if (pendingTooLong_) {
            pending_.clear();
            pendingTooLong_ = false;
            ++lineNumber_;
            if (state_ == State::Rows)
                ++badLines;
            else
                Refuse("it holds a line longer than any log line");
        } else if (!pending_.empty()) {
            pending_.append(bytes.data(), end);
            const std::string line = std::move(pending_);
            pending_.clear();
            Line(line, onRow);
        } else {
            Line(bytes.substr(0, end), onRow);
        }
        bytes.remove_prefix(end + 1);
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

bool LogReader::ReadAppended(const std::string& path, const RowHandler& onRow) {
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
