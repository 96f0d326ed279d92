#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "runlog/log_format.h"
#include "runlog/plain_file.h"

namespace varnholt {

// One well-formed data row.
struct LogRow {
    int64_t count = 0;
    bool failure = false;       // FAILURE
    int64_t when = 0;           // LocalSeconds: the start's date, moved on by each midnight
    std::string_view error;     // as logged (escapes kept), without the trailing CRs
    int64_t line = 0;           // line number in the file, from 1
    bool timeWentBack = false;  // earlier than the row before by less than 12 h (a clock set
                                // back?), read as the next day all the same
};

// A call by reference to any callable taking Arg: no copy, no allocation,
// one indirect call. For the long way through a log's lines, and for the
// chunks of a file as they are read.
template <class Arg>
class CallRef {
    template <typename F>
    using NotARef = std::enable_if_t<!std::is_same_v<std::decay_t<F>, CallRef>>;

public:
    template <typename F, typename = NotARef<F>>
    CallRef(const F& f)  // NOLINT: converts from any callable, as std::function would
        : target_(const_cast<F*>(&f)),
          call_([](void* t, Arg arg) { (*static_cast<const F*>(t))(arg); }) {}
    template <typename F, typename = NotARef<F>>
    CallRef(F& f)  // NOLINT
        : target_(&f), call_([](void* t, Arg arg) { (*static_cast<F*>(t))(arg); }) {}
    void operator()(Arg arg) const { call_(target_, arg); }

private:
    void* target_;
    void (*call_)(void*, Arg);
};
using RowSink = CallRef<const LogRow&>;

namespace detail {
// The Count the next row of a log must begin with: its decimal text and a
// tab, the text's first eight bytes as a word, and the mask of those that
// count; its last digit, and the word's one in that digit's byte. The
// reader's own, here for its test.
struct NextCount {
    char text[24] = {};
    int length = 0;
    uint64_t word = 0, mask = 0, lastOne = 0;
    int lastDigit = 9;  // 9 also when the word holds no last digit: the long way
    void Set(int64_t count);
    // To the given count, one more than it was. Nine rows in ten end in a
    // digit below 9: one addition to the word, and the text is left behind
    // (the word is what a row is compared with, up to seven digits).
    void Advance(int64_t count) {
        if (lastDigit != 9) {
            ++lastDigit;
            word += lastOne;
        } else if (!Carry()) {
            Set(count);
        }
    }
    // The carry runs left; false when the number grew a digit.
    bool Carry();
};
}  // namespace detail

// Reads one log, all of it or, handed the same file again, only what was
// appended since: a test's log grows row by row while it is read. Never
// fails on what it finds: empty lines are skipped, other lines that are not
// rows are counted, and a file that is not a log gets a sentence.
class LogReader {
public:
    // Reads the bytes of path past those read before, calling onRow(const
    // LogRow&) for each row. Only a plain file is opened (never a FIFO or a
    // device). False when it cannot be read or is not a log; problem says
    // why, for the operator. A template so that the call a row is inlined:
    // 10^8 rows are read at a few nanoseconds each. The reader's counts
    // (rows, badLines) are brought up to date piece by piece, not for each
    // call of onRow.
    template <class F>
    bool ReadAppended(const std::string& path, F&& onRow) {
        return ReadChunks(path, [&](std::string_view bytes) { Feed(bytes, onRow); });
    }
    // The same on bytes already in memory: the next piece of the file.
    template <class F>
    void Feed(std::string_view bytes, F&& onRow);

    // The file under path is no longer the one read so far: another file
    // (renamed over it), cut back, or changed within what was read. It must
    // then be read again from its start.
    bool ChangedUnder(const std::string& path) const;

    bool HeaderComplete() const { return state_ == State::Rows; }
    bool NotALog() const { return state_ == State::NotALog; }

    TestLogKind kind = TestLogKind::CycleTest;
    int64_t started = 0;        // LocalSeconds of the header's date and time
    int64_t badLines = 0;       // neither header, empty nor a well-formed row in its place
    int64_t firstBadLine = 0;   // its line number
    int64_t outOfSequence = 0;  // of those, rows whose Count is not the one after the last
    int64_t rows = 0;
    uint64_t offset = 0;  // bytes read so far, complete lines and the piece after
    std::string problem;  // why the file is no log, or cannot be read
    // The file does not end with a line end: that piece waits for the next read.
    bool PartialLastLine() const { return !pending_.empty(); }

private:
    enum class State { Title, Started, Empty, Columns, Rows, NotALog };
    bool ReadChunks(const std::string& path, CallRef<std::string_view> feed);
    // The well-formed rows from p on, as long as they come: the end of the
    // last one read (p itself when the line at p is not one).
    template <class F>
    const char* FastRows(const char* p, const char* end, F& onRow);
    // Any other line from p, the long way, or its piece that waits for its
    // end: where the next line starts (end when none does).
    const char* SlowLine(const char* p, const char* end, RowSink onRow);
    void Line(std::string_view line, RowSink onRow);
    // A well-formed row whose line ends within [p, end), read in one pass
    // over its bytes (its time of day in secondOfDay, not yet dated): the
    // end of its line, or nullptr for any other line (read then by Line,
    // which says what it is).
    static const char* FastRow(const char* p, const char* end, uint64_t nextWord, uint64_t nextMask,
                               int nextLength, const char* nextText, LogRow& row, int& secondOfDay);
    void Accept(LogRow& row, const RowDates& before, RowSink onRow);
    void Header(std::string_view line);
    bool Row(std::string_view line, LogRow& row);
    void Refuse(const std::string& why);

    void Bad();

    State state_ = State::Title;
    int64_t lastCount_ = 0;  // the last row's Count: the next is one more
    detail::NextCount next_;
    bool nextKnown_ = false;
    FileId id_;
    bool idKnown_ = false;
    std::string tail_;             // the last bytes read, to see the file change under them
    std::string pending_;          // an unfinished last line
    bool pendingTooLong_ = false;  // the unfinished line passed the limit: one bad line
    int64_t lineNumber_ = 0;
    RowDates dates_;
};

}  // namespace varnholt

#include "runlog/log_reader_rows.h"  // IWYU pragma: export
