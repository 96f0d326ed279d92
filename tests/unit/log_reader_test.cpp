#include "runlog/log_reader.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "runlog/log_writer.h"
#include "runlog/moves_reader.h"
#include "tests/support/temp_dir.h"

namespace varnholt {
namespace {

using testing::WorkingFolder;

struct Read {
    std::vector<std::string> rows;  // "count status ISO-time error"
    LogReader reader;
    bool ok = false;
};

std::string Shown(const LogRow& row) {
    return std::to_string(row.count) + (row.failure ? " FAILURE " : " SUCCESS ") +
           IsoLocalText(row.when) + (row.timeWentBack ? " back " : " ") + std::string(row.error);
}

Read ReadFile(const std::string& path) {
    Read r;
    r.ok = r.reader.ReadAppended(path, [&](const LogRow& row) { r.rows.push_back(Shown(row)); });
    return r;
}

std::tm At(int year, int month, int day, int hour, int minute, int second) {
    std::tm when{};
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    return when;
}

// The writer's rows come back as written: every escape, a supply's reply with
// its line end (and the empty line after), a reply with a CR of its own.
TEST(LogReader, RowsWrittenByTheWriterReadBackTheSame) {
    WorkingFolder folder;
    TestLog log;
    std::string errorText;
    ASSERT_TRUE(TestLogCreate(TestLogKind::CycleTest, log, errorText)) << errorText;
    const std::string replies[] = {
        "NONE",
        "CloseShutter Error: E2\tJAM\r\nRDY\r",
        "PowerOn Error: -222,\"Data out of range\"\r\n",
        std::string("OpenShutter Error: \0\x1b\x7f<TAB> \xc3\xbc\xff", 31),
        "OpenShutter Error: E1\r",
    };
    int64_t count = 1;
    for (const std::string& reply : replies) {
        ASSERT_TRUE(TestLogWriteRow(log, count++, reply == "NONE" ? "SUCCESS" : "FAILURE", reply));
    }
    TestLogClose(log);
    const Read r = ReadFile(log.fileName);
    ASSERT_TRUE(r.ok) << r.reader.problem;
    ASSERT_EQ(r.rows.size(), 5u);
    const char* const expected[] = {
        "NONE",
        "CloseShutter Error: E2<TAB>JAM<CR><LF>RDY",
        "PowerOn Error: -222,\"Data out of range\"",
        "OpenShutter Error: <00><1B><7F><TAB> \xc3\xbc\xff",
        "OpenShutter Error: E1",
    };
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(r.rows[i].substr(r.rows[i].find(' ', r.rows[i].find('T')) + 1), expected[i]);
    }
    EXPECT_EQ(r.reader.badLines, 0);
    EXPECT_FALSE(r.reader.PartialLastLine());
    EXPECT_EQ(r.reader.kind, TestLogKind::CycleTest);
}

// Dates: the start's, one day on at each time earlier than the row before; a
// small step back (a clock set back) is read the same way and marked.
// Power-cut rows: an empty Error, and the final opening's failure inside a
// SUCCESS row.
TEST(LogReader, DatesFollowMidnightsAndPowerCutRowsKeepTheirErrors) {
    WorkingFolder folder;
    const std::string text =
        LogHeaderText(TestLogKind::PowerCutTest, At(2026, 12, 31, 23, 59, 50)) +
        LogRowText(1, "SUCCESS", At(2026, 12, 31, 23, 59, 55), "") +
        LogRowText(2, "SUCCESS", At(2027, 1, 1, 0, 0, 3),
                   "OpenShutter Error: -1 Timed out waiting for shutter response") +
        LogRowText(3, "SUCCESS", At(2027, 1, 1, 0, 0, 3), "") +
        LogRowText(4, "SUCCESS", At(2027, 1, 1, 11, 0, 0), "") +
        LogRowText(5, "FAILURE", At(2027, 1, 1, 10, 0, 0), "PowerOff Error: -1 x\r\n");
    folder.Write("powercut_log2.txt", text);
    const Read r = ReadFile("powercut_log2.txt");
    ASSERT_TRUE(r.ok) << r.reader.problem;
    EXPECT_EQ(r.reader.kind, TestLogKind::PowerCutTest);
    EXPECT_EQ(IsoLocalText(r.reader.started), "2026-12-31T23:59:50");
    const std::vector<std::string> expected = {
        "1 SUCCESS 2026-12-31T23:59:55 ",
        "2 SUCCESS 2027-01-01T00:00:03 OpenShutter Error: -1 Timed out waiting for shutter "
        "response",
        "3 SUCCESS 2027-01-01T00:00:03 ",
        "4 SUCCESS 2027-01-01T11:00:00 ",
        "5 FAILURE 2027-01-02T10:00:00 back PowerOff Error: -1 x",
    };
    EXPECT_EQ(r.rows, expected);
}

// Read as it grows: each read takes only the bytes appended since, an
// unfinished last line waits for its end, and pieces cut anywhere give the
// same rows as the whole.
TEST(LogReader, AppendedBytesAreReadOnceAndAnUnfinishedLineWaits) {
    WorkingFolder folder;
    const std::string head = LogHeaderText(TestLogKind::CycleTest, At(2026, 12, 8, 15, 7, 9));
    const std::string row1 = LogRowText(1, "SUCCESS", At(2026, 12, 8, 15, 7, 14), "NONE");
    const std::string row2 = LogRowText(2, "FAILURE", At(2026, 12, 8, 15, 7, 31), "E2\r");
    folder.Write("cycle_log1.txt", head + row1 + row2.substr(0, 9));
    std::vector<std::string> rows;
    LogReader reader;
    const auto onRow = [&](const LogRow& row) { rows.push_back(Shown(row)); };
    ASSERT_TRUE(reader.ReadAppended("cycle_log1.txt", onRow)) << reader.problem;
    EXPECT_EQ(rows.size(), 1u);
    EXPECT_TRUE(reader.PartialLastLine());
    {
        std::ofstream out("cycle_log1.txt", std::ios::app | std::ios::binary);
        out << row2.substr(9);
    }
    ASSERT_TRUE(reader.ReadAppended("cycle_log1.txt", onRow));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1], "2 FAILURE 2026-12-08T15:07:31 E2");
    EXPECT_FALSE(reader.PartialLastLine());
    EXPECT_EQ(reader.offset, head.size() + row1.size() + row2.size());
    ASSERT_TRUE(reader.ReadAppended("cycle_log1.txt", onRow));
    EXPECT_EQ(rows.size(), 2u);

    const std::string whole = head + row1 + "garbage\r\n\r\n" + row2;
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        LogReader pieces;
        std::vector<std::string> got;
        const auto add = [&](const LogRow& row) { got.push_back(Shown(row)); };
        pieces.Feed(std::string_view(whole).substr(0, cut), add);
        pieces.Feed(std::string_view(whole).substr(cut), add);
        EXPECT_EQ(got, (std::vector<std::string>{rows[0], rows[1]})) << cut;
        EXPECT_EQ(pieces.badLines, 1) << cut;
    }
}

// Whole rows are read in one pass; any other line the long way. Both must
// agree on every line: read whole (the one pass where it can) and a byte at
// a time (always the long way), the rows, their dates and the bad lines are
// the same, the Count's carries (9 to 10, 999 to 1000) included.
TEST(LogReader, TheOnePassReadingAgreesWithTheLongWay) {
    std::string log = LogHeaderText(TestLogKind::CycleTest, At(2026, 12, 8, 23, 59, 0));
    const char* const odd[] = {
        "0%d\tSUCCESS\t9:00:00 AM\tNONE\r\n",    // a leading zero
        "%d\tSUCCESS\t13:00:00 AM\tNONE\r\n",    // no such hour
        "%d\tSUCCESS\t9:00:00 AM\tE2\tJAM\r\n",  // a tab in the error
        "%d\tSUCCES\t9:00:00 AM\tNONE\r\n",      // no such status
        "%d\tSUCCESS\t9:0:00 AM\tNONE\r\n",      // a short minute
        "%d\tSUCCESS\t9:00:00 AM\r\n",           // no error field
        "%d\tSUCCESS\t9:0?:00 AM\tNONE\r\n",     // a digit's high nibble, not its low one
        "%d\tSUCCESS\t9:00:0/ AM\tNONE\r\n",     // just below '0'
        "%d\tSUCCESS\t9:00-00 AM\tNONE\r\n",     // a separator that is not one
        "%d\tSUCCESS\t9:00:00 XM\tNONE\r\n",     // neither AM nor PM
        "%d\tSUCCESS\t9:60:00 AM\tNONE\r\n",     // no such minute
    };
    int64_t bad = 0;
    for (int count = 1; count <= 1001; ++count) {
        const int second = count * 7 % 86400;  // through midnight and back
        char time[16];
        std::snprintf(time, sizeof time, "%d:%02d:%02d %s",
                      (second / 3600) % 12 == 0 ? 12 : (second / 3600) % 12, second / 60 % 60,
                      second % 60, second < 43200 ? "AM" : "PM");
        const char* error = count % 97 == 0   ? "OpenShutter Error: -1 Timed out"
                            : count % 89 == 0 ? "NONE\r"
                                              : "NONE";
        log += std::to_string(count) + (count % 97 == 0 ? "\tFAILURE\t" : "\tSUCCESS\t") + time +
               "\t" + error + (count % 5 == 0 ? "\n" : "\r\n");
        if (count % 50 == 0) {
            char line[64];
            std::snprintf(line, sizeof line, odd[count / 50 % std::size(odd)], count + 1);
            log += line;
            ++bad;
        }
        if (count % 333 == 0) {
            log += std::to_string(count) + "\tSUCCESS\t9:00:00 AM\tNONE\r\n";  // out of sequence
            ++bad;
        }
    }
    const auto read = [&](size_t piece) {
        LogReader reader;
        std::vector<std::string> rows;
        const auto add = [&](const LogRow& row) { rows.push_back(Shown(row)); };
        for (size_t at = 0; at < log.size(); at += piece) {
            reader.Feed(std::string_view(log).substr(at, piece), add);
        }
        return std::make_pair(rows, reader.badLines);
    };
    const auto whole = read(log.size());
    EXPECT_EQ(whole.first.size(), 1001u);
    EXPECT_EQ(whole.second, bad);
    EXPECT_EQ(whole, read(1));
    EXPECT_EQ(whole.first[9], "10 SUCCESS 2026-12-09T00:01:10 NONE");
    EXPECT_EQ(whole.first[96], "97 FAILURE 2026-12-09T00:11:19 OpenShutter Error: -1 Timed out");
}

// Move times read a row at a time in one pass give what the long way gives,
// odd lines and all, whether the bytes come whole or one by one.
// The Count a row must begin with is kept by additions to a word, its text
// only where the carry runs: after every step it must be what a fresh
// reckoning of the number gives, across the carries and the numbers that
// grow a digit, past the word's seven digits too.
TEST(LogReader, TheNextCountStaysTheNumberItCounts) {
    for (const int64_t first : {int64_t{1}, int64_t{95}, int64_t{999990}, int64_t{9999990},
                                int64_t{99999990}, int64_t{1999999990}}) {
        detail::NextCount next;
        next.Set(first);
        for (int64_t count = first + 1; count < first + 25; ++count) {
            next.Advance(count);
            detail::NextCount fresh;
            fresh.Set(count);
            ASSERT_EQ(next.length, fresh.length) << count;
            EXPECT_EQ(next.word & next.mask, fresh.word & fresh.mask) << count;
            EXPECT_EQ(next.mask, fresh.mask) << count;
            // Up to seven digits a row is compared with the word; past them
            // with the text.
            if (fresh.length >= 8) {
                EXPECT_EQ(std::string(next.text, static_cast<size_t>(next.length) + 1),
                          std::to_string(count) + "\t");
            }
        }
    }
}

TEST(MovesReader, TheOnePassReadingAgreesWithTheLongWay) {
    std::string moves = std::string(kMovesColumns) + "\r\n";
    const char* const odd[] = {
        "%d\t\t190\r\n",                        // no open move
        "%d\t200\t\r\n",                        // no close move
        "%d\t200\t190\r\r\n",                   // two CRs
        "%d\t200\t190\n",                       // no CR
        "%d\t1234567890\t190\r\n",              // ten digits: no time a move takes
        "%d\t2x0\t190\r\n",                     // not a number
        "%d\t200\t190\t5\r\n",                  // a fourth field
        "1234567890123456789%d\t200\t190\r\n",  // a Count past 18 digits
    };
    for (int count = 1; count <= 400; ++count) {
        char line[64];
        std::snprintf(line, sizeof line,
                      count % 7 == 0 ? odd[count / 7 % std::size(odd)] : "%d\t%d\t%d\r\n", count,
                      150 + count % 90, 140 + count % 70);
        moves += line;
    }
    const auto read = [&](size_t piece) {
        MovesReader reader;
        std::vector<MoveRow> rows;
        for (size_t at = 0; at < moves.size(); at += piece) {
            reader.Feed(std::string_view(moves).substr(at, piece), rows);
        }
        std::vector<std::string> shown;
        for (const MoveRow& r : rows) {
            shown.push_back(std::to_string(r.count) + " " + std::to_string(r.openMs) + " " +
                            std::to_string(r.closeMs));
        }
        return std::make_pair(shown, reader.badLines);
    };
    const auto whole = read(moves.size());
    EXPECT_EQ(whole, read(1));
    // 57 odd lines, the last four shapes no row: 7 rounds of 8 give 28.
    EXPECT_EQ(whole.second, 28);
    EXPECT_EQ(whole.first[0], "1 151 141");
    EXPECT_EQ(whole.first[6], "7 200 -1");  // the first odd line (7 / 7 = 1): no close move
}

// Files that are not logs get a sentence; lines that are not rows are counted.
TEST(LogReader, HostileFilesGetASentenceAndBadLinesAreCounted) {
    WorkingFolder folder;
    const std::string head = LogHeaderText(TestLogKind::CycleTest, At(2026, 12, 8, 15, 7, 9));
    struct Case {
        const char* name;
        std::string content;
        const char* problem;  // nullptr: read, with badLines
        int64_t badLines;
        size_t rows;
    };
    const Case cases[] = {
        {"empty", "", "it is empty", 0, 0},
        {"notes", "lab notes\r\n", "it is not a Varnholt test log: its first line 'lab notes'", 0,
         0},
        {"binary",
         std::string("\x7f"
                     "ELF\x02\x01\x01\0\0\0",
                     10),
         "it is not a Varnholt test log", 0, 0},
        {"cut header", head.substr(0, 30), "it ends inside the header", 0, 0},
        {"bad date", "Shutter Cycle Test\r\nStarted on 13/8/2026 at 3:07:09 PM\r\n",
         "its second line 'Started on 13/8/2026 at 3:07:09 PM' is not", 0, 0},
        {"header only", head, nullptr, 0, 0},
        {"old rows without escapes", head + "1\tFAILURE\t3:07:31 PM\tE2 JAM\r\nRDY\r\r\n", nullptr,
         1, 1},
        {"garbage rows",
         head + "x\tSUCCESS\t3:07:14 PM\tNONE\r\n" + "1\tOK\t3:07:14 PM\tNONE\r\n" +
             "1\tSUCCESS\t13:07:14 PM\tNONE\r\n" + "1\tSUCCESS\t3:07:14 PM\r\n" +
             "1\tSUCCESS\t3:07:14 PM\tNONE\textra\r\n" + "-1\tSUCCESS\t3:07:14 PM\tNONE\r\n" +
             "1\tSUCCESS\t3:07:14 PM\t\r\n" + std::string(100000, 'z') + "\r\n",
         nullptr, 7, 1},
        // Counts out of their place: repeated, skipped, zero-padded, or far
        // beyond the rows, as a file pasted together would have them.
        {"counts out of place",
         head + "1\tSUCCESS\t3:07:14 PM\tNONE\r\n" + "007\tSUCCESS\t3:07:15 PM\tNONE\r\n" +
             "0\tSUCCESS\t3:07:16 PM\tNONE\r\n" + "3\tFAILURE\t3:07:17 PM\tJAM\r\n" +
             "2\tSUCCESS\t3:07:18 PM\tNONE\r\n" + "2\tFAILURE\t3:07:19 PM\tJAM\r\n" +
             "999999999999999999\tFAILURE\t3:07:20 PM\tJAM\r\n",
         nullptr, 5, 2},
        // No line end in the first 64 KiB: not a log, whatever else it is.
        {"NULs", std::string(100000, '\0'),
         "it is not a Varnholt test log: its first 64 KiB hold no line end", 0, 0},
        {"lines ended by CR alone",
         [] {
             std::string text;
             for (int i = 0; i < 5000; ++i) text += "Shutter Cycle Test\r";
             return text;
         }(),
         "it is not a Varnholt test log: its first 64 KiB hold no line end", 0, 0},
    };
    for (const Case& c : cases) {
        folder.Write("cycle_log1.txt", c.content);
        const Read r = ReadFile("cycle_log1.txt");
        if (c.problem != nullptr) {
            EXPECT_FALSE(r.ok) << c.name;
            EXPECT_EQ(r.reader.problem.rfind(c.problem, 0), 0u)
                << c.name << ": " << r.reader.problem;
        } else {
            EXPECT_TRUE(r.ok) << c.name << ": " << r.reader.problem;
            EXPECT_EQ(r.reader.badLines, c.badLines) << c.name;
            EXPECT_EQ(r.rows.size(), c.rows) << c.name;
        }
    }
    std::filesystem::remove("cycle_log1.txt");
    std::filesystem::create_directory("cycle_log1.txt");
    EXPECT_EQ(ReadFile("cycle_log1.txt").reader.problem, "it is a folder, not a log");
    EXPECT_EQ(ReadFile("cycle_log9.txt").reader.problem, "it does not exist");
#ifndef _WIN32
    ASSERT_EQ(::mkfifo("cycle_log2.txt", 0600), 0);  // an open would block for good
    EXPECT_EQ(ReadFile("cycle_log2.txt").reader.problem, "it is a named pipe (FIFO), not a log");
    ::symlink("loop.txt", "cycle_log3.txt");
    ::symlink("cycle_log3.txt", "loop.txt");
    EXPECT_EQ(ReadFile("cycle_log3.txt").reader.problem,
              "its symbolic links lead round in a circle");
    ::symlink("/dev/zero", "cycle_log4.txt");
    EXPECT_EQ(ReadFile("cycle_log4.txt").reader.problem, "it is a device, not a log");
#endif
}

}  // namespace
}  // namespace varnholt
