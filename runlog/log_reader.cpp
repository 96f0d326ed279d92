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

namespace {

// The patterns of a row's time, ":mm:ss A", as words in memory order.
struct TimeWord {
    uint64_t fixedMask, fixed, digitMask, high, digitHigh, six;
    uint64_t tensMask, ten, tensHigh, tensDigitHigh;
    uint32_t am, pm;
};
TimeWord MakeTimeWord() {
    const auto word = [](const char(&bytes)[9]) {
        uint64_t w;
        std::memcpy(&w, bytes, sizeof w);
        return w;
    };
    TimeWord t;
    t.fixedMask = word("\xff\0\0\xff\0\0\xff\0");
    t.fixed = word(":\0\0:\0\0 \0");
    t.digitMask = word("\0\xff\xff\0\xff\xff\0\0");
    t.high = word("\0\xf0\xf0\0\xf0\xf0\0\0");
    t.digitHigh = word("\0\x30\x30\0\x30\x30\0\0");
    t.six = word("\0\x06\x06\0\x06\x06\0\0");
    t.tensMask = word("\0\xff\0\0\xff\0\0\0");
    t.ten = word("\0\x0a\0\0\x0a\0\0\0");
    t.tensHigh = word("\0\xf0\0\0\xf0\0\0\0");
    t.tensDigitHigh = word("\0\x30\0\0\x30\0\0\0");
    std::memcpy(&t.am, " AM\t", sizeof t.am);
    std::memcpy(&t.pm, " PM\t", sizeof t.pm);
    return t;
}
const TimeWord kTimeWord = MakeTimeWord();

}  // namespace

inline void LogReader::AdvanceNext() {
    // Nine rows in ten end in a digit below 9: no carry.
    const int last = nextLength_ - 1;
    if (last < 8 && next_[last] != '9') {
        ++next_[last];
        nextWord_ += byteOne_[last];
        return;
    }
    // 1999 + 1: the carry runs left; past the first digit the number grows.
    // The word changes by arithmetic: read back from next_ right after a
    // byte of it was written, it waited on that store every row.
    for (int i = nextLength_ - 1; i >= 0; --i) {
        const uint64_t one = i < 8 ? byteOne_[i] : 0;
        if (next_[i] != '9') {
            ++next_[i];
            nextWord_ += one;
            return;
        }
        next_[i] = '0';
        nextWord_ -= 9 * one;
    }
    nextKnown_ = false;
}

void LogReader::KnowNext() {
    std::memset(next_, 0, sizeof next_);
    nextLength_ =
        static_cast<int>(std::to_chars(next_, next_ + sizeof next_, lastCount_ + 1).ptr - next_);
    next_[nextLength_] = '\t';
    // The Count and its tab as one word, and which of its bytes they are
    // (the same bytes in memory whatever the machine's byte order).
    unsigned char mask[sizeof nextMask_] = {};
    for (int i = 0; i <= nextLength_ && i < static_cast<int>(sizeof mask); ++i) mask[i] = 0xFF;
    std::memcpy(&nextWord_, next_, sizeof nextWord_);
    std::memcpy(&nextMask_, mask, sizeof nextMask_);
    for (int i = 0; i < 8; ++i) {
        unsigned char one[8] = {};
        one[i] = 1;
        std::memcpy(&byteOne_[i], one, sizeof byteOne_[i]);
    }
    nextKnown_ = true;
}

// Inlined into Feed: as a call it saved and restored six registers a row.
[[gnu::always_inline]] inline const char* LogReader::FastRow(const char* p, const char* end,
                                                             LogRow& row, int& secondOfDay) {
    // The Count must be the one after the last row's: compared as text
    // with that number, not parsed. Any other line goes the long way, which
    // says what it is.
    if (!nextKnown_) KnowNext();
    const char* q = p;
    // The longest row of the usual shape, "<count>\tFAILURE\thh:mm:ss PM\tNONE\r\n",
    // fits or the line goes the long way: one check instead of one a field.
    if (end - q < nextLength_ + 27) return nullptr;
    if (nextLength_ < 8) {
        // Count and tab, up to seven digits, in one comparison of a word.
        uint64_t word;
        std::memcpy(&word, q, sizeof word);
        if (((word ^ nextWord_) & nextMask_) != 0) return nullptr;
    } else if (std::memcmp(q, next_, static_cast<size_t>(nextLength_) + 1) != 0) {
        return nullptr;
    }
    const int64_t count = lastCount_ + 1;
    q += nextLength_ + 1;
    // Status and its tab: eight bytes either way.
    if (std::memcmp(q, "SUCCESS\t", 8) == 0) {
        row.failure = false;
    } else if (std::memcmp(q, "FAILURE\t", 8) == 0) {
        row.failure = true;
    } else {
        return nullptr;
    }
    q += 8;
    // "h:mm:ss AM" or "hh:mm:ss AM", then a tab.
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
    // ":mm:ss A" as one word: its separators, and its digits by their high
    // nibble 3 and low nibble 0 to 9 (adding 6 keeps the high nibble), in a
    // few operations rather than a test a byte. A carry out of a byte that
    // is no digit only touches the next byte's second test, and the first
    // test has failed already.
    uint64_t word;
    std::memcpy(&word, m, sizeof word);
    const TimeWord& t = kTimeWord;
    const uint64_t digits = word & t.digitMask;
    uint32_t tail;  // " AM\t" or " PM\t"
    std::memcpy(&tail, m + 6, sizeof tail);
    // The tens of minutes and seconds, 0 to 5: adding 10 keeps the high nibble.
    const bool wrong = (word & t.fixedMask) != t.fixed || (digits & t.high) != t.digitHigh ||
                       ((digits + t.six) & t.high) != t.digitHigh ||
                       (((word & t.tensMask) + t.ten) & t.tensHigh) != t.tensDigitHigh ||
                       ((tail != t.am) & (tail != t.pm)) | (hour < 1) | (hour > 12);
    if (wrong) return nullptr;
    const int minute = (m[1] - '0') * 10 + (m[2] - '0');
    const int sec = (m[4] - '0') * 10 + (m[5] - '0');
    const int second =
        ((hour == 12 ? 0 : hour) + (tail == t.pm ? 12 : 0)) * 3600 + minute * 60 + sec;
    q = m + 10;
    // The error, to the line's end; a tab in it makes the line no row. Most
    // rows say NONE.
    if (std::memcmp(q, "NONE\r\n", 6) == 0) {
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
            // Row after row in this loop while they are well formed: nearly
            // every line of a log.
            LogRow row;
            int second = 0;
            while (const char* lineEnd = FastRow(p, end, row, second)) {
                ++lineNumber_;
                p = lineEnd + 1;
                row.when = dates_.Next(second, &row.timeWentBack);
                lastCount_ = row.count;
                AdvanceNext();
                row.line = lineNumber_;
                ++rows;
                onRow(row);
            }
            if (p == end) break;
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
            Feed(std::string_view(buffer, got), onRow);
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
