// The SVG document of a line plot: frame, axes with ticks and labels, and
// the decimated points drawn as polylines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bottletool {

// A point to draw; starts_line breaks the line before it.
struct PlotPoint {
    double t;
    double v;
    bool starts_line;
};

// The image and the plot area inside it, in pixels.
class PlotFrame {
public:
    PlotFrame(std::int64_t width, std::int64_t height);

    std::int64_t width() const { return width_; }
    std::int64_t height() const { return height_; }
    double left() const { return kLeft; }
    double right() const { return static_cast<double>(width_) - kRight; }
    double top() const { return kTop; }
    double bottom() const { return static_cast<double>(height_) - kBottom; }
    // Pixel columns of the plot area.
    std::int64_t columns() const { return width_ - static_cast<std::int64_t>(kLeft + kRight); }

private:
    static constexpr double kLeft = 80, kRight = 24, kTop = 40, kBottom = 56;
    std::int64_t width_, height_;
};

struct PlotData {
    std::string name;                 // shown as the title
    double first_time, last_time;     // of the first and the last sample plotted
    double step;                      // seconds between samples
    std::int64_t count;               // samples plotted
    std::vector<PlotPoint> points;
};

std::string svg_plot(const PlotFrame &frame, const PlotData &data);

// Text made safe for XML content and attribute values: markup characters
// escaped, and bytes that are not valid UTF-8 or not allowed in XML (most
// control characters) replaced by "?".
std::string xml_text(std::string_view text);

}  // namespace bottletool
