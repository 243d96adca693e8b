#pragma once
// The IMX992 sensor registers (16-bit addresses, 8-bit values) and the camera FPGA registers
// (8-bit addresses, 8-bit values) that the sensor and driver core program.
#include <cstdint>

namespace lumora::imx992 {

// Sensor registers.
inline constexpr uint16_t kHold = 0x0200;  // 1 while a timing change is in progress
inline constexpr uint16_t kHold2 = 0x020C;
inline constexpr uint16_t kReadoutBinning = 0x023C;  // 17 in readout mode 1
inline constexpr uint16_t kFrameLength = 0x02D4;  // 3 bytes, little-endian
inline constexpr uint16_t kLineLength = 0x02D8;  // 2 bytes
inline constexpr uint16_t kCropping = 0x0304;  // bit 0 width cropped, bit 1 height cropped
inline constexpr uint16_t kWindowX = 0x0320;  // low byte, then bits 8-12
inline constexpr uint16_t kWindowY = 0x0322;
inline constexpr uint16_t kWindowWidth = 0x0324;
inline constexpr uint16_t kWindowHeight = 0x0326;
inline constexpr uint16_t kReadoutSelect = 0x0400;  // 36, or 172 in readout mode 17
inline constexpr uint16_t kMirror = 0x0404;  // bit 0 vertical, bit 1 horizontal
inline constexpr uint16_t kTriggerA = 0x0430;  // 0x2B triggered, 0x29 free-running
inline constexpr uint16_t kTriggerB = 0x0432;
inline constexpr uint16_t kTriggerEnable = 0x0600;
inline constexpr uint16_t kShutter = 0x0440;  // 3 bytes: first exposed line
inline constexpr uint16_t kTemperatureLatch = 0x0788;  // bit 0 latches 0x0690/0x0691
inline constexpr uint16_t kTemperature = 0x0690;  // low byte, then bits 8-11
inline constexpr uint16_t kStartup = 0x0702;
inline constexpr uint16_t kGainMode = 0x0710;  // bit 0 set: high gain
inline constexpr uint16_t kGain = 0x0714;  // bits 0-7, then bit 8
inline constexpr uint16_t kSensorModeA = 0x0720;  // 0x50 mode 1, 0x5F mode 0
inline constexpr uint16_t kSensorModeB = 0x0740;  // 1 mode 1, 0 mode 0
inline constexpr uint16_t kBlackLevel = 0x07C0;  // bits 0-7, then bits 8-11

// FPGA registers.
inline constexpr uint8_t kFpgaStatus = 0x02;  // bit 1 busy; 0 = sensor bus free
inline constexpr uint8_t kFpgaIoPort = 0x07;
inline constexpr uint8_t kFpgaFrameCounter = 0x08;
inline constexpr uint8_t kFpgaCapabilityLow = 0x10;
inline constexpr uint8_t kFpgaCapabilityHigh = 0x11;
inline constexpr uint8_t kFpgaPixelWidth = 0x3C;  // 1 = 8-bit, 2 = 16-bit
inline constexpr uint8_t kFpgaHeight = 0x40;  // 0x40/0x41
inline constexpr uint8_t kFpgaWidth = 0x44;  // 0x44/0x45
inline constexpr uint8_t kFpgaAlignV1 = 0x48;  // 0x48/0x49
inline constexpr uint8_t kFpgaAlignV2 = 0x4C;  // 0x4C/0x4D
inline constexpr uint8_t kFpgaExposureA = 0x50;  // 0x50, 0x51, 0x52
inline constexpr uint8_t kFpgaOutputTiming = 0x54;  // 0x54, 0x55
inline constexpr uint8_t kFpgaTriggerMode = 0x58;  // 2 = triggered
inline constexpr uint8_t kFpgaTriggerControl = 0x59;
inline constexpr uint8_t kFpgaReadoutMode = 0x5A;  // 0 normal, 1 mode 1, 2 mode 17
inline constexpr uint8_t kFpgaStreamRestart = 0x6C;
inline constexpr uint8_t kFpgaReadyPulse = 0x82;
inline constexpr uint8_t kFpgaExposureLow = 0x85;  // 0x85, 0x86, then 0x9B
inline constexpr uint8_t kFpgaExposureMid = 0x86;
inline constexpr uint8_t kFpgaExposureHigh = 0x9B;
inline constexpr uint8_t kFpgaCooler = 0x97;  // bit 0 = cooler on
inline constexpr uint8_t kFpgaSensorBusRequest = 0x9F;
inline constexpr uint8_t kFpgaDefectThresholdLow = 0xD0;
inline constexpr uint8_t kFpgaDefectEnable = 0xD1;  // bit 0
inline constexpr uint8_t kFpgaDefectThresholdHigh = 0xD2;
inline constexpr uint8_t kFpgaTemperatureLow = 0xE5;
inline constexpr uint8_t kFpgaTemperatureHigh = 0xE6;  // bits 8-11 in its low nibble

// Timing.
inline constexpr double kPixelClockKHz = 54545.0;
inline constexpr int kLineLength8Bit = 489;
inline constexpr int kLineLength16Bit = 978;
inline constexpr double kExposureOffsetUs = 14.802;

// Line time in microseconds for line length `lineLength`.
constexpr double LineTimeUs(int lineLength) {
    return lineLength / 489.0 * 355.7 * 1000.0 / kPixelClockKHz;
}

// The 12-bit two's-complement temperature word in 1/8 degrees Celsius.
constexpr double TemperatureFromRaw(uint16_t raw) {
    const int value = raw & 0xFFF;
    return (value >= 0x800 ? value - 0x1000 : value) / 8.0;
}

}  // namespace lumora::imx992
