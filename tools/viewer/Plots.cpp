#include "Plots.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumora_viewer {
namespace {

void Background(cairo_t* cr, int width, int height) {
    cairo_set_source_rgb(cr, 0.12, 0.12, 0.12);
    cairo_rectangle(cr, 0, 0, width, height);
    cairo_fill(cr);
}

void Text(cairo_t* cr, double x, double y, const char* text, bool alignRight = false) {
    cairo_set_font_size(cr, 10);
    cairo_text_extents_t e;
    cairo_text_extents(cr, text, &e);
    cairo_move_to(cr, alignRight ? x - e.x_advance : x, y);
    cairo_show_text(cr, text);
}

}  // namespace

void DrawHistogram(cairo_t* cr, int width, int height, const Histogram& histogram, bool logarithmic,
                   const DisplayLevels& levels) {
    Background(cr, width, height);
    const int plotH = height - 14;
    if (width <= 0 || plotH <= 0) return;
    const std::vector<uint64_t> columns = histogram.Columns(width);
    const std::vector<double> heights = PlotHeights(columns, logarithmic, PlotScale(columns));
    cairo_set_line_width(cr, 1.0);
    for (int x = 0; x < width; ++x) {
        const double h = heights[static_cast<size_t>(x)] * (plotH - 2);
        if (h <= 0) continue;
        cairo_move_to(cr, x + 0.5, plotH);
        cairo_line_to(cr, x + 0.5, plotH - std::max(h, 1.0));
    }
    cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
    cairo_stroke(cr);
    // The saturated and the zero bins: red and blue marks when anything sits there.
    if (histogram.Saturated() > 0) {
        cairo_set_source_rgb(cr, 1.0, 0.25, 0.25);
        cairo_rectangle(cr, width - 3, 0, 3, plotH);
        cairo_fill(cr);
    }
    if (histogram.Zero() > 0) {
        cairo_set_source_rgb(cr, 0.3, 0.5, 1.0);
        cairo_rectangle(cr, 0, 0, 3, plotH);
        cairo_fill(cr);
    }
    const int full = histogram.FullScale();
    if (levels.black > 0 || levels.white < full) {
        cairo_set_source_rgb(cr, 0.4, 0.7, 1.0);
        for (int level : {levels.black, levels.white}) {
            const double x = static_cast<double>(level) / full * (width - 1) + 0.5;
            cairo_move_to(cr, x, plotH);
            cairo_line_to(cr, x, plotH + 4);
        }
        cairo_stroke(cr);
    }
    cairo_set_source_rgb(cr, 0.7, 0.7, 0.7);
    char text[32];
    Text(cr, 2, height - 2, "0");
    std::snprintf(text, sizeof text, "%d", full);
    Text(cr, width - 2, height - 2, text, true);
    Text(cr, width / 2.0 - 10, height - 2, logarithmic ? "log" : "lin");
}

void DrawProfile(cairo_t* cr, int width, int height, const LineProfile& profile, int fullScale) {
    Background(cr, width, height);
    const int plotH = height - 14;
    if (profile.values.empty() || width <= 1 || plotH <= 0 || fullScale <= 0) return;
    const size_t n = profile.values.size();
    cairo_set_line_width(cr, 1.0);
    cairo_set_source_rgb(cr, 0.3, 0.9, 1.0);
    for (size_t i = 0; i < n; ++i) {
        const double x = n == 1 ? width / 2.0 : static_cast<double>(i) / (n - 1) * (width - 1);
        const double v = std::min(profile.values[i], fullScale);
        const double y = plotH - 1 - v / fullScale * (plotH - 2);
        if (i == 0) {
            cairo_move_to(cr, x, y);
        } else {
            cairo_line_to(cr, x, y);
        }
    }
    cairo_stroke(cr);
    const auto [lo, hi] = std::minmax_element(profile.values.begin(), profile.values.end());
    char text[64];
    std::snprintf(text, sizeof text, "%zu px  min %d  max %d", n, *lo, *hi);
    cairo_set_source_rgb(cr, 0.7, 0.7, 0.7);
    Text(cr, 2, height - 2, text);
}

void DrawTemperature(cairo_t* cr, int width, int height, const TemperatureHistory& history,
                     double now) {
    Background(cr, width, height);
    const int left = 40;
    const int plotW = width - left - 4;
    const int plotH = height - 16;
    if (plotW <= 0 || plotH <= 0) return;
    double low = 0;
    double high = 0;
    history.ValueSpan(2.0, low, high);
    const auto& readings = history.Readings();
    const double first = readings.empty() ? now : readings.front().seconds;
    const double span = std::max(now - first, 10.0);
    char text[32];
    cairo_set_source_rgb(cr, 0.7, 0.7, 0.7);
    std::snprintf(text, sizeof text, "%.1f", high);
    Text(cr, left - 4, 10, text, true);
    std::snprintf(text, sizeof text, "%.1f", low);
    Text(cr, left - 4, plotH, text, true);
    std::snprintf(text, sizeof text, "-%.0f s", span);
    Text(cr, left, height - 2, text);
    Text(cr, width - 4, height - 2, "now", true);
    cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
    cairo_rectangle(cr, left + 0.5, 0.5, plotW, plotH);
    cairo_stroke(cr);
    if (readings.empty()) return;
    cairo_set_source_rgb(cr, 1.0, 0.7, 0.3);
    cairo_set_line_width(cr, 1.5);
    bool started = false;
    for (const TemperatureReading& r : readings) {
        const double x = left + (r.seconds - (now - span)) / span * plotW;
        const double y = plotH - (r.degrees - low) / (high - low) * plotH;
        if (!started) {
            cairo_move_to(cr, x, y);
            started = true;
        } else {
            cairo_line_to(cr, x, y);
        }
    }
    if (readings.size() == 1) cairo_rel_line_to(cr, 1, 0);
    cairo_stroke(cr);
}

}  // namespace lumora_viewer
