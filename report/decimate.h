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
