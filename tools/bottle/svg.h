// The SVG document of a line plot: frame, axes with ticks and labels, and
// the decimated points drawn as polylines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "axes.h"

namespace bottletool {

// A point to draw, at the time of sample `index`; starts_line breaks the
// line before it.
struct PlotPoint {
    double t;
    double v;
    bool starts_line;
    std::int64_t index;
};

// The points of one bottle, drawn in a colour of its own.
struct Series {
    std::string name;  // in the legend, drawn when there are several
    std::vector<PlotPoint> points;
};

struct PlotData {
    std::string title;                // the title's first words: a name for what is drawn
    std::string ylabel;               // along the value axis (units); empty for none
    double first_time, last_time;     // of the first and the last sample plotted
    double step;                      // seconds between samples (the least, of several series)
    std::int64_t count;               // samples plotted
    std::vector<Series> series;       // the first drawn first, the others over it
};

// A line of text as the picture shows it: where its anchor lies and the
// font size it is drawn in.
struct PlacedText {
    double x, y;
    const char *anchor;  // "start", "middle" or "end"
    double font_size;
    std::string text;
};

// The picture and the parts of it, fitted to the labels the data needs:
// the left margin follows the widest value label, the right one half the
// widest time label, and every text lies inside the picture, shrunk where
// it would not fit.
class PlotFrame {
public:
    static constexpr double kFontSize = 11;

    PlotFrame(std::int64_t width, std::int64_t height, const PlotData &data);

    std::int64_t width() const { return width_; }
    std::int64_t height() const { return height_; }
    double left() const { return left_; }
    double right() const { return static_cast<double>(width_) - right_margin_; }
    double top() const { return top_; }
    double bottom() const { return static_cast<double>(height_) - kBottom; }
    // Pixel columns of the plot area.
    std::int64_t columns() const { return static_cast<std::int64_t>(right() - left()); }

    // Times and values at the edges of the plot area.
    double t0() const { return t0_; }
    double t1() const { return t1_; }
    double v0() const { return v0_; }
    double v1() const { return v1_; }

    const std::vector<PlacedText> &title() const { return title_; }
    const std::vector<Tick> &time_ticks() const { return time_ticks_; }
    const std::vector<Tick> &value_ticks() const { return value_ticks_; }
    double value_font_size() const { return value_font_; }

    // Text with its anchor at (x, y), shrunk to fit `room` pixels and then
    // moved as little as brings it inside the picture.
    PlacedText place(double x, double y, const char *anchor, std::string text, double room,
                     double font_size = kFontSize) const;

private:
    static constexpr double kBottom = 56;

    void fit_time_axis();

    std::int64_t width_, height_;
    double left_ = 0, right_margin_ = 0, top_ = 0;
    double t0_ = 0, t1_ = 1, v0_ = 0, v1_ = 1;
    double value_font_ = kFontSize;
    std::vector<PlacedText> title_;
    std::vector<Tick> time_ticks_, value_ticks_;
};

std::string svg_plot(const PlotFrame &frame, const PlotData &data);

// The width of a line of text in pixels at a font size, estimated from
// above: no common sans-serif face draws it wider.
double text_width(std::string_view text, double font_size);

// Text made safe for XML content and attribute values: markup characters
// escaped, and bytes that are not valid UTF-8 or not allowed in XML (most
// control characters) replaced by "?".
std::string xml_text(std::string_view text);

}  // namespace bottletool
