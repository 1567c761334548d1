#include "timetext.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "calendar.h"
#include "date.h"

namespace zulu::timetext {

std::string quoted(std::string_view text) {
    std::string q(1, '"');  // appended, not prefixed: g++ 12 warns of a prefixed literal (-Wrestrict)
    q.append(text);
    q += '"';
    return q;
}

const char kTimeForms[] =
    "TIME is one of YY[MM[DD[hh[mm[ss]]]]], CCYYMMDDhhmmss, YYjDDD[hh[mm[ss]]] or CCYYjDDDhhmmss "
    "with an optional .fraction (GMT; four-digit years 1950-2049), ISO 8601 such as 2015-06-23 or "
    "2015-06-23T12:34:56.5Z, or @SECONDS since 1970-01-01";

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool all_digits(std::string_view s) {
    for (char c : s)
        if (!is_digit(c)) return false;
    return true;
}

// The number written by the digits at s[pos, pos + n), which must be digits.
int digits_at(std::string_view s, std::size_t pos, std::size_t n) {
    int v = 0;
    for (std::size_t i = pos; i < pos + n; ++i) v = v * 10 + (s[i] - '0');
    return v;
}

// Records what is wrong with a text; false, for the callers to return.
bool fail(TimeProblem &p, std::string what, bool form = false) {
    p = TimeProblem{std::move(what), form};
    return false;
}

bool check_clock(int hr, int mn, int se, TimeProblem &p) {
    if (hr > 23) return fail(p, "hour " + std::to_string(hr) + " does not exist (hours run 00 to 23)");
    if (mn > 59) return fail(p, "minute " + std::to_string(mn) + " does not exist (minutes run 00 to 59)");
    if (se > 59) return fail(p, "second " + std::to_string(se) + " does not exist (seconds run 00 to 59)");
    return true;
}

bool check_date(int year, int month, int day, TimeProblem &p) {
    if (month < 1 || month > 12) return fail(p, "month " + std::to_string(month) + " does not exist");
    if (day < 1 || day > msize(month, year))
        return fail(p, std::string(Mo_name(month)) + " " + std::to_string(year) + " has no day " + std::to_string(day));
    return true;
}

// --- The date library's compact forms -----------------------------------

// The year a two-digit year stands for in the compact forms.
int widen_year(int yy) { return yy <= 49 ? 2000 + yy : 1900 + yy; }

// The hour, minute and second that follow a date in a compact form; those
// the text does not reach are 0.
bool check_compact_clock(std::string_view clock, TimeProblem &p) {
    const int hr = clock.size() >= 2 ? digits_at(clock, 0, 2) : 0;
    const int mn = clock.size() >= 4 ? digits_at(clock, 2, 2) : 0;
    const int se = clock.size() >= 6 ? digits_at(clock, 4, 2) : 0;
    return check_clock(hr, mn, se, p);
}

// A date part (the text before the fraction) in a compact form with a day
// of the year, after a year of year_len (2 or 4) digits and the "j".
bool check_day_of_year_form(std::string_view d, std::size_t year_len, int year, TimeProblem &p) {
    const std::string_view rest = d.substr(year_len + 1);
    if (!all_digits(rest)) return fail(p, "unknown form", true);
    if (rest.size() < 3) return fail(p, "the day of the year needs three digits after j", true);
    if (rest.size() % 2 == 0) return fail(p, "the time of day needs pairs of digits (hh, hhmm or hhmmss)", true);
    const int jl = digits_at(rest, 0, 3);
    if (jl < 1 || jl > ysize(year))
        return fail(p, std::to_string(year) + " has no day " + std::to_string(jl) + " of the year");
    return check_compact_clock(rest.substr(3), p);
}

bool check_month_day_form(std::string_view d, std::size_t year_len, int year, TimeProblem &p) {
    if (!all_digits(d)) return fail(p, "unknown form", true);
    if (d.size() % 2 != 0) return fail(p, "the compact forms have pairs of digits", true);
    const std::string_view rest = d.substr(year_len);
    if (rest.size() >= 2 && !check_date(year, digits_at(rest, 0, 2), 1, p)) return false;
    if (rest.size() >= 4 && !check_date(year, digits_at(rest, 0, 2), digits_at(rest, 2, 2), p)) return false;
    return check_compact_clock(rest.size() > 4 ? rest.substr(4) : std::string_view(), p);
}

// The compact form a date part is read in, such as "YYMM", for messages.
std::string compact_form_name(std::string_view date) {
    const bool long_year = date.size() == 14;
    const bool day_of_year = date.size() > (long_year ? 4u : 2u) && date[long_year ? 4 : 2] == 'j';
    const std::string_view full = long_year ? (day_of_year ? "CCYYjDDDhhmmss" : "CCYYMMDDhhmmss")
                                            : (day_of_year ? "YYjDDDhhmmss" : "YYMMDDhhmmss");
    return std::string(full.substr(0, std::min(date.size(), full.size())));
}

bool check_compact_date(std::string_view date, TimeProblem &p) {
    if (date.size() < 2 || !is_digit(date[0]) || !is_digit(date[1])) return fail(p, "unknown form", true);
    if (date.size() == 14) {
        // Four-digit years: atod widens the two-digit year by its pivot
        // and keeps the century only from 50 on, so accept only the years
        // it reads as written.
        if (!all_digits(date.substr(0, 4))) return fail(p, "unknown form", true);
        const int year = digits_at(date, 0, 4);
        if (widen_year(year % 100) != year) return fail(p, "four-digit years are read only from 1950 to 2049");
        return date[4] == 'j' ? check_day_of_year_form(date, 4, year, p) : check_month_day_form(date, 4, year, p);
    }
    if (date.size() > 12) return fail(p, "the compact forms have at most 12 digits, or 14 with a four-digit year", true);
    const int year = widen_year(digits_at(date, 0, 2));
    if (date.size() > 2 && date[2] == 'j') return check_day_of_year_form(date, 2, year, p);
    return check_month_day_form(date, 2, year, p);
}

bool read_compact(std::string_view text, int in_zone, double &t, TimeProblem &p) {
    const std::size_t dot = text.rfind('.');
    const std::string_view date = text.substr(0, dot);
    if (dot != std::string_view::npos) {
        const std::string_view fraction = text.substr(dot + 1);
        if (fraction.empty()) return fail(p, "nothing follows the decimal point");
        if (!all_digits(fraction)) return fail(p, "the fraction of a second holds more than digits");
    }
    if (!check_compact_date(date, p)) {
        if (!p.form) p.what += " (read as " + compact_form_name(date) + ")";
        return false;
    }
    // atod reads the process's zone: set it for the call and put it back.
    const int saved = zone;
    zone = in_zone;
    t = atod(std::string(text).c_str());
    zone = saved;
    return true;
}

// --- ISO 8601 -------------------------------------------------------------

// Reads ISO 8601 text from left to right.
class IsoReader {
public:
    IsoReader(std::string_view s, TimeProblem &p) : s_(s), p_(p) {}

    bool read(double &t) {
        int year = 0, month = 0, day = 0, hr = 0, mn = 0, se = 0;
        double fraction = 0, offset = 0;
        if (!read_year(year)) return fail(p_, "the year needs four digits, or a sign and four to nine", true);
        if (!take('-') || !number(2, month)) return fail(p_, "the month needs two digits after the year", true);
        if (!take('-') || !number(2, day)) return fail(p_, "the day needs two digits after the month", true);
        if (!check_date(year, month, day, p_)) return false;
        if (!done()) {
            if (!take('T') && !take(' ')) return fail(p_, "a T or a space should follow the date, not " + rest(), true);
            if (!number(2, hr)) return fail(p_, "the hour needs two digits", true);
            if (take(':')) {
                if (!number(2, mn)) return fail(p_, "the minute needs two digits", true);
                if (take(':') && !number(2, se)) return fail(p_, "the second needs two digits", true);
                if (!read_fraction(fraction)) return fail(p_, "nothing follows the decimal point");
            }
            if (!check_clock(hr, mn, se, p_) || !read_offset(offset)) return false;
            if (!done()) return fail(p_, "unexpected " + rest() + " at the end", true);
        }
        datevec v{year, 0, month, day, 0, hr, mn, se, 0};
        t = vtod(&v) + fraction - offset;
        return std::isfinite(t) || fail(p_, "the time is out of range");
    }

private:
    bool done() const { return pos_ == s_.size(); }
    std::string rest() const { return quoted(s_.substr(pos_)); }
    bool peek(char c) const { return pos_ < s_.size() && s_[pos_] == c; }
    bool take(char c) {
        if (!peek(c)) return false;
        ++pos_;
        return true;
    }
    std::size_t digits_ahead() const {
        std::size_t n = 0;
        while (pos_ + n < s_.size() && is_digit(s_[pos_ + n])) ++n;
        return n;
    }
    bool number(std::size_t n, int &v) {
        if (digits_ahead() < n) return false;
        v = digits_at(s_, pos_, n);
        pos_ += n;
        return true;
    }
    // Four digits, or a sign and four to nine digits (ISO's expanded years).
    bool read_year(int &year) {
        const bool minus = peek('-');
        const bool sign = minus || peek('+');
        if (sign) ++pos_;
        const std::size_t n = digits_ahead();
        if (sign ? (n < 4 || n > 9) : n != 4) return false;
        number(n, year);
        if (minus) year = -year;
        return true;
    }
    // Only a fraction that follows the seconds; false for a point alone.
    bool read_fraction(double &fraction) {
        if (!peek('.')) return true;
        const std::size_t start = pos_;
        ++pos_;
        const std::size_t n = digits_ahead();
        if (n == 0) return false;
        pos_ += n;
        std::from_chars(s_.data() + start, s_.data() + pos_, fraction);
        return true;
    }
    // "Z", "+hh", "+hhmm" or "+hh:mm" (or "-"); no designator means GMT.
    bool read_offset(double &offset) {
        if (take('Z') || done()) return true;
        const std::size_t start = pos_;
        const bool minus = peek('-');
        int oh = 0, om = 0;
        bool shaped = (take('-') || take('+')) && number(2, oh);
        if (shaped && !done()) {
            take(':');
            shaped = number(2, om);
        }
        if (!shaped) return fail(p_, "the offset from GMT should be Z, +hh, +hhmm or +hh:mm", true);
        if (oh > 23 || om > 59)
            return fail(p_, "the offset " + quoted(s_.substr(start, pos_ - start)) + " is more than 23:59");
        offset = (minus ? -1.0 : 1.0) * (oh * 3600.0 + om * 60.0);
        return true;
    }

    std::string_view s_;
    TimeProblem &p_;
    std::size_t pos_ = 0;
};

// --- Seconds since 1970 ---------------------------------------------------

bool read_epoch(std::string_view text, double &t, TimeProblem &p) {
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data() + 1, end, t);
    if (ec != std::errc() || ptr != end) return fail(p, "not a number after @");
    if (!std::isfinite(t)) return fail(p, "not a finite number after @");
    return true;
}

// --- Writing --------------------------------------------------------------

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char *two_digits(char *out, int v) {
    std::memcpy(out, &kDigitPairs[static_cast<std::size_t>(v) * 2], 2);
    return out + 2;
}

// x rounded to the nearest integer, halves upward; |x| below 2^63.  Done
// by hand: the library's rounding functions are calls on plain x86-64.
std::int64_t nearest_integer(double x) {
    auto i = static_cast<std::int64_t>(x);  // toward zero
    const double rest = x - static_cast<double>(i);
    if (rest >= 0.5) ++i;
    else if (rest < -0.5) --i;
    return i;
}

// A time as whole seconds (the floor) and the nearest millisecond of the
// second, halves upward; 1000 carries into the next second.  t splits
// exactly into whole seconds and a fraction f, and the milliseconds come
// from f alone: the product f × 1000 is rounded once, by less than half a
// unit of its last digit, which can change the nearest whole number only
// when the rounded product lies on a half; there the exact remainder of
// the product (fma) settles it.  |t| below 2^63.
struct Milliseconds {
    std::int64_t second;
    int milli;  // 0 to 999
};
Milliseconds split_milliseconds(double t) {
    auto second = static_cast<std::int64_t>(t);  // toward zero
    const double f = t - static_cast<double>(second);  // exact, -1 < f < 1
    const double p = f * 1000.0;
    auto whole = static_cast<std::int64_t>(p);
    if (static_cast<double>(whole) > p) --whole;  // the floor
    const double rest = p - static_cast<double>(whole);  // exact, 0 <= rest < 1
    std::int64_t ms = whole + (rest > 0.5 || (rest == 0.5 && std::fma(f, 1000.0, -p) >= 0));
    second += calendar::floor_div(ms, 1000);
    ms = calendar::floor_mod(ms, 1000);
    return {second, static_cast<int>(ms)};
}

// "-12.34": a number of milliseconds (not a whole second) as seconds.
char *write_milliseconds(char *out, std::int64_t ms) {
    if (ms < 0) *out++ = '-';
    const std::uint64_t magnitude = ms < 0 ? 0 - static_cast<std::uint64_t>(ms) : static_cast<std::uint64_t>(ms);
    out = std::to_chars(out, out + 20, magnitude / 1000).ptr;
    *out++ = '.';
    const auto fraction = static_cast<int>(magnitude % 1000);
    *out++ = static_cast<char>('0' + fraction / 100);
    if (fraction % 100 != 0) *out++ = static_cast<char>('0' + fraction / 10 % 10);
    if (fraction % 10 != 0) *out++ = static_cast<char>('0' + fraction % 10);
    return out;
}

}  // namespace

std::optional<double> parse_time(std::string_view text, TimeProblem *problem, int in_zone) {
    TimeProblem unused;
    TimeProblem &p = problem ? *problem : unused;
    double t = 0;
    bool read = false;
    if (text.empty())
        read = fail(p, "the text is empty", true);
    else if (text[0] == '@')
        read = read_epoch(text, t, p);
    else if (text.find('-', 1) != std::string_view::npos)
        read = IsoReader(text, p).read(t);
    else if (is_digit(text[0]))
        read = read_compact(text, in_zone, t, p);
    else
        read = fail(p, "unknown form", true);
    if (!read) return std::nullopt;
    return t;
}

char *IsoTimeWriter::write(char *out, double t) {
    if (!(std::fabs(t) < kIsoTimeLimit)) {
        *out++ = '@';
        return write_epoch_time(out, t);
    }
    const Milliseconds ms = split_milliseconds(t);
    return write_parts(out, ms.second, ms.milli);
}

char *IsoTimeWriter::write_milliseconds(char *out, std::int64_t ms) {
    if (!(std::fabs(static_cast<double>(ms)) < kIsoTimeLimit * 1000)) {
        *out++ = '@';
        return write_epoch_time(out, static_cast<double>(ms) / 1000);
    }
    return write_parts(out, calendar::floor_div(ms, 1000), static_cast<int>(calendar::floor_mod(ms, 1000)));
}

char *IsoTimeWriter::write_parts(char *out, std::int64_t second, int milli) {
    if (second != second_) set_second(second);
    std::memcpy(out, prefix_, sizeof prefix_);  // all of it, for speed; the caller has room
    out += prefix_len_;
    *out++ = static_cast<char>('0' + milli / 100);
    out = two_digits(out, milli % 100);
    *out++ = 'Z';
    return out;
}

void IsoTimeWriter::set_second(std::int64_t second) {
    const std::int64_t day = calendar::floor_div(second, 86400);
    if (day != day_) {
        const calendar::Civil c = calendar::civil_from_days(day);
        const auto year = static_cast<long long>(c.year);
        const char *year_format = year >= 0 && year <= 9999 ? "%04lld-%02d-%02dT" : "%+05lld-%02d-%02dT";
        const int n = std::snprintf(date_, sizeof date_, year_format, year, c.month, c.day);
        date_len_ = n > 0 ? static_cast<std::size_t>(n) : 0;
        day_ = day;
    }
    const auto of_day = static_cast<int>(second - day * 86400);
    char *p = prefix_;
    std::memcpy(p, date_, date_len_);
    p += date_len_;
    p = two_digits(p, of_day / 3600);
    *p++ = ':';
    p = two_digits(p, of_day / 60 % 60);
    *p++ = ':';
    p = two_digits(p, of_day % 60);
    *p++ = '.';
    prefix_len_ = static_cast<std::size_t>(p - prefix_);
    second_ = second;
}

char *write_epoch_time(char *out, double t) {
    // Times of whole milliseconds, the common case, are written directly:
    // below 2^43 s neighbouring doubles lie closer than a millisecond, so
    // when ms / 1000 reads back as t (the division rounds correctly) no
    // shorter decimal does, and the text is the one to_chars would write.
    constexpr double kMillisecondsExact = 8796093022208.0;  // 2^43
    if (std::fabs(t) < kMillisecondsExact) {
        const std::int64_t ms = nearest_integer(t * 1000.0);
        if (ms % 1000 != 0 && static_cast<double>(ms) / 1000.0 == t) return write_milliseconds(out, ms);
    }
    return std::to_chars(out, out + kMaxTimeChars - 1, t).ptr;
}

std::string iso_time(double t) {
    char text[kMaxTimeChars];
    IsoTimeWriter writer;
    return std::string(text, writer.write(text, t));
}

std::string iso_time_ms(std::int64_t ms) {
    char text[kMaxTimeChars];
    IsoTimeWriter writer;
    return std::string(text, writer.write_milliseconds(text, ms));
}

}  // namespace zulu::timetext
