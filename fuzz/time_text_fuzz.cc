// The bottle command's texts on arbitrary input: a TIME as typed on its
// command line, and a plot title and value-axis label.  Besides the
// sanitizers' checks, a text is read as a finite time or else has a reason,
// and every title line the plot places lies inside the picture.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "date.h"
#include "svg.h"
#include "timetext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    zone = 0;
    const std::int64_t width = 200 + data[0] * 40, height = 120 + data[1] * 20;
    const std::string text(reinterpret_cast<const char *>(data + 2), size - 2);

    zulu::timetext::TimeProblem problem;
    const auto t = zulu::timetext::parse_time(text, &problem);
    if (t ? !std::isfinite(*t) : problem.what.empty()) std::abort();

    const double at = t ? *t : 0;
    bottletool::PlotData plot{text, text, at, at + 60, 60, 2, {{text, {{at, 1, true, 0}, {at + 60, -1e9, false, 1}}}}};
    const bottletool::PlotFrame frame(width, height, plot);
    for (const bottletool::PlacedText &line : frame.title()) {
        const double w = bottletool::text_width(line.text, line.font_size);
        if (line.x < 0 || line.x + w > static_cast<double>(width) + 1e-6) std::abort();
    }
    if (frame.columns() <= 0) std::abort();
    bottletool::svg_plot(frame, plot);
    return 0;
}
