// Gaps: the runs of missing samples in bottles and, for bottles taken as
// one series, the gaps and overlaps between them and the files that do not
// join it, as one table of CSV rows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "series.h"

namespace zulu::archive {

// The header line of the runs alone, as earlier versions wrote them.
inline constexpr char kGapsHeader[] = "file,start,end,samples\n";

// The header line of the table.
inline constexpr char kSurveyHeader[] = "kind,file,start,end,samples,other,detail\n";

// Calls gap(first, end) for each run [first, end) of missing samples
// (format::missing) of at least `least` samples, in order.  Only samples
// of the series make gaps: nothing before its first or after its last.
void find_gaps(SeriesReader &reader, std::int64_t least,
               const std::function<void(std::int64_t first, std::int64_t end)> &gap);

// The fields of the row of one run: the times (ISO 8601 with
// milliseconds) of its first and last sample, and its length; no times
// for no samples.
struct GapFields {
    std::string start, end;
    std::int64_t samples = 0;
};
GapFields gap_fields(const Grid &grid, std::int64_t first, std::int64_t end);

// The row of one run as a line of CSV: the file as a field, then the
// fields above; with the line's newline.
std::string gap_row(const std::string &file, const Grid &grid, std::int64_t first, std::int64_t end);

// The kinds of the table's rows.
enum class RowKind {
    kMissing,  // a run of missing samples inside a file
    kGap,      // no file holds the samples between two files
    kOverlap,  // two files hold samples of the same times
    kOffGrid,  // a file that does not join the series (interval, type, unusable value, begin time)
    kSnapped,  // a file that a snap placed on the grid
};
const char *kind_name(RowKind kind);  // "missing", "gap", "overlap", "off-grid", "snapped"

struct SurveyRow {
    RowKind kind = RowKind::kMissing;
    std::string file;    // for a gap or an overlap, the earlier file
    GapFields span;      // the samples the row is about
    std::string other;   // for a gap or an overlap, the later file
    std::string detail;  // an overlap: "agree" or "differ at TIME"; off the grid: why; snapped: the move
};

// The row as a line of CSV under kSurveyHeader, with its newline.
std::string survey_row(const SurveyRow &row);

struct SurveyRequest {
    std::int64_t least = 1;  // runs and gaps of fewer samples are left out
    double snap = 0;         // as JoinRules::snap
};

// The table of the bottles `names` taken as one series (one bottle as it
// is, several joined by the rules of Series::joined), in time order of the
// files: for each file, the gap before it or its overlap with each earlier
// file (whether their usable samples agree, or the first time where they
// differ), the move that placed it, or why it stays off the grid, then
// the runs of missing samples inside it.  The times of a file that joins
// are those of the series, the others' their own.  A Failure only where a
// file is not a readable bottle, or the snap is too large.
void survey(const std::vector<std::string> &names, const SurveyRequest &request,
            const std::function<void(const SurveyRow &row)> &row);

}  // namespace zulu::archive
