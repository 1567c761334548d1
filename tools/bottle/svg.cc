#include "svg.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "axes.h"
#include "timetext.h"

namespace bottletool {
namespace {

// Pixels each tick label needs along its axis.
constexpr double kTimeLabelSpace = 110;
constexpr double kValueLabelSpace = 40;

// Maps [lo, hi] onto [from, to] pixels; halves first, so that no
// difference of two finite values overflows.  A range with no width puts
// everything in the middle.
struct Axis {
    double lo, hi, from, to;

    double at(double v) const {
        const double span = hi / 2 - lo / 2;
        if (!(span > 0)) return (from + to) / 2;
        const double f = std::clamp((v / 2 - lo / 2) / span, 0.0, 1.0);
        return from + f * (to - from);
    }
};

// [lo, hi] widened when it has no width, then by a margin of `share` of
// the width on each side, as far as the doubles allow.
std::pair<double, double> widened(double lo, double hi, double single_width, double share) {
    const auto grow = [](double &a, double &b, double by) {
        if (std::isfinite(a - by)) a -= by;
        if (std::isfinite(b + by)) b += by;
    };
    if (lo == hi) grow(lo, hi, single_width / 2);
    grow(lo, hi, (hi / 2 - lo / 2) * 2 * share);
    return {lo, hi};
}

std::pair<double, double> value_range(const std::vector<PlotPoint> &points) {
    if (points.empty()) return {0, 1};
    const auto [least, greatest] =
        std::minmax_element(points.begin(), points.end(), [](const PlotPoint &a, const PlotPoint &b) { return a.v < b.v; });
    const double lo = least->v, hi = greatest->v;
    return widened(lo, hi, lo == 0 ? 2 : std::fabs(lo) / 5, 0.05);
}

std::string coord(double v) {
    char text[32];
    if (!std::isfinite(v)) v = 0;
    return std::string(text, std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 2).ptr);
}

std::string line(double x1, double y1, double x2, double y2) {
    return "<line x1=\"" + coord(x1) + "\" y1=\"" + coord(y1) + "\" x2=\"" + coord(x2) + "\" y2=\"" + coord(y2) +
           "\"/>\n";
}

std::string text(double x, double y, const char *anchor, const std::string &content) {
    return "<text x=\"" + coord(x) + "\" y=\"" + coord(y) + "\" text-anchor=\"" + anchor + "\">" +
           xml_text(content) + "</text>\n";
}

void draw_time_axis(std::string &svg, const PlotFrame &f, const Axis &x, const std::vector<Tick> &ticks) {
    std::string grid, marks, labels;
    for (const Tick &t : ticks) {
        const double px = x.at(t.at);
        grid += line(px, f.top(), px, f.bottom());
        marks += line(px, f.bottom(), px, f.bottom() + 5);
        labels += text(px, f.bottom() + 18, "middle", t.label);
        if (!t.date.empty()) labels += text(px, f.bottom() + 31, "middle", t.date);
    }
    svg += "<g class=\"grid\" stroke=\"#e4e4e4\">\n" + grid + "</g>\n";
    svg += "<g class=\"ticks\" stroke=\"black\">\n" + marks + "</g>\n";
    svg += "<g class=\"time-labels\">\n" + labels + "</g>\n";
    svg += text((f.left() + f.right()) / 2, static_cast<double>(f.height()) - 8, "middle", "time (GMT)");
}

void draw_value_axis(std::string &svg, const PlotFrame &f, const Axis &y, const std::vector<Tick> &ticks) {
    std::string grid, marks, labels;
    for (const Tick &t : ticks) {
        const double py = y.at(t.at);
        grid += line(f.left(), py, f.right(), py);
        marks += line(f.left() - 5, py, f.left(), py);
        labels += text(f.left() - 8, py + 4, "end", t.label);
    }
    svg += "<g class=\"grid\" stroke=\"#e4e4e4\">\n" + grid + "</g>\n";
    svg += "<g class=\"ticks\" stroke=\"black\">\n" + marks + "</g>\n";
    svg += "<g class=\"value-labels\">\n" + labels + "</g>\n";
}

// One polyline per run of points between breaks; a run of one point is a
// dot, since a line through one point draws nothing.
void draw_points(std::string &svg, const Axis &x, const Axis &y, const std::vector<PlotPoint> &points) {
    std::string lines, dots;
    for (std::size_t i = 0; i < points.size();) {
        std::size_t j = i + 1;
        while (j < points.size() && !points[j].starts_line) ++j;
        if (j - i == 1) {
            dots += "<circle cx=\"" + coord(x.at(points[i].t)) + "\" cy=\"" + coord(y.at(points[i].v)) + "\" r=\"1.5\"/>\n";
        } else {
            lines += "<polyline points=\"";
            std::string last;
            for (std::size_t k = i; k < j; ++k) {
                std::string xy = coord(x.at(points[k].t)) + "," + coord(y.at(points[k].v));
                if (xy == last) continue;  // the same pixel again adds nothing
                if (k > i) lines += ' ';
                lines += xy;
                last = std::move(xy);
            }
            lines += "\"/>\n";
        }
        i = j;
    }
    svg += "<g class=\"samples\" fill=\"none\" stroke=\"#1f5fa8\" stroke-width=\"1\" stroke-linejoin=\"round\">\n" +
           lines + "</g>\n";
    svg += "<g class=\"isolated-samples\" fill=\"#1f5fa8\">\n" + dots + "</g>\n";
}

// Appends the UTF-8 sequence at s[i] (advancing i past it) when it encodes
// a character XML allows; false otherwise.
bool take_xml_char(std::string_view s, std::size_t &i, std::string &out) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    std::size_t n = 0;
    char32_t cp = 0;
    if (c < 0x80) {
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
        n = 1;
        cp = c;
    } else if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return false;
    }
    if (i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    const bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
    const bool excluded = (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF || cp > 0x10FFFF;
    if (overlong || excluded) return false;
    out.append(s.substr(i, n));
    i += n;
    return true;
}

}  // namespace

PlotFrame::PlotFrame(std::int64_t width, std::int64_t height) : width_(width), height_(height) {}

std::string xml_text(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        switch (s[i]) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            if (!take_xml_char(s, i, out)) {
                out += '?';
                ++i;
            }
            continue;
        }
        ++i;
    }
    return out;
}

std::string svg_plot(const PlotFrame &f, const PlotData &data) {
    const auto [t0, t1] = widened(std::min(data.first_time, data.last_time), std::max(data.first_time, data.last_time),
                                  std::max(data.step, 1e-3), 0);
    const auto [v0, v1] = value_range(data.points);
    const Axis x{t0, t1, f.left(), f.right()};
    const Axis y{v0, v1, f.bottom(), f.top()};
    const double plot_width = f.right() - f.left(), plot_height = f.bottom() - f.top();

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const std::string w = std::to_string(f.width()), h = std::to_string(f.height());
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w +
           " " + h + "\" font-family=\"sans-serif\" font-size=\"11\">\n";
    svg += "<title>" + xml_text(data.name) + "</title>\n";
    svg += "<rect x=\"0\" y=\"0\" width=\"" + w + "\" height=\"" + h + "\" fill=\"white\"/>\n";
    svg += text(f.left(), 24, "start",
                data.name + ": " + iso_time(data.first_time) + " to " + iso_time(data.last_time) + ", " +
                    std::to_string(data.count) + (data.count == 1 ? " sample" : " samples"));
    draw_time_axis(svg, f, x, time_ticks(t0, t1, static_cast<int>(plot_width / kTimeLabelSpace)));
    draw_value_axis(svg, f, y, value_ticks(v0, v1, static_cast<int>(plot_height / kValueLabelSpace)));
    svg += "<rect class=\"frame\" x=\"" + coord(f.left()) + "\" y=\"" + coord(f.top()) + "\" width=\"" +
           coord(plot_width) + "\" height=\"" + coord(plot_height) + "\" fill=\"none\" stroke=\"black\"/>\n";
    draw_points(svg, x, y, data.points);
    if (data.points.empty())
        svg += text((f.left() + f.right()) / 2, (f.top() + f.bottom()) / 2, "middle", "no usable samples");
    svg += "</svg>\n";
    return svg;
}

}  // namespace bottletool
