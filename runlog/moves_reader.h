#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnholt {

// One row of a log's companion of move times (cycle_log3-moves.tsv): the
// milliseconds from a command's last byte on the wire to the completed "RDY",
// none where that move did not happen or did not complete.
struct MoveRow {
    static constexpr int32_t kNone = -1;
    int64_t count = 0;
    int32_t openMs = kNone, closeMs = kNone;  // kept small: a week's run has 120,000 rows
};

// Reads a companion, like the log, only as far as its complete lines and
// only what was appended since the last read. A missing companion (logs of
// earlier versions) reads as no rows.
class MovesReader {
public:
    void ReadAppended(const std::string& path, std::vector<MoveRow>& rows);
    void Feed(std::string_view bytes, std::vector<MoveRow>& rows);
    uint64_t offset = 0;
    int64_t badLines = 0;
    std::string problem;  // why a companion that is there could not be read

private:
    void Line(std::string_view line, std::vector<MoveRow>& rows);
    std::string pending_;
    bool headerSeen_ = false;
};

}  // namespace varnholt
