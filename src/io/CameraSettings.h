#pragma once
// Loading and saving a camera's settings groups in the settings store, one "Camera_%02d" key per
// device index under the product key. Every operation takes the store, the device index and the
// records explicitly; the session supplies its own fields and the driver's current values.
//
// Loads never fail loudly: a missing key or value keeps the record's current content, and a
// stored value outside the range its setter accepts is replaced by that field's default, so a
// hand-edited or foreign file cannot push an impossible setting into the driver.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "io/SessionSettings.h"
#include "platform/SettingsStore.h"

namespace lumora {

inline constexpr const char* kProductKey = "Software\\Quenta\\LumoraM5XIRTEC3T2Sdk";
inline constexpr int kMaxSizeEntries = 100;  // "Size_00" .. "Size_99"

// "Software\Quenta\LumoraM5XIRTEC3T2Sdk\Camera_07"; empty for a negative index.
std::string CameraKeyPath(int device);

// What the opened camera can deliver; decides the stored colour mode. A session without a
// driver passes all three true, which leaves any mode as it is.
struct OutputCapabilities {
    bool mono8 = true;   // 8-bit samples
    bool mono16 = true;  // 16-bit samples
    bool color = false;
};

// The colour mode written with a new camera key.
int32_t DefaultColorMode(const OutputCapabilities& caps);
// The stored mode corrected to what the camera delivers.
int32_t CorrectColorMode(int32_t mode, const OutputCapabilities& caps);

struct IntRange {
    int32_t min;
    int32_t max;
    bool Contains(int32_t v) const { return v >= min && v <= max; }
};

// The driver's ranges for the analog values; a loaded value outside them is refused. The colour
// gains are also written by the global-gain setter, so they pass within either gain range.
struct AnalogLimits {
    // Accepts every value: for reading the stored values while no camera can judge them.
    static AnalogLimits Unchecked();

    IntRange globalGain{0, 0};
    IntRange colorGain{0, 0};
    IntRange exposure{0, 0};
    IntRange blackLevel{0, 4095};
    bool longExposure = false;  // the driver takes an exposure in seconds
    double exposureSecondsMin = 0.0;
    double exposureSecondsMax = 0.0;
};

// The capture window at camera open. When the product key or the camera's key is missing, the
// camera's tree is created with the defaults ("Size_00" the full sensor, the format group) and
// false is returned with `size` unchanged. Otherwise the selected entry is read into `size`
// (a window that does not fit the sensor becomes the full sensor) and true is returned; false
// when the entry or the "Size" value is missing. With `createMissing` false (no camera is open,
// so nothing is known of what it delivers) a missing tree is left missing.
bool LoadSizeSettings(platform::SettingsStore& store, int device, const OutputCapabilities& caps,
                      SizeEntry& size, bool createMissing = true);

// "Size", "Color", "SubSample", "WaitTime", "Clock"; the colour mode is corrected to `caps`.
// False when the camera's key is missing (`format` unchanged).
bool LoadFormatSettings(const platform::SettingsStore& store, int device,
                        const OutputCapabilities& caps, FormatSettings& format);

// The analog group. Without a "Gain" key the record takes `driverValues` (auto iris and gain
// mode 0; the long exposure only when the driver has one). A stored value the driver would
// refuse takes its `driverValues` field instead (0 for auto iris and gain mode). Always true.
bool LoadAnalogSettings(const platform::SettingsStore& store, int device,
                        const AnalogLimits& limits, const AnalogSettings& driverValues,
                        AnalogSettings& settings);
bool SaveAnalogSettings(platform::SettingsStore& store, int device, const AnalogSettings& settings);

// The filter group. Without a "Filter" key the record takes the neutral defaults and false is
// returned.
bool LoadFilterSettings(const platform::SettingsStore& store, int device, FilterSettings& settings);
bool SaveFilterSettings(platform::SettingsStore& store, int device, const FilterSettings& settings);

// The gray group. Without a "Gray" key: mode 0, gains and offsets 128, false. Saving needs the
// camera's key to exist already and writes nothing (false) without it.
bool LoadGraySettings(const platform::SettingsStore& store, int device, GraySettings& settings);
bool SaveGraySettings(platform::SettingsStore& store, int device, const GraySettings& settings);

// The stored capture sizes "Size_00", "Size_01", ... up to the first missing one. A missing
// value of an entry keeps the default (the full sensor with 4 buffers).
std::vector<SizeEntry> LoadSizeList(const platform::SettingsStore& store, int device);
// The first stored size of `width` × `height`; nothing when the camera's key or such an entry
// is missing.
std::optional<SizeEntry> FindStoredSize(const platform::SettingsStore& store, int device,
                                        int32_t width, int32_t height);
// Writes "Size_00" .. one per entry (at most 100) and the format group, as the camera-format
// dialog does. False for an empty list or one longer than 100 entries (nothing written).
bool SaveFormatGroup(platform::SettingsStore& store, int device, std::span<const SizeEntry> sizes,
                     const FormatSettings& format);

}  // namespace lumora
