#pragma once

#include <cstdint>
#include <string>

namespace varnholt {

// One way of writing figures in every page, table and window: counts and
// cycles with thousands separators, a shape with two decimals, one date
// form, singular and plural right.

// 31000 as "31,000".
std::string Thousands(int64_t value);
// Cycles rounded to whole ones: "15,585"; "not finite" for a bound the
// likelihood does not close, never a wrapped integer; past 10^15, in powers
// of ten ("9.3e+18").
std::string CyclesText(double value);
// "0 units", "1 unit", "2 units", "12,000 units".
std::string Counted(int64_t count, const char* one, const char* many);
// A Weibull shape: "1.68".
std::string ShapeText(double beta);
// A local time (LocalSeconds) as every document writes it: "2026-12-08 15:07".
std::string DateText(int64_t localSeconds);

// Characters of UTF-8 text (not bytes), and its first n of them: columns
// of a table are counted in what the terminal shows.
size_t Utf8Length(const std::string& text);
std::string Utf8Prefix(const std::string& text, size_t characters);

// The Greek letters, or their names where the reader's terminal is not UTF-8.
struct Symbols {
    const char* beta;
    const char* eta;
    const char* atLeast;
};
inline constexpr Symbols kUnicode{"\u03b2", "\u03b7", "\u2265"};
inline constexpr Symbols kAscii{"beta", "eta", ">="};

}  // namespace varnholt
