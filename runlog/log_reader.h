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

// What is called for each row: any callable taking a const LogRow&, held by
// reference for the one call that reads (no copy, no allocation, one
// indirect call a row).
class RowSink {
    template <typename F>
    using NotASink = std::enable_if_t<!std::is_same_v<std::decay_t<F>, RowSink>>;

public:
    template <typename F, typename = NotASink<F>>
    RowSink(const F& f)  // NOLINT: converts from any callable, as std::function would
        : target_(const_cast<F*>(&f)),
          call_([](void* t, const LogRow& row) { (*static_cast<const F*>(t))(row); }) {}
    template <typename F, typename = NotASink<F>>
    RowSink(F& f)  // NOLINT
        : target_(&f), call_([](void* t, const LogRow& row) { (*static_cast<F*>(t))(row); }) {}
    void operator()(const LogRow& row) const { call_(target_, row); }

private:
    void* target_;
    void (*call_)(void*, const LogRow&);
};

// Reads one log, all of it or, handed the same file again, only what was
// appended since: a test's log grows row by row while it is read. Never
// fails on what it finds: empty lines are skipped, other lines that are not
// rows are counted, and a file that is not a log gets a sentence.
class LogReader {
public:
    // Reads the bytes of path past those read before. Only a plain file is
    // opened (never a FIFO or a device). False when it cannot be read or is
    // not a log; problem says why, for the operator.
    bool ReadAppended(const std::string& path, RowSink onRow);
    // The same on bytes already in memory: the next piece of the file.
    void Feed(std::string_view bytes, RowSink onRow);

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
    void Line(std::string_view line, RowSink onRow);
    // A well-formed row whose line ends within [p, end), read in one pass
    // over its bytes (its time of day in secondOfDay, not yet dated): the
    // end of its line, or nullptr for any other line (read then by Line,
    // which says what it is).
    const char* FastRow(const char* p, const char* end, LogRow& row, int& secondOfDay);
    void Accept(LogRow& row, const RowDates& before, RowSink onRow);
    void Header(std::string_view line);
    bool Row(std::string_view line, LogRow& row);
    void Refuse(const std::string& why);

    void Bad();

    State state_ = State::Title;
    int64_t lastCount_ = 0;  // the last row's Count: the next is one more
    void AdvanceNext();
    void KnowNext();
    // lastCount_ + 1 in decimal and a tab, as the next row must begin; its
    // first eight bytes as a word, and the mask of those that count.
    char next_[24] = {};
    uint64_t nextWord_ = 0, nextMask_ = 0;
    uint64_t byteOne_[8] = {};  // 1 in byte i of a word, whatever the byte order
    int nextLength_ = 0;
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
