// `lumora snap --scale`: a 16-bit frame, whose samples hold the sensor's 12 bits (0..4095), saved
// with those bits stretched over the whole 16 (0..65535), so that viewers show it as the camera
// saw it instead of nearly black. PNG files say so in their sBIT chunk (12 significant bits).
#pragma once

#include <cstdint>
#include <string>

#include "Command.h"

namespace lumora_cli {

// The Lumora_SaveImage format codes this file writes stretched.
inline constexpr int kFormatBmp = 0;
inline constexpr int kFormatRaw = 1;
inline constexpr int kFormatPng = 5;
inline constexpr int kFormatTiff = 6;

bool WritesStretched(int format);
// `frame`: top row first, rows of size.Stride() bytes, little-endian 16-bit samples.
void WriteStretchedFrame(const std::string& path, int format, const uint8_t* frame,
                         const FrameSize& size);

}  // namespace lumora_cli
