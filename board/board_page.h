#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board/bench_board.h"

namespace varnholt {

// Text for HTML: <, >, &, quotes as entities, control characters as U+FFFD;
// every name on the page goes through it, so a name is never markup.
std::string HtmlText(const std::string& text);

std::string BenchesJson(const std::vector<BenchView>& benches);
// The Prometheus text format, one series per bench.
std::string MetricsText(const std::vector<BenchView>& benches);
// The benches' tiles, for the page and for its updates.
std::string BenchesHtml(const std::vector<BenchView>& benches, int64_t nowMs);
// The whole page: the tiles, the lots, and a script that fetches both
// again every second. Nothing is loaded from elsewhere.
std::string PageHtml(const std::string& benchesHtml, const std::string& lotsHtml);

}  // namespace varnholt
