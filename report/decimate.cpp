#include "report/decimate.h"

namespace varnholt {

std::vector<ChartPoint> MinMaxDecimate(const std::vector<ChartPoint>& series, size_t points) {
    if (series.size() <= points || points < 2) return series;
    const size_t bins = points / 2;
    std::vector<ChartPoint> out;
    out.reserve(bins * 2);
    for (size_t bin = 0; bin < bins; ++bin) {
        const size_t begin = series.size() * bin / bins;
        const size_t end = series.size() * (bin + 1) / bins;
        if (begin == end) continue;
        size_t low = begin, high = begin;
        for (size_t i = begin + 1; i < end; ++i) {
            if (series[i].y < series[low].y) low = i;
            if (series[i].y > series[high].y) high = i;
        }
        out.push_back(series[low < high ? low : high]);
        if (low != high) out.push_back(series[low < high ? high : low]);
    }
    return out;
}

}  // namespace varnholt
