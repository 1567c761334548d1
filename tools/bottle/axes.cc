#include "axes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "calendar.h"
#include "timetext.h"

namespace bottletool {

using namespace zulu::timetext;
namespace {

// Most ticks any axis gets, whatever it asks for.
constexpr double kMostTicks = 1000;

std::string number_label(double v, int decimals) {
    char text[64];
    if (v == 0) v = 0;  // no "-0"
    if (std::fabs(v) >= 1e15 || decimals > 12)
        std::snprintf(text, sizeof text, "%.6g", v);
    else
        std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::vector<Tick> bound_ticks(double lo, double hi) {
    std::vector<Tick> ticks{{lo, number_label(lo, 99), ""}};
    if (hi != lo) ticks.push_back({hi, number_label(hi, 99), ""});
    return ticks;
}

// --- Time steps ----------------------------------------------------------

// A step between time ticks: a number of seconds, or of calendar months.
struct TimeStep {
    double seconds;  // for months, their average length, to compare steps
    std::int64_t months;
};

constexpr double kDay = 86400;
constexpr double kMonth = 365.2425 * kDay / 12;

constexpr std::array<double, 38> kSecondSteps{
    1e-6, 2e-6, 5e-6, 1e-5, 2e-5, 5e-5, 1e-4, 2e-4, 5e-4, 1e-3, 2e-3, 5e-3, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1,
    2,    5,    10,   15,   30,   60,   120,  300,  600,  900,  1800, 3600, 7200, 10800, 21600, 43200, kDay,
    2 * kDay, 5 * kDay};

// The smallest step that gives at most max_ticks ticks over span seconds.
TimeStep choose_step(double span, double max_ticks) {
    for (double s : kSecondSteps)
        if (span / s <= max_ticks) return {s, 0};
    for (std::int64_t months : {1, 2, 3, 6})
        if (span / (static_cast<double>(months) * kMonth) <= max_ticks) return {static_cast<double>(months) * kMonth, months};
    // Whole years: 1, 2 or 5 times a power of ten.
    for (std::int64_t years = 1;; years *= 10)
        for (std::int64_t m : {1, 2, 5}) {
            const std::int64_t months = 12 * years * m;
            if (span / (static_cast<double>(months) * kMonth) <= max_ticks || years > 100000000)
                return {static_cast<double>(months) * kMonth, months};
        }
}

// Start of month number m, counted as year * 12 + (month - 1).
double month_start(std::int64_t m) {
    const auto year = static_cast<std::int32_t>(calendar::floor_div(m, 12));
    const auto month = static_cast<std::int32_t>(calendar::floor_mod(m, 12) + 1);
    return static_cast<double>(calendar::days_from_civil(year, month, 1)) * kDay;
}

// Ticks at the starts of every months-th month, from t0 (within
// kIsoTimeLimit of 1970) to t1.
std::vector<double> month_tick_times(double t0, double t1, std::int64_t months) {
    std::vector<double> at;
    const auto day = calendar::floor_div(static_cast<std::int64_t>(std::floor(t0)), 86400);
    const calendar::Civil start = calendar::civil_from_days(day);
    std::int64_t m = calendar::floor_div(start.year * 12 + (start.month - 1), months) * months;
    for (int i = 0; i < kMostTicks; ++i, m += months) {
        const double t = month_start(m);
        if (t > t1) break;
        if (t >= t0) at.push_back(t);
    }
    return at;
}

std::vector<double> second_tick_times(double t0, double t1, double step) {
    std::vector<double> at;
    const double k0 = std::ceil(t0 / step), k1 = std::floor(t1 / step);
    if (!(k1 - k0 < kMostTicks)) return at;
    for (std::int64_t i = 0; i <= static_cast<std::int64_t>(k1 - k0); ++i) at.push_back((k0 + static_cast<double>(i)) * step);
    return at;
}

// --- Time labels ---------------------------------------------------------

// The date of an ISO time text: what precedes the "T".
std::string date_part(const std::string &iso) { return iso.substr(0, iso.find('T')); }

// "hh:mm:ss" and the given number of decimals of the second (up to 6).
std::string clock_label(double t, int decimals) {
    const std::string iso = iso_time(t);
    const std::size_t clock = iso.find('T') + 1;
    if (decimals <= 0) return iso.substr(clock, 8);
    if (decimals <= 3 || std::fabs(t) >= 9e12) return iso.substr(clock, 9 + std::min(decimals, 3));
    const double scale = std::pow(10.0, decimals);
    const auto units = static_cast<std::int64_t>(std::nearbyint(t * scale));
    const auto per_second = static_cast<std::int64_t>(scale);
    const std::int64_t second = calendar::floor_div(units, per_second);
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%0*lld", decimals, static_cast<long long>(units - second * per_second));
    const std::string whole = iso_time(static_cast<double>(second));
    return whole.substr(whole.find('T') + 1, 8) + fraction;
}

std::string calendar_label(double t, const TimeStep &step) {
    std::string date = date_part(iso_time(t));
    if (step.months >= 12) return date.substr(0, date.size() - 6);
    if (step.months >= 1) return date.substr(0, date.size() - 3);
    return date;
}

std::vector<Tick> label_times(const std::vector<double> &at, const TimeStep &step) {
    std::vector<Tick> ticks;
    std::string last_date;
    for (double t : at) {
        if (step.months > 0 || step.seconds >= kDay) {
            ticks.push_back({t, calendar_label(t, step), ""});
            continue;
        }
        const int decimals = step.seconds >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step.seconds) - 1e-9));
        std::string label = step.seconds >= 60 ? clock_label(t, 0).substr(0, 5) : clock_label(t, decimals);
        std::string date = date_part(iso_time(t));
        ticks.push_back({t, std::move(label), date == last_date ? "" : date});
        last_date = date;
    }
    return ticks;
}

}  // namespace

std::vector<Tick> value_ticks(double lo, double hi, int max_ticks) {
    if (!(lo <= hi) || !std::isfinite(lo) || !std::isfinite(hi)) return {};
    const double span = hi - lo;
    if (!(span > 0) || !std::isfinite(span)) return bound_ticks(lo, hi);
    const double raw = span / std::clamp(max_ticks, 1, static_cast<int>(kMostTicks));
    const double exponent = std::floor(std::log10(raw));
    const double base = std::pow(10.0, exponent);
    if (!(base > 0) || !std::isfinite(base)) return bound_ticks(lo, hi);
    const double m = raw / base;
    const double step = (m <= 1 ? 1 : m <= 2 ? 2 : m <= 5 ? 5 : 10) * base;
    const double k0 = std::ceil(lo / step), k1 = std::floor(hi / step);
    if (!(k1 - k0 < kMostTicks)) return bound_ticks(lo, hi);
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    std::vector<Tick> ticks;
    for (std::int64_t i = 0; i <= static_cast<std::int64_t>(k1 - k0); ++i) {
        const double v = (k0 + static_cast<double>(i)) * step;
        ticks.push_back({v, number_label(v, decimals), ""});
    }
    return ticks;
}

std::vector<Tick> time_ticks(double t0, double t1, int max_ticks) {
    if (!(t0 <= t1) || !std::isfinite(t0) || !std::isfinite(t1)) return {};
    if (std::fabs(t0) >= kIsoTimeLimit || std::fabs(t1) >= kIsoTimeLimit) {
        std::vector<Tick> ticks{{t0, iso_time(t0), ""}};
        if (t1 != t0) ticks.push_back({t1, iso_time(t1), ""});
        return ticks;
    }
    const TimeStep step = choose_step(t1 - t0, std::clamp(max_ticks, 1, static_cast<int>(kMostTicks)));
    const std::vector<double> at =
        step.months > 0 ? month_tick_times(t0, t1, step.months) : second_tick_times(t0, t1, step.seconds);
    return label_times(at, step);
}

}  // namespace bottletool
