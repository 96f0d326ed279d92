// Reading 1,000 rows appended to a log costs time in proportion to those
// rows, not to the file: timed on a log of LOG_ROWS rows and on a fresh one.
// usage: append_read FOLDER_WITH_A_LONG_LOG
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "report/report.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Rows(int64_t first, int n) {
    std::string text;
    for (int i = 0; i < n; ++i) {
        text += std::to_string(first + i) + "\tSUCCESS\t3:07:14 PM\t\r\n";
    }
    return text;
}

// Microseconds for one read of 1,000 appended rows (best of five).
double AppendedRead(const std::string& path, int64_t firstCount) {
    varnholt::RunFile run(".", path);
    run.Refresh();
    double best = 1e18;
    for (int round = 0; round < 5; ++round) {
        {
            std::ofstream out(path, std::ios::app | std::ios::binary);
            out << Rows(firstCount + round * 1000, 1000);
        }
        const auto start = Clock::now();
        run.Refresh();
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (us < best) best = us;
    }
    return best;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) return 2;
    const std::string folder = argv[1];
    const std::string big = folder + "/powercut_log1.txt";
    const std::string small = folder + "/powercut_log2.txt";
    std::filesystem::copy_file(big, small, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(small, 200);  // header and a few rows
    std::ifstream in(small, std::ios::binary);
    std::string head((std::istreambuf_iterator<char>(in)), {});
    head.resize(head.rfind('\n') + 1);
    std::ofstream(small, std::ios::binary | std::ios::trunc) << head;
    const double onBig = AppendedRead(big, 2'000'000);
    const double onSmall = AppendedRead(small, 10);
    std::printf(
        "append: 1,000 appended rows read in %.0f us on a %.0f MB log, %.0f us on a "
        "%zu-byte log\n",
        onBig, static_cast<double>(std::filesystem::file_size(big)) / 1e6, onSmall, head.size());
    return 0;
}
