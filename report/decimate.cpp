#include "report/decimate.h"

#include <algorithm>

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

namespace varnholt {

std::vector<BinSpread> BinnedSpread(const std::vector<int32_t>& values, size_t bins) {
    std::vector<BinSpread> out;
    if (values.empty() || bins == 0) return out;
    bins = std::min(bins, values.size());
    out.reserve(bins);
    std::vector<int32_t> slice;
    for (size_t bin = 0; bin < bins; ++bin) {
        const size_t begin = values.size() * bin / bins;
        const size_t end = values.size() * (bin + 1) / bins;
        slice.assign(values.begin() + static_cast<std::ptrdiff_t>(begin),
                     values.begin() + static_cast<std::ptrdiff_t>(end));
        const auto middle = slice.begin() + static_cast<std::ptrdiff_t>((slice.size() - 1) / 2);
        std::nth_element(slice.begin(), middle, slice.end());
        const auto [low, high] = std::minmax_element(slice.begin(), slice.end());
        out.push_back({static_cast<double>(begin + 1), static_cast<double>(end),
                       static_cast<double>(*middle), static_cast<double>(*low),
                       static_cast<double>(*high)});
    }
    return out;
}

}  // namespace varnholt
