// The inline parts of LogReader: the one pass over a well-formed row, and
// the loop that calls the reader's caller for each row without an indirect
// call. Included by log_reader.h only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace varnholt {
namespace detail {

// Words are compared as they lie in memory: byte i of the text is byte i of
// the word, whatever the machine's byte order.
constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
constexpr uint64_t ByteOfWord(int i, unsigned char value) {
    return static_cast<uint64_t>(value) << (8 * (kLittleEndian ? i : 7 - i));
}
// The bytes of a text (without its closing NUL) as one word of their size.
template <class W, size_t N>
constexpr W Word(const char (&bytes)[N]) {
    static_assert(N == sizeof(W) + 1, "a word's worth of bytes");
    W w = 0;
    for (size_t i = 0; i < sizeof(W); ++i) {
        const size_t at = kLittleEndian ? i : sizeof(W) - 1 - i;
        w |= static_cast<W>(static_cast<W>(static_cast<unsigned char>(bytes[i])) << (8 * at));
    }
    return w;
}

// ":mm:ss A" of a row's time: the bytes that are not digits.
constexpr uint64_t kTimeFixedMask = Word<uint64_t>("\xff\0\0\xff\0\0\xff\0");
constexpr uint64_t kTimeFixed = Word<uint64_t>(":\0\0:\0\0 \0");
// Two digits as they lie in memory, read as one 16-bit number: their value
// 0 to 59, or kNoPair for anything else.
constexpr unsigned char kNoPair = 0x80;
extern const std::array<unsigned char, 65536> kPairValue;
constexpr uint32_t kAm = Word<uint32_t>(" AM\t"), kPm = Word<uint32_t>(" PM\t");
constexpr uint64_t kSuccess = Word<uint64_t>("SUCCESS\t"), kFailure = Word<uint64_t>("FAILURE\t");

}  // namespace detail

// Inlined into the loop: as a call it saved and restored six registers a row.
[[gnu::always_inline]] inline const char* LogReader::FastRow(const char* p, const char* end,
                                                             uint64_t nextWord, uint64_t nextMask,
                                                             int nextLength, const char* nextText,
                                                             LogRow& row, int& secondOfDay) {
    // The Count must be the one after the last row's: compared as text
    // with that number, not parsed. Any other line goes the long way, which
    // says what it is.
    const char* q = p;
    // The longest row of the usual shape, "<count>\tFAILURE\thh:mm:ss PM\tNONE\r\n",
    // fits or the line goes the long way: one check instead of one a field.
    if (end - q < nextLength + 27) return nullptr;
    if (nextLength < 8) {
        // Count and tab, up to seven digits, in one comparison of a word.
        uint64_t word;
        std::memcpy(&word, q, sizeof word);
        if (((word ^ nextWord) & nextMask) != 0) return nullptr;
    } else if (std::memcmp(q, nextText, static_cast<size_t>(nextLength) + 1) != 0) {
        return nullptr;
    }
    q += nextLength + 1;
    // Status and its tab: eight bytes either way.
    uint64_t status;
    std::memcpy(&status, q, sizeof status);
    if (status == detail::kSuccess) {
        row.failure = false;
    } else if (status == detail::kFailure) {
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
    // Minutes and seconds by a table of digit pairs, the separators as one
    // word: a few operations rather than a test a byte.
    uint64_t word;
    std::memcpy(&word, m, sizeof word);
    uint16_t minutePair, secondPair;
    std::memcpy(&minutePair, m + 1, sizeof minutePair);
    std::memcpy(&secondPair, m + 4, sizeof secondPair);
    const int minute = detail::kPairValue[minutePair], sec = detail::kPairValue[secondPair];
    uint32_t tail;  // " AM\t" or " PM\t"
    std::memcpy(&tail, m + 6, sizeof tail);
    const bool wrong = ((word & detail::kTimeFixedMask) != detail::kTimeFixed) |
                       (((minute | sec) & detail::kNoPair) != 0) |
                       ((tail != detail::kAm) & (tail != detail::kPm)) | (hour < 1) | (hour > 12);
    if (wrong) return nullptr;
    secondOfDay =
        ((hour == 12 ? 0 : hour) + (tail == detail::kPm ? 12 : 0)) * 3600 + minute * 60 + sec;
    q = m + 10;
    // The error, to the line's end; a tab in it makes the line no row. Most
    // rows say NONE.
    if (std::memcmp(q, "NONE\r\n", 6) == 0) {
        row.error = std::string_view(q, 4);
        return q + 5;
    }
    const char* e = q;
    while (e != end && *e != '\n' && *e != '\t') ++e;
    if (e == end || *e == '\t') return nullptr;
    const char* errorEnd = e;
    while (errorEnd != q && errorEnd[-1] == '\r') --errorEnd;
    row.error = std::string_view(q, static_cast<size_t>(errorEnd - q));
    return e;
}

template <class F>
const char* LogReader::FastRows(const char* p, const char* end, F& onRow) {
    if (!nextKnown_) {
        next_.Set(lastCount_ + 1);
        nextKnown_ = true;
    }
    // The reader's state is worked on in locals and put back after the
    // loop: a byte stored into the next Count's text would otherwise make
    // the compiler load every member again for each row.
    detail::NextCount next = next_;
    RowDates dates = dates_;
    int64_t count = lastCount_, lineNumber = lineNumber_, rowsRead = rows;
    LogRow row;
    int second = 0;
    while (const char* lineEnd =
               FastRow(p, end, next.word, next.mask, next.length, next.text, row, second)) {
        p = lineEnd + 1;
        row.count = ++count;
        row.line = ++lineNumber;
        ++rowsRead;
        row.when = dates.Next(second, &row.timeWentBack);
        next.Advance(count + 1);
        onRow(static_cast<const LogRow&>(row));
    }
    next_ = next;
    dates_ = dates;
    lastCount_ = count;
    lineNumber_ = lineNumber;
    rows = rowsRead;
    return p;
}

template <class F>
void LogReader::Feed(std::string_view bytes, F&& onRow) {
    offset += bytes.size();
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p != end && state_ != State::NotALog) {
        // Row after row in one loop while they are well formed: nearly
        // every line of a log.
        if (state_ == State::Rows && pending_.empty() && !pendingTooLong_) {
            p = FastRows(p, end, onRow);
            if (p == end) break;
        }
        p = SlowLine(p, end, onRow);
    }
}

}  // namespace varnholt
