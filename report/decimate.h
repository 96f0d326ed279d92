#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace varnholt {

struct ChartPoint {
    double x = 0, y = 0;
};

// At most about `points` points for a series of any length: the values are
// cut into points/2 bins and each bin gives its minimum and its maximum, in
// the order they occur, so a one-cycle spike stays visible. A short series
// comes back whole.
std::vector<ChartPoint> MinMaxDecimate(const std::vector<ChartPoint>& series, size_t points = 2000);

}  // namespace varnholt

namespace varnholt {

// One bin of a long series: the rows it covers (from 1) and the spread of
// their values.
struct BinSpread {
    double firstRow = 0, lastRow = 0;
    double median = 0, low = 0, high = 0;
};

// The values cut into at most `bins` bins of consecutive rows, each with its
// median (the lower middle of an even count), least and greatest: a line that
// stays readable over a million rows, with the bins' range as a band.
std::vector<BinSpread> BinnedSpread(const std::vector<int32_t>& values, size_t bins);

}  // namespace varnholt
