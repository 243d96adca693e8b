// The viewer's small plots, drawn with cairo into a widget's area: the histogram, the line
// profile and the sensor temperature over time.
#pragma once

#include <cairo.h>

#include "Histogram.h"
#include "LineProfile.h"
#include "PictureRenderer.h"
#include "TemperatureHistory.h"

namespace lumora_viewer {

// The bars of the histogram (the saturated bin in red), and the display's black and white
// levels as marks under it when they are not the full range.
void DrawHistogram(cairo_t* cr, int width, int height, const Histogram& histogram, bool logarithmic,
                   const DisplayLevels& levels);
void DrawProfile(cairo_t* cr, int width, int height, const LineProfile& profile, int fullScale);
// `now`: seconds on the history's clock, the right edge of the plot.
void DrawTemperature(cairo_t* cr, int width, int height, const TemperatureHistory& history,
                     double now);

}  // namespace lumora_viewer
