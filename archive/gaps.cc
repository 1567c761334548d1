#include "gaps.h"

#include <algorithm>

#include "samples.h"

namespace zulu::archive {
namespace {

template <class T>
void find_gaps_of(SeriesReader &reader, std::int64_t least,
                  const std::function<void(std::int64_t, std::int64_t)> &gap) {
    const T unusable = unusable_as<T>(reader.series().unusable());
    const std::int64_t count = reader.series().count();
    std::int64_t start = -1;  // of the run in hand, or -1
    read_samples<T>(reader, 0, count, [&](std::int64_t index, const T *values, std::size_t n) {
        for (std::size_t k = 0; k < n;) {
            if (start < 0) {
                while (k + kChunk <= n && count_missing(values + k, unusable) == 0) k += kChunk;
                while (k < n && !format::missing(values[k], unusable)) ++k;
                if (k < n) start = index + static_cast<std::int64_t>(k);
            } else {
                while (k + kChunk <= n && count_missing(values + k, unusable) == static_cast<int>(kChunk)) k += kChunk;
                while (k < n && format::missing(values[k], unusable)) ++k;
                if (k < n) {
                    const std::int64_t end = index + static_cast<std::int64_t>(k);
                    if (end - start >= least) gap(start, end);
                    start = -1;
                }
            }
        }
    });
    if (start >= 0 && count - start >= least) gap(start, count);
}

// The runs of missing samples in the file of one piece, by the indices of
// `grid` from `offset` on.
void file_runs(const Piece &piece, const Grid &grid, std::int64_t offset, std::int64_t least,
               const std::function<void(const SurveyRow &)> &row) {
    Piece own = piece;
    own.offset = 0;
    own.moved = 0;
    const Series file = Series::from_pieces({own}, Overlap::kRefuse);
    SeriesReader reader(file);
    find_gaps(reader, least, [&](std::int64_t first, std::int64_t end) {
        row({RowKind::kMissing, piece.name, gap_fields(grid, offset + first, offset + end), "", ""});
    });
}

}  // namespace

void find_gaps(SeriesReader &reader, std::int64_t least, const std::function<void(std::int64_t, std::int64_t)> &gap) {
    with_sample_type(reader.series().type(), [&](auto tag) { find_gaps_of<decltype(tag)>(reader, least, gap); });
}

GapFields gap_fields(const Grid &grid, std::int64_t first, std::int64_t end) {
    if (end <= first) return {"", "", 0};
    return {sample_time_text(grid, first), sample_time_text(grid, end - 1), end - first};
}

std::string gap_row(const std::string &file, const Grid &grid, std::int64_t first, std::int64_t end) {
    const GapFields f = gap_fields(grid, first, end);
    return csv_field(file) + "," + f.start + "," + f.end + "," + std::to_string(f.samples) + "\n";
}

const char *kind_name(RowKind kind) {
    switch (kind) {
    case RowKind::kMissing:
        return "missing";
    case RowKind::kGap:
        return "gap";
    case RowKind::kOverlap:
        return "overlap";
    case RowKind::kOffGrid:
        return "off-grid";
    case RowKind::kSnapped:
        return "snapped";
    }
    return "";
}

std::string survey_row(const SurveyRow &row) {
    return std::string(kind_name(row.kind)) + "," + csv_field(row.file) + "," + row.span.start + "," + row.span.end +
           "," + std::to_string(row.span.samples) + "," + csv_field(row.other) + "," + csv_field(row.detail) + "\n";
}

void survey(const std::vector<std::string> &names, const SurveyRequest &request,
            const std::function<void(const SurveyRow &)> &row) {
    SeriesSurvey planned;
    if (names.size() == 1) planned.series = Series::of_bottle(names.front());
    else planned = Series::survey(names, {Overlap::kRefuse, request.snap});
    const std::vector<Piece> no_pieces;
    const std::vector<Piece> &pieces = planned.series ? planned.series->pieces() : no_pieces;
    const std::vector<Outsider> &outsiders = planned.outsiders;

    // The files in time order (of equal times, as named): pieces by the
    // time of their place in the series, the others by their begin time.
    // Both lists keep the order of the names.
    struct Entry {
        double time;
        std::size_t named;
        bool piece;
        std::size_t index;
    };
    std::vector<Entry> order;
    std::size_t next_piece = 0, next_outsider = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (next_piece < pieces.size() && pieces[next_piece].name == names[i]) {
            const Piece &p = pieces[next_piece];
            order.push_back({planned.series->grid().time(p.offset), i, true, next_piece++});
        } else if (next_outsider < outsiders.size()) {
            order.push_back({outsiders[next_outsider].grid.begin(), i, false, next_outsider++});
        }
    }
    std::stable_sort(order.begin(), order.end(), [](const Entry &a, const Entry &b) {
        // NaN times (a grid without times) go last.
        const bool an = a.time != a.time, bn = b.time != b.time;
        if (an != bn) return bn;
        return !an && a.time < b.time;
    });

    std::optional<SeriesReader> reader;
    if (planned.series) reader.emplace(*planned.series);
    std::vector<std::size_t> open;  // pieces with samples whose ends have not been passed
    std::int64_t covered = 0;       // the end of the samples of the pieces so far
    std::size_t covering = 0;       // the piece that reaches it
    bool any = false;
    for (const Entry &e : order) {
        if (!e.piece) {
            const Outsider &o = outsiders[e.index];
            const std::int64_t count = o.grid.count();
            row({RowKind::kOffGrid, o.name, gap_fields(o.grid, 0, count), "", o.reason});
            file_runs(o.piece, o.grid, 0, request.least, row);
            continue;
        }
        const Series &series = *planned.series;
        const Grid &grid = series.grid();
        const Piece &p = pieces[e.index];
        const std::int64_t end = p.offset + p.count;
        if (p.count > 0) {
            if (any && p.offset > covered && p.offset - covered >= request.least)
                row({RowKind::kGap, pieces[covering].name, gap_fields(grid, covered, p.offset), p.name, ""});
            std::erase_if(open, [&](std::size_t q) { return pieces[q].offset + pieces[q].count <= p.offset; });
            for (const std::size_t q : open) {
                const std::int64_t lo = p.offset, hi = std::min(end, pieces[q].offset + pieces[q].count);
                const auto differ = reader->first_difference(q, e.index, lo, hi);
                row({RowKind::kOverlap, pieces[q].name, gap_fields(grid, lo, hi), p.name,
                     differ ? "differ at " + sample_time_text(grid, *differ) : "agree"});
            }
            open.push_back(e.index);
            if (!any || end > covered) covered = end, covering = e.index;
            any = true;
        }
        if (p.moved != 0) row({RowKind::kSnapped, p.name, gap_fields(grid, p.offset, end), "", series.move_text(p)});
        file_runs(p, grid, p.offset, request.least, row);
    }
}

}  // namespace zulu::archive
