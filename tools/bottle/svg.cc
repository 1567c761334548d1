#include "svg.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <string_view>
#include <tuple>
#include <utility>

#include "axes.h"
#include "timetext.h"

namespace bottletool {

using namespace zulu::timetext;
namespace {

// Pixels each tick label needs along its axis, at the least.
constexpr double kTimeLabelSpace = 110;
constexpr double kValueLabelSpace = 40;

constexpr double kPad = 4;                                    // between text and the picture's edge
constexpr double kTickLength = 5;
constexpr double kLabelGap = 3;                               // between a tick mark and its label
constexpr double kMinRight = 12;                              // plot area to the right edge, at the least
constexpr double kYLabelBand = PlotFrame::kFontSize * 1.3;    // across the value axis's own label

// Widths in em that common sans-serif faces keep within, by character.
double char_em(unsigned char c) {
    if (c >= 0x80) return 1.2;  // the lead byte of any other script or symbol
    if (std::string_view(" .,:;'!|ijlI()[]").find(static_cast<char>(c)) != std::string_view::npos) return 0.4;
    if ((c >= '0' && c <= '9') || c == '-') return 0.65;
    if (c >= 'a' && c <= 'z' && c != 'm' && c != 'w') return 0.7;
    return 1.0;
}

// A text's span along an axis `extent` pixels long, for a text whose anchor
// lies at `at` and `fraction` of the way along it: the font shrunk until
// the text fits `room`, the span moved as little as keeps it inside the
// padding.
struct Span {
    double start, font_size, width;
};

Span fit_span(std::string_view text, double at, double fraction, double font_size, double room, double extent) {
    room = std::max(room, 1.0);
    double w = text_width(text, font_size);
    if (w > room) {
        font_size *= room / w;
        w = room;
    }
    return {std::clamp(at - fraction * w, kPad, std::max(kPad, extent - kPad - w)), font_size, w};
}

double anchor_fraction(std::string_view anchor) { return anchor == "start" ? 0 : anchor == "middle" ? 0.5 : 1; }

// The title in one line where it fits `room`, else in two (the name, then
// the times) or, where those do not fit either, three (the times split).
std::vector<std::string> title_lines(const PlotData &data, double room) {
    const std::string name = data.title + ":", from = iso_time(data.first_time) + " to",
                      to = iso_time(data.last_time) + ", " + std::to_string(data.count) +
                           (data.count == 1 ? " sample" : " samples");
    const std::vector<std::vector<std::string>> layouts{{name + " " + from + " " + to}, {name, from + " " + to}};
    for (const auto &lines : layouts)
        if (std::all_of(lines.begin(), lines.end(),
                        [&](const std::string &l) { return text_width(l, PlotFrame::kFontSize) <= room; }))
            return lines;
    return {name, from, to};
}

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

std::pair<double, double> value_range(const std::vector<Series> &series) {
    bool any = false;
    double lo = 0, hi = 0;
    for (const Series &s : series)
        for (const PlotPoint &p : s.points) {
            lo = any ? std::min(lo, p.v) : p.v;
            hi = any ? std::max(hi, p.v) : p.v;
            any = true;
        }
    if (!any) return {0, 1};
    return widened(lo, hi, lo == 0 ? 2 : std::fabs(lo) / 5, 0.05);
}

// Line colours of the series, in order, told apart also by readers with
// the common colour-vision deficiencies; then again from the first.
constexpr const char *kColours[] = {"#1f5fa8", "#d55e00", "#009e73", "#cc79a7", "#e69f00", "#56b4e9", "#000000"};

const char *colour_of(std::size_t i) { return kColours[i % std::size(kColours)]; }

std::string coord(double v) {
    char text[32];
    if (!std::isfinite(v)) v = 0;
    return std::string(text, std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 2).ptr);
}

std::string line(double x1, double y1, double x2, double y2) {
    return "<line x1=\"" + coord(x1) + "\" y1=\"" + coord(y1) + "\" x2=\"" + coord(x2) + "\" y2=\"" + coord(y2) +
           "\"/>\n";
}

// A font size other than the picture's own, as an attribute.
std::string font_size_attribute(double size) {
    return size == PlotFrame::kFontSize ? "" : " font-size=\"" + coord(size) + "\"";
}

std::string text(const PlacedText &t) {
    return "<text x=\"" + coord(t.x) + "\" y=\"" + coord(t.y) + "\" text-anchor=\"" + t.anchor + "\"" +
           font_size_attribute(t.font_size) + ">" + xml_text(t.text) + "</text>\n";
}

void draw_time_axis(std::string &svg, const PlotFrame &f, const Axis &x) {
    std::string grid, marks, labels;
    const double room = static_cast<double>(f.width()) - 2 * kPad;
    for (const Tick &t : f.time_ticks()) {
        const double px = x.at(t.at);
        grid += line(px, f.top(), px, f.bottom());
        marks += line(px, f.bottom(), px, f.bottom() + kTickLength);
        labels += text(f.place(px, f.bottom() + 18, "middle", t.label, room));
        if (!t.date.empty()) labels += text(f.place(px, f.bottom() + 31, "middle", t.date, room));
    }
    svg += "<g class=\"grid\" stroke=\"#e4e4e4\">\n" + grid + "</g>\n";
    svg += "<g class=\"ticks\" stroke=\"black\">\n" + marks + "</g>\n";
    svg += "<g class=\"time-labels\">\n" + labels + "</g>\n";
    svg += text(f.place((f.left() + f.right()) / 2, static_cast<double>(f.height()) - 8, "middle", "time (GMT)", room));
}

void draw_value_axis(std::string &svg, const PlotFrame &f, const Axis &y) {
    std::string grid, marks, labels;
    const double label_end = f.left() - kTickLength - kLabelGap;
    for (const Tick &t : f.value_ticks()) {
        const double py = y.at(t.at);
        grid += line(f.left(), py, f.right(), py);
        marks += line(f.left() - kTickLength, py, f.left(), py);
        labels += text(f.place(label_end, py + 4, "end", t.label, label_end - kPad, f.value_font_size()));
    }
    svg += "<g class=\"grid\" stroke=\"#e4e4e4\">\n" + grid + "</g>\n";
    svg += "<g class=\"ticks\" stroke=\"black\">\n" + marks + "</g>\n";
    svg += "<g class=\"value-labels\">\n" + labels + "</g>\n";
}

// The value axis's own label, read upward along the left edge, centred on
// the plot area as far as the picture allows.
void draw_value_label(std::string &svg, const PlotFrame &f, const std::string &label) {
    if (label.empty()) return;
    const auto height = static_cast<double>(f.height());
    const Span span = fit_span(label, (f.top() + f.bottom()) / 2, 0.5, PlotFrame::kFontSize, height - 2 * kPad, height);
    // Turned a quarter left, the text's x runs up the picture and its y
    // across it: the baseline lies a font size in from the edge.
    svg += "<text class=\"value-axis-label\" transform=\"rotate(-90)\" x=\"" + coord(-(span.start + span.width / 2)) +
           "\" y=\"" + coord(kPad + span.font_size) + "\" text-anchor=\"middle\"" + font_size_attribute(span.font_size) +
           ">" + xml_text(label) + "</text>\n";
}

// One polyline per run of points between breaks; a run of one point is a
// dot, since a line through one point draws nothing.
void draw_points(std::string &svg, const Axis &x, const Axis &y, const std::vector<PlotPoint> &points,
                 const char *colour) {
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
    svg += "<g class=\"samples\" fill=\"none\" stroke=\"" + std::string(colour) +
           "\" stroke-width=\"1\" stroke-linejoin=\"round\">\n" + lines + "</g>\n";
    svg += "<g class=\"isolated-samples\" fill=\"" + std::string(colour) + "\">\n" + dots + "</g>\n";
}

// A box in the plot area's upper right corner that names each series
// beside a stroke of its colour; names too wide for half the plot area
// are drawn smaller.
void draw_legend(std::string &svg, const PlotFrame &f, const std::vector<Series> &series) {
    constexpr double kRow = 15, kStroke = 18, kInset = 6;
    const double room = (f.right() - f.left()) / 2;
    double widest = 0;
    for (const Series &s : series) widest = std::max(widest, std::min(text_width(s.name, PlotFrame::kFontSize), room));
    const double box_width = kInset + kStroke + kInset + widest + kInset;
    const double left = std::max(f.left(), f.right() - kInset - box_width), top = f.top() + kInset;
    std::string entries;
    for (std::size_t i = 0; i < series.size(); ++i) {
        const double y = top + kRow * (static_cast<double>(i) + 0.5) + kInset / 2;
        const double x = left + kInset;
        entries += "<line x1=\"" + coord(x) + "\" y1=\"" + coord(y) + "\" x2=\"" + coord(x + kStroke) + "\" y2=\"" +
                   coord(y) + "\" stroke=\"" + colour_of(i) + "\" stroke-width=\"2\"/>\n";
        entries += text(f.place(x + kStroke + kInset, y + 4, "start", series[i].name, widest));
    }
    svg += "<g class=\"legend\">\n<rect x=\"" + coord(left) + "\" y=\"" + coord(top) + "\" width=\"" + coord(box_width) +
           "\" height=\"" + coord(kRow * static_cast<double>(series.size()) + kInset) +
           "\" fill=\"white\" fill-opacity=\"0.85\" stroke=\"#888888\"/>\n" + entries + "</g>\n";
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

PlotFrame::PlotFrame(std::int64_t width, std::int64_t height, const PlotData &data) : width_(width), height_(height) {
    std::tie(t0_, t1_) = widened(std::min(data.first_time, data.last_time), std::max(data.first_time, data.last_time),
                                 std::max(data.step, 1e-3), 0);
    std::tie(v0_, v1_) = value_range(data.series);
    const double room = static_cast<double>(width_) - 2 * kPad;
    const std::vector<std::string> title = title_lines(data, room);
    top_ = title.size() < 3 ? 40 : 50;

    value_ticks_ = bottletool::value_ticks(v0_, v1_, static_cast<int>((bottom() - top_) / kValueLabelSpace));
    double widest = 0;
    for (const Tick &t : value_ticks_) widest = std::max(widest, text_width(t.label, kFontSize));
    const double band = data.ylabel.empty() ? 0 : kYLabelBand;
    const double label_room = static_cast<double>(width_) / 2 - kPad - band - kTickLength - kLabelGap;
    if (widest > label_room) {
        value_font_ = kFontSize * label_room / widest;
        widest = label_room;
    }
    left_ = kPad + band + widest + kTickLength + kLabelGap;
    fit_time_axis();

    // The lines start together: at the plot area's left edge, or as far
    // left of it as the widest needs.
    static constexpr double kBaselines[3][3] = {{24}, {17, 31}, {15, 28, 41}};
    double widest_line = 0;
    for (const std::string &line : title) widest_line = std::max(widest_line, std::min(text_width(line, kFontSize), room));
    const double x = std::min(left_, static_cast<double>(width_) - kPad - widest_line);
    for (std::size_t i = 0; i < title.size(); ++i)
        title_.push_back(place(x, kBaselines[title.size() - 1][i], "start", title[i], room));
}

// Time labels are centred on their ticks: the margins take half the widest
// (within limits that keep a plot area), and the ticks are spaced so that
// neighbouring labels do not meet.  A second pass fits the ticks to the
// margins the first one asked for.
void PlotFrame::fit_time_axis() {
    const auto width = static_cast<double>(width_);
    double spacing = kTimeLabelSpace;
    right_margin_ = kMinRight;
    for (int pass = 0; pass < 2; ++pass) {
        time_ticks_ = bottletool::time_ticks(t0_, t1_, static_cast<int>((right() - left_) / spacing));
        double widest = 0;
        for (const Tick &t : time_ticks_)
            widest = std::max({widest, text_width(t.label, kFontSize), text_width(t.date, kFontSize)});
        spacing = std::max(kTimeLabelSpace, widest + 2 * kPad);
        right_margin_ = std::clamp(widest / 2 + kPad, kMinRight, width / 4);
        left_ = std::clamp(widest / 2 + kPad, left_, std::max(left_, width / 2));
    }
}

PlacedText PlotFrame::place(double x, double y, const char *anchor, std::string text, double room, double font_size) const {
    const double fraction = anchor_fraction(anchor);
    const Span span = fit_span(text, x, fraction, font_size, room, static_cast<double>(width_));
    return {span.start + fraction * span.width, y, anchor, span.font_size, std::move(text)};
}

double text_width(std::string_view text, double font_size) {
    const std::string shown = xml_text(text);  // as drawn: bytes XML cannot hold become "?"
    double em = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        if (c == '&') {  // an escaped markup character: one wide character
            i = std::min(shown.find(';', i), shown.size());
            em += 1;
        } else if ((c & 0xC0) != 0x80) {  // not a continuation byte
            em += char_em(c);
        }
    }
    return em * font_size;
}

std::string svg_plot(const PlotFrame &f, const PlotData &data) {
    const Axis x{f.t0(), f.t1(), f.left(), f.right()};
    const Axis y{f.v0(), f.v1(), f.bottom(), f.top()};
    const double plot_width = f.right() - f.left(), plot_height = f.bottom() - f.top();

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const std::string w = std::to_string(f.width()), h = std::to_string(f.height());
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w +
           " " + h + "\" font-family=\"sans-serif\" font-size=\"" + std::to_string(static_cast<int>(PlotFrame::kFontSize)) + "\">\n";
    svg += "<title>" + xml_text(data.title) + "</title>\n";
    svg += "<rect x=\"0\" y=\"0\" width=\"" + w + "\" height=\"" + h + "\" fill=\"white\"/>\n";
    for (const PlacedText &line : f.title()) svg += text(line);
    draw_time_axis(svg, f, x);
    draw_value_axis(svg, f, y);
    draw_value_label(svg, f, data.ylabel);
    svg += "<rect class=\"frame\" x=\"" + coord(f.left()) + "\" y=\"" + coord(f.top()) + "\" width=\"" +
           coord(plot_width) + "\" height=\"" + coord(plot_height) + "\" fill=\"none\" stroke=\"black\"/>\n";
    bool any = false;
    for (std::size_t i = 0; i < data.series.size(); ++i) {
        draw_points(svg, x, y, data.series[i].points, colour_of(i));
        any = any || !data.series[i].points.empty();
    }
    if (data.series.size() > 1) draw_legend(svg, f, data.series);
    if (!any)
        svg += text(f.place((f.left() + f.right()) / 2, (f.top() + f.bottom()) / 2, "middle", "no usable samples",
                            plot_width));
    svg += "</svg>\n";
    return svg;
}

}  // namespace bottletool
