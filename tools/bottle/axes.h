// Tick marks and their labels for the axes of a plot.
#pragma once

#include <string>
#include <vector>

namespace bottletool {

struct Tick {
    double at;
    std::string label;
    std::string date;  // a second label line for times of day: the date, where it changes
};

// Ticks at round numbers (1, 2 or 5 times a power of ten) within [lo, hi],
// at most about max_ticks of them.  Bounds that give no usable step get
// ticks at the bounds themselves.
std::vector<Tick> value_ticks(double lo, double hi, int max_ticks);

// Ticks at round times within [t0, t1] (GMT): whole seconds, minutes,
// hours, days, months or years, or decimal fractions of a second, at most
// about max_ticks of them.  Labels are dates for steps of a day or more,
// else times of day with the date as a second line where it changes.
std::vector<Tick> time_ticks(double t0, double t1, int max_ticks);

}  // namespace bottletool
