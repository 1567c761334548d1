#include "place.h"

#include <charconv>
#include <cmath>

#include "failure.h"
#include "grid.h"
#include "samples.h"
#include "timetext.h"

namespace zulu::archive {
namespace {

std::string shown(std::string_view text) {
    constexpr std::size_t kShown = 40;
    return quoted(text.size() > kShown ? std::string(text.substr(0, kShown)) + "..." : std::string(text));
}

// Digits with an optional fraction and sign: what both seconds since 1970
// and (without the sign) the date library's compact forms look like.
bool bare_number(std::string_view s) {
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
    const std::size_t point = s.find('.');
    const auto digits = [](std::string_view d) { return d.find_first_not_of("0123456789") == std::string_view::npos; };
    return !s.empty() && s != "." && digits(s.substr(0, point)) && (point == std::string_view::npos || digits(s.substr(point + 1)));
}

}  // namespace

double RowPlacer::read(std::string_view text, const std::string &where) const {
    if (times_ == RowTimes::kSeconds) {
        if (!text.empty() && text[0] == '@') text.remove_prefix(1);
        double t = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), t);
        if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(t))
            throw Failure(where + shown(text) + " is not a number of seconds since 1970");
        return t;
    }
    if (bare_number(text))
        throw Failure(where + shown(text) + " is a bare number, which could be a compact date or seconds since "
                      "1970; write @SECONDS or an ISO 8601 time, or say which with --epoch");
    timetext::TimeProblem problem;
    const auto t = timetext::parse_time(text, &problem);
    if (!t) throw Failure(where + shown(text) + " is not a time: " + problem.what);
    return *t;
}

std::int64_t RowPlacer::index(std::string_view text, std::int64_t row, std::int64_t limit) {
    const std::string where = "line " + std::to_string(row) + ": ";
    const double t = read(text, where);
    if (!begin_known_) {
        h_->beg = t;  // the header is written from the record, and no sample is yet
        begin_known_ = true;
    }
    const Grid grid(h_->beg, h_->ivl, 0);
    if (!grid.forward())
        throw Failure("rows with times need a positive interval" + std::string(grid.usable() ? "" : ": " + grid.problem()));
    const double q = grid.steps_to(t);
    if (!(std::fabs(q) < 0x1p52) || q >= static_cast<double>(limit))
        throw Failure(where + shown(text) + " lies beyond the samples a bottle can hold from " +
                      timetext::iso_time(grid.begin()));
    const auto i = grid.index_at(t);
    if (!i)
        throw Failure(where + shown(text) + " is not on the grid of the interval: it lies " +
                      interval_fraction_text(q - std::floor(q)) + " of an interval after a sample time");
    if (*i < 0) throw Failure(where + shown(text) + " is before the begin time " + timetext::iso_time(grid.begin()));
    if (*i == last_) throw Failure(where + shown(text) + " repeats the time of line " + std::to_string(last_row_));
    if (*i < last_) throw Failure(where + shown(text) + " is earlier than the time of line " + std::to_string(last_row_));
    last_ = *i;
    last_row_ = row;
    return *i;
}

}  // namespace zulu::archive
