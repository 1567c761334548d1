// Series: the samples of one bottle, or of several joined on one time grid,
// as one sequence by index.  A series is planned from the headers alone
// (which file's samples go where); a reader then reads any window of it
// into the caller's buffer.  Every job on samples (cat, cut, gaps, stats,
// export, dump, plot) and the Python package and its xarray arrays read
// through here, so the placement, the merge of overlapping files and what
// a sample missing from every file reads as are decided once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bot.h"
#include "failure.h"
#include "files.h"
#include "grid.h"

namespace zulu::archive {

// Which file wins where files overlap and both hold a usable sample.
enum class Overlap {
    kRefuse,  // usable samples that differ are an error
    kFirst,   // the file named first wins
    kLast,    // the file named last wins
};

// How files join into one series.
struct JoinRules {
    Overlap overlap = Overlap::kRefuse;
    // Seconds: a file whose begin time lies off the grid of the series by
    // at most this much is placed on the nearest sample time of the grid,
    // and the move is reported (Series::move_notes).  0 moves nothing; it
    // must be less than half the interval.
    double snap = 0;
};

// What a job that writes the samples of a series reports: how many it
// wrote, and what the command says on standard error and Python as
// warnings (the moves of a snap, how much of a window a partial cut kept).
struct JobReport {
    std::int64_t samples = 0;
    std::vector<std::string> notes;
};

// The files named that a job on their series reads: what its output may
// not be (input_file of each that is one).
std::vector<InputFile> input_files(const std::vector<std::string> &names);

// One file of a series and where its samples go.
struct Piece {
    std::string name;
    FileId id{};             // the file as planned: a reader refuses another one under the name
    bottle_hdr header{};     // its 40 header bytes as stored (pbuf unused)
    std::int64_t count = 0;  // the samples it held when planned; the series reads no more of it
    std::int64_t offset = 0; // the series index of its sample 0
    // Seconds a snap moved its samples: the time of its sample 0 in the
    // series minus its begin time; 0 for a file on the grid.
    double moved = 0;
};

// A file that does not join a series, and why.
struct Outsider {
    std::string name;
    std::string reason;   // a clause: "has the interval 0.02 s, 50 Hz (a.bot has 0.01 s, 100 Hz)"
    std::string message;  // the sentence a join that needs the file fails with, naming it
    Grid grid;            // its own, over the samples it holds
    Piece piece;          // the file as read, at offset 0
};

struct SeriesSurvey;

class Series {
public:
    Series() = default;

    // One bottle from its sample 0; a Failure when it is not a readable
    // bottle, or holds samples past what a bottle reaches.
    static Series of_bottle(const std::string &name);
    // Bottles joined as one series: one type, interval and unusable value,
    // begin times a whole number of nominal intervals apart (within the
    // grid's tolerance, or the rules' snap), in time order whatever the
    // order of the names; index 0 is the earliest sample (the earliest
    // begin time when no file holds a sample).  The grid is the one most of
    // the files keep (of those that keep it equally often, the one of the
    // file named first), so that the file off it is the one named: a
    // Failure naming the first file that cannot be joined.
    static Series joined(const std::vector<std::string> &names, const JoinRules &rules = {});
    // The series of the files that join, by the rules of joined(), and the
    // files that do not, with what keeps each out; a Failure only for a
    // file that is not a readable bottle, or a snap that is not less than
    // half the interval.
    static SeriesSurvey survey(const std::vector<std::string> &names, const JoinRules &rules = {});
    // One bottle as of_bottle() gives it (whatever its grid), several as
    // joined() does.
    static Series of_files(const std::vector<std::string> &names, const JoinRules &rules = {});
    // A series planned before, from its pieces (as a pickled one comes
    // back); a Failure where they do not make one.
    static Series from_pieces(std::vector<Piece> pieces, Overlap overlap);

    const std::vector<Piece> &pieces() const { return pieces_; }
    // The grid of the series: sample 0 at the begin time of the piece that
    // holds it, count() samples.
    const Grid &grid() const { return grid_; }
    // The grid, or a Failure naming the file when it gives samples no times
    // (a begin time or interval not finite, an interval of 0): for jobs
    // that turn times into samples.
    const Grid &grid_for_times() const;
    std::int64_t count() const { return grid_.count(); }
    int type() const { return type_; }
    std::int32_t unusable() const { return usym_; }
    Overlap overlap() const { return overlap_; }
    // The piece whose begin time is the series' (its header is the one a
    // joined bottle takes).
    const Piece &first_piece() const { return pieces_[first_]; }
    // Whether any two pieces hold samples of one index.
    bool overlapping() const { return overlapping_; }
    // The move of a piece that a snap placed on the grid, in nanoseconds
    // (its sample 0's time in the series minus its begin time, exactly by
    // stamps), and a line for each such piece that says where it begins and
    // where it was placed: what the jobs report.
    std::int64_t move_ns(const Piece &p) const;
    std::string move_text(const Piece &p) const;  // "its begin time ... is 3 ms off the grid; placed ..."
    std::vector<std::string> move_notes() const;  // "NAME: " and the move_text of each moved piece

private:
    void finish();

    std::vector<Piece> pieces_;
    Grid grid_;
    int type_ = 0;
    std::int32_t usym_ = 0;
    Overlap overlap_ = Overlap::kRefuse;
    std::size_t first_ = 0;
    bool overlapping_ = false;
};

// Files planned as one series where not all of them join it: the series of
// those that do (none where no file has a forward grid), and the others in
// the order named.
struct SeriesSurvey {
    std::optional<Series> series;
    std::vector<Outsider> outsiders;
};

// Usable samples of overlapping files that differ, where the series says
// neither wins: the first index where they do, and the later file.
class OverlapConflict : public Failure {
public:
    OverlapConflict(std::int64_t index, std::string file, const std::string &what)
        : Failure(what), index_(index), file_(std::move(file)) {}
    std::int64_t index() const { return index_; }
    const std::string &file() const { return file_; }

private:
    std::int64_t index_;
    std::string file_;
};

// Reads windows of a series.  Files are opened when their samples are
// first needed, at most `open_files` at once (the least recently used is
// closed first), and checked to be the files planned: a name that now
// leads to another file, or one whose header places samples otherwise,
// is a Failure naming it.  A file that grew since is read only as far as
// planned; samples a file no longer holds read as missing.  One reader is
// for one thread; readers of one series are independent.
class SeriesReader {
public:
    static constexpr std::size_t kOpenFiles = 16;

    explicit SeriesReader(const Series &series, std::size_t open_files = kOpenFiles);
    ~SeriesReader();
    SeriesReader(const SeriesReader &) = delete;
    SeriesReader &operator=(const SeriesReader &) = delete;

    const Series &series() const { return series_; }

    // Fills `out` with the `count` samples from index `first` on (any
    // indices), as stored (bytes of the series' type): the unusable value
    // where no file holds a sample; where files overlap, a missing sample
    // gives way to a usable one, and of two usable ones the series' rule
    // picks (an OverlapConflict where it picks none and they differ).
    void read(std::int64_t first, std::int64_t count, void *out);
    // The samples at `indices` (any indices, in any order), as read()
    // gives them; samples near each other are read together.
    void take(const std::int64_t *indices, std::int64_t n, void *out);
    // read() and take() as values of F (float or double), NaN where the
    // sample is missing.
    template <class F>
    void read_values(std::int64_t first, std::int64_t count, F *out);
    template <class F>
    void take_values(const std::int64_t *indices, std::int64_t n, F *out);
    // The first index in [lo, hi) where pieces a and b both hold a usable
    // sample and the two differ (bit for bit), or nothing.
    std::optional<std::int64_t> first_difference(std::size_t a, std::size_t b, std::int64_t lo, std::int64_t hi);

private:
    struct OpenFile;
    bottle_hdr *file(std::size_t piece);
    void read_piece(std::size_t piece, std::int64_t lo, std::int64_t hi, unsigned char *out);
    template <class F>
    void to_values(const unsigned char *stored, std::int64_t n, F *out) const;

    const Series &series_;
    std::size_t most_open_;
    std::vector<OpenFile> open_;
    std::uint64_t clock_ = 0;  // for the least recently used
    std::vector<unsigned char> scratch_;
    std::vector<std::pair<std::int64_t, std::int64_t>> written_;
};

}  // namespace zulu::archive
