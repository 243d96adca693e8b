#include "io/CameraSettings.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/LittleEndian.h"

namespace lumora {
namespace {

using platform::SettingsKey;
using platform::SettingsStore;

constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();

// One stored integer of a record: its value name, its field, the range its setter accepts and
// the value a refused one falls back to.
template <typename Record>
struct IntValue {
    const char* name;
    int32_t Record::*field;
    int32_t min;
    int32_t max;
    int32_t fallback;
};

constexpr IntValue<FilterSettings> kFilterValues[] = {
    {"Brightness", &FilterSettings::brightness, -255, 255, 0},
    {"Contrast", &FilterSettings::contrast, -127, 127, 0},
    {"Hue", &FilterSettings::hue, -360, 360, 0},
    {"Saturation", &FilterSettings::saturation, -255, 255, 0},
    {"Sharpness", &FilterSettings::sharpness, 0, 30, 0},
    {"R_Gain", &FilterSettings::bayerGainR, 0, 400, 100},
    {"G_Gain", &FilterSettings::bayerGainG, 0, 400, 100},
    {"B_Gain", &FilterSettings::bayerGainB, 0, 400, 100},
    {"Gamma", &FilterSettings::gamma, 0, 200, 100},
    {"BayerMode", &FilterSettings::bayerMode, 0, 3, 3},
};

// The gray group names its sites R1, G1, G2, B1; the record keeps them in arrays.
struct GrayValue {
    const char* name;
    int32_t (GraySettings::*array)[4];
    int site;
    int32_t min;
    int32_t max;
};

constexpr const char* kGrayModeName = "Mode";
constexpr GrayValue kGrayValues[] = {
    {"GainR1", &GraySettings::gain, kGrayR, 0, 255},
    {"GainG1", &GraySettings::gain, kGrayG1, 0, 255},
    {"GainG2", &GraySettings::gain, kGrayG2, 0, 255},
    {"GainB1", &GraySettings::gain, kGrayB, 0, 255},
    {"OffsetR1", &GraySettings::offset, kGrayR, -255, 255},
    {"OffsetG1", &GraySettings::offset, kGrayG1, -255, 255},
    {"OffsetG2", &GraySettings::offset, kGrayG2, -255, 255},
    {"OffsetB1", &GraySettings::offset, kGrayB, -255, 255},
};
constexpr int32_t kGrayDefault = 128;  // gains and offsets alike

// The window itself is checked as a whole after reading (WindowFits).
constexpr IntValue<SizeEntry> kSizeValues[] = {
    {"TH", &SizeEntry::hTotal, kIntMin, kIntMax, kSensorWidth},
    {"TV", &SizeEntry::vTotal, kIntMin, kIntMax, kSensorHeight},
    {"EH", &SizeEntry::hEffective, kIntMin, kIntMax, kSensorWidth},
    {"EV", &SizeEntry::vEffective, kIntMin, kIntMax, kSensorHeight},
    {"EHS", &SizeEntry::hStart, kIntMin, kIntMax, 0},
    {"EVS", &SizeEntry::vStart, kIntMin, kIntMax, 0},
    {"Buf", &SizeEntry::bufferCount, 1, kIntMax, 4},
};

// Format group values other than "Color", whose default depends on the camera.
constexpr IntValue<FormatSettings> kFormatValues[] = {
    {"Size", &FormatSettings::sizeIndex, 0, kMaxSizeEntries - 1, 0},
    {"SubSample", &FormatSettings::subSample, 0, 1, 0},
    {"WaitTime", &FormatSettings::waitTime, 0, kIntMax, 1},
    {"Clock", &FormatSettings::clock, 0, kIntMax, 0},
};
constexpr const char* kColorName = "Color";

enum class AnalogRange { GlobalGain, ColorGain, Exposure, Flag, AutoIris, GainMode, BlackLevel };

struct AnalogValue {
    const char* name;
    int32_t AnalogSettings::*field;
    AnalogRange range;
};

// Read and write order of the analog group.
constexpr AnalogValue kAnalogValues[] = {
    {"Global", &AnalogSettings::globalGain, AnalogRange::GlobalGain},
    {"ColorG1", &AnalogSettings::colorGainG1, AnalogRange::ColorGain},
    {"ColorR", &AnalogSettings::colorGainR, AnalogRange::ColorGain},
    {"ColorB", &AnalogSettings::colorGainB, AnalogRange::ColorGain},
    {"ColorG2", &AnalogSettings::colorGainG2, AnalogRange::ColorGain},
    {"Exposure", &AnalogSettings::exposure, AnalogRange::Exposure},
    {"V_Mirror", &AnalogSettings::mirrorV, AnalogRange::Flag},
    {"H_Mirror", &AnalogSettings::mirrorH, AnalogRange::Flag},
    {"AutoIris", &AnalogSettings::autoIris, AnalogRange::AutoIris},
    {"GainMode", &AnalogSettings::gainMode, AnalogRange::GainMode},
    {"BlackLevel", &AnalogSettings::blackLevel, AnalogRange::BlackLevel},
};
constexpr const char* kExposureSecondsName = "ExposureEx";

constexpr const char* kGainKey = "Gain";
constexpr const char* kFilterKey = "Filter";
constexpr const char* kGrayKey = "Gray";

std::string SizeKeyName(int index) {
    char name[16];
    std::snprintf(name, sizeof name, "Size_%02d", index);
    return name;
}

// Reads the table's values into `record`: a missing value keeps the field, a refused one
// takes the fallback. DWORDs are the two's-complement bits of the signed settings.
template <typename Record, size_t N>
void ReadValues(const SettingsKey& key, const IntValue<Record> (&table)[N], Record& record) {
    for (const auto& row : table) {
        const auto stored = key.QueryDword(row.name);
        if (!stored) continue;
        const auto value = static_cast<int32_t>(*stored);
        record.*row.field = (value >= row.min && value <= row.max) ? value : row.fallback;
    }
}

template <typename Record, size_t N>
void WriteValues(SettingsKey& key, const IntValue<Record> (&table)[N], const Record& record) {
    for (const auto& row : table) key.SetDword(row.name, static_cast<uint32_t>(record.*row.field));
}

bool WindowFits(const SizeEntry& e) {
    return e.hEffective >= 0 && e.vEffective >= 0 && e.hStart >= 0 && e.vStart >= 0 &&
           e.hEffective <= kSensorWidth && e.vEffective <= kSensorHeight &&
           e.hStart <= kSensorWidth && e.vStart <= kSensorHeight &&
           e.hStart + e.hEffective <= kSensorWidth && e.vStart + e.vEffective <= kSensorHeight;
}

const SettingsKey* OpenCamera(const SettingsKey& root, int device) {
    const std::string path = CameraKeyPath(device);
    return path.empty() ? nullptr : root.Open(path);
}

void WriteNewCameraDefaults(SettingsKey& camera, const OutputCapabilities& caps) {
    SettingsKey* size = camera.Create(SizeKeyName(0));
    WriteValues(*size, kSizeValues, SizeEntry{});
    FormatSettings format;
    format.waitTime = 1;
    WriteValues(camera, kFormatValues, format);
    camera.SetDword(kColorName, static_cast<uint32_t>(DefaultColorMode(caps)));
}

bool AcceptAnalog(AnalogRange range, const AnalogLimits& limits, int32_t& value) {
    switch (range) {
        case AnalogRange::GlobalGain:
            return limits.globalGain.Contains(value);
        case AnalogRange::ColorGain:
            return limits.colorGain.Contains(value) || limits.globalGain.Contains(value);
        case AnalogRange::Exposure:
            return limits.exposure.Contains(value);
        case AnalogRange::BlackLevel:
            return limits.blackLevel.Contains(value);
        case AnalogRange::Flag:
            value = value != 0 ? 1 : 0;  // the mirror setters take any non-zero as on
            return true;
        case AnalogRange::AutoIris:
            return static_cast<uint32_t>(value) <= 2;
        case AnalogRange::GainMode:
            return value == 0 || value == 1;
    }
    return false;
}

bool AcceptExposureSeconds(double seconds, const AnalogLimits& limits) {
    if (!std::isfinite(seconds) || seconds < 0.0) return false;
    return !limits.longExposure ||
           (seconds >= limits.exposureSecondsMin && seconds <= limits.exposureSecondsMax);
}

}  // namespace

AnalogLimits AnalogLimits::Unchecked() {
    AnalogLimits limits;
    limits.globalGain = limits.colorGain = limits.exposure = limits.blackLevel = {kIntMin, kIntMax};
    return limits;
}

std::string CameraKeyPath(int device) {
    if (device < 0) return {};
    char name[32];
    std::snprintf(name, sizeof name, "\\Camera_%02d", device);
    return std::string(kProductKey) + name;
}

int32_t DefaultColorMode(const OutputCapabilities& caps) {
    if (caps.color) return 2;
    return caps.mono16 ? 1 : 0;
}

int32_t CorrectColorMode(int32_t mode, const OutputCapabilities& caps) {
    if (!caps.mono8 && (mode == 0 || mode == 3)) mode = caps.mono16 ? 1 : 2;
    if (!caps.color && mode == 2) mode = caps.mono16 ? 1 : 0;
    if (!caps.mono16 && mode == 1) mode = caps.color ? 2 : 0;
    return mode;
}

bool LoadSizeSettings(SettingsStore& store, int device, const OutputCapabilities& caps,
                      SizeEntry& size, bool createMissing) {
    const std::string cameraPath = CameraKeyPath(device);
    if (cameraPath.empty()) return false;
    const SettingsKey root = store.Read();
    const SettingsKey* camera = root.Open(cameraPath);
    if (camera == nullptr) {
        if (!createMissing) return false;
        // A camera seen for the first time gets its tree, so that its stored sizes exist for
        // the capture-window presets whether or not another camera came first.
        store.Update([&](SettingsKey& current) {
            if (current.Open(cameraPath) != nullptr) return false;  // another process was first
            SettingsKey* created = current.Create(cameraPath);
            if (created == nullptr) return false;
            WriteNewCameraDefaults(*created, caps);
            return true;
        });
        return false;
    }
    const auto index = camera->QueryDword("Size");
    if (!index || *index >= static_cast<uint32_t>(kMaxSizeEntries)) return false;
    const SettingsKey* entry = camera->Open(SizeKeyName(static_cast<int>(*index)));
    if (entry == nullptr) return false;
    SizeEntry loaded = size;
    ReadValues(*entry, kSizeValues, loaded);
    if (!WindowFits(loaded)) {
        const int32_t buffers = loaded.bufferCount;
        loaded = SizeEntry{};
        loaded.bufferCount = buffers;
    }
    size = loaded;
    return true;
}

bool LoadFormatSettings(const SettingsStore& store, int device, const OutputCapabilities& caps,
                        FormatSettings& format) {
    const SettingsKey root = store.Read();
    const SettingsKey* camera = OpenCamera(root, device);
    if (camera == nullptr) return false;
    if (const auto color = camera->QueryDword(kColorName)) {
        const auto mode = static_cast<int32_t>(*color);
        format.colorMode = (mode >= 0 && mode <= 5) ? mode : DefaultColorMode(caps);
    }
    format.colorMode = CorrectColorMode(format.colorMode, caps);
    ReadValues(*camera, kFormatValues, format);
    return true;
}

bool LoadAnalogSettings(const SettingsStore& store, int device, const AnalogLimits& limits,
                        const AnalogSettings& driverValues, AnalogSettings& settings) {
    const SettingsKey root = store.Read();
    const SettingsKey* camera = OpenCamera(root, device);
    const SettingsKey* gain = camera != nullptr ? camera->Open(kGainKey) : nullptr;
    if (gain == nullptr) {
        for (const auto& row : kAnalogValues) settings.*row.field = driverValues.*row.field;
        settings.autoIris = 0;
        settings.gainMode = 0;
        if (limits.longExposure) settings.exposureSeconds = driverValues.exposureSeconds;
        return true;
    }
    for (const auto& row : kAnalogValues) {
        const auto stored = gain->QueryDword(row.name);
        if (!stored) continue;
        auto value = static_cast<int32_t>(*stored);
        if (AcceptAnalog(row.range, limits, value)) {
            settings.*row.field = value;
        } else if (row.range == AnalogRange::AutoIris || row.range == AnalogRange::GainMode) {
            settings.*row.field = 0;
        } else {
            settings.*row.field = driverValues.*row.field;
        }
    }
    if (const auto bytes = gain->QueryBinary(kExposureSecondsName); bytes && bytes->size() == 8) {
        const double seconds = platform::LoadLeDouble(bytes->data());
        settings.exposureSeconds =
            AcceptExposureSeconds(seconds, limits) ? seconds : driverValues.exposureSeconds;
    }
    return true;
}

bool SaveAnalogSettings(SettingsStore& store, int device, const AnalogSettings& settings) {
    const std::string cameraPath = CameraKeyPath(device);
    if (cameraPath.empty()) return false;
    return store.Update([&](SettingsKey& root) {
        SettingsKey* gain = root.Create(cameraPath + '\\' + kGainKey);
        if (gain == nullptr) return false;
        for (const auto& row : kAnalogValues) {
            gain->SetDword(row.name, static_cast<uint32_t>(settings.*row.field));
        }
        uint8_t bytes[8];
        platform::StoreLeDouble(bytes, settings.exposureSeconds);
        gain->SetBinary(kExposureSecondsName, bytes);
        return true;
    });
}

bool LoadFilterSettings(const SettingsStore& store, int device, FilterSettings& settings) {
    const SettingsKey root = store.Read();
    const SettingsKey* camera = OpenCamera(root, device);
    const SettingsKey* filter = camera != nullptr ? camera->Open(kFilterKey) : nullptr;
    if (filter == nullptr) {
        for (const auto& row : kFilterValues) settings.*row.field = row.fallback;
        settings.bayerGainAuto = 0;
        return false;
    }
    ReadValues(*filter, kFilterValues, settings);
    return true;
}

bool SaveFilterSettings(SettingsStore& store, int device, const FilterSettings& settings) {
    const std::string cameraPath = CameraKeyPath(device);
    if (cameraPath.empty()) return false;
    return store.Update([&](SettingsKey& root) {
        SettingsKey* filter = root.Create(cameraPath + '\\' + kFilterKey);
        if (filter == nullptr) return false;
        WriteValues(*filter, kFilterValues, settings);
        return true;
    });
}

bool LoadGraySettings(const SettingsStore& store, int device, GraySettings& settings) {
    const SettingsKey root = store.Read();
    const SettingsKey* camera = OpenCamera(root, device);
    const SettingsKey* gray = camera != nullptr ? camera->Open(kGrayKey) : nullptr;
    if (gray == nullptr) {
        settings.grayMode = 0;
        for (const auto& row : kGrayValues) (settings.*row.array)[row.site] = kGrayDefault;
        return false;
    }
    if (const auto mode = gray->QueryDword(kGrayModeName)) {
        settings.grayMode = *mode <= 2 ? static_cast<int32_t>(*mode) : 0;
    }
    for (const auto& row : kGrayValues) {
        const auto stored = gray->QueryDword(row.name);
        if (!stored) continue;
        const auto value = static_cast<int32_t>(*stored);
        (settings.*row.array)[row.site] =
            (value >= row.min && value <= row.max) ? value : kGrayDefault;
    }
    return true;
}

bool SaveGraySettings(SettingsStore& store, int device, const GraySettings& settings) {
    const std::string cameraPath = CameraKeyPath(device);
    if (cameraPath.empty()) return false;
    return store.Update([&](SettingsKey& root) {
        SettingsKey* camera = root.Open(cameraPath);
        if (camera == nullptr) return false;  // the gray group never creates a camera's key
        SettingsKey* gray = camera->Create(kGrayKey);
        if (gray == nullptr) return false;
        gray->SetDword(kGrayModeName, static_cast<uint32_t>(settings.grayMode));
        for (const auto& row : kGrayValues) {
            gray->SetDword(row.name, static_cast<uint32_t>((settings.*row.array)[row.site]));
        }
        return true;
    });
}

std::vector<SizeEntry> LoadSizeList(const SettingsStore& store, int device) {
    std::vector<SizeEntry> sizes;
    const SettingsKey root = store.Read();
    const SettingsKey* camera = OpenCamera(root, device);
    if (camera == nullptr) return sizes;
    for (int i = 0; i < kMaxSizeEntries; ++i) {
        const SettingsKey* entry = camera->Open(SizeKeyName(i));
        if (entry == nullptr) break;
        SizeEntry size;
        // As stored: the caller validates the window and reports a bad one.
        for (const auto& row : kSizeValues) {
            if (const auto v = entry->QueryDword(row.name)) {
                size.*row.field = static_cast<int32_t>(*v);
            }
        }
        sizes.push_back(size);
    }
    return sizes;
}

std::optional<SizeEntry> FindStoredSize(const SettingsStore& store, int device, int32_t width,
                                        int32_t height) {
    for (const SizeEntry& size : LoadSizeList(store, device)) {
        if (size.hEffective == width && size.vEffective == height) return size;
    }
    return std::nullopt;
}

bool SaveFormatGroup(SettingsStore& store, int device, std::span<const SizeEntry> sizes,
                     const FormatSettings& format) {
    const std::string cameraPath = CameraKeyPath(device);
    if (cameraPath.empty() || sizes.empty() || sizes.size() > kMaxSizeEntries) return false;
    return store.Update([&](SettingsKey& root) {
        SettingsKey* camera = root.Create(cameraPath);
        if (camera == nullptr) return false;
        for (size_t i = 0; i < sizes.size(); ++i) {
            SettingsKey* entry = camera->Create(SizeKeyName(static_cast<int>(i)));
            WriteValues(*entry, kSizeValues, sizes[i]);
        }
        WriteValues(*camera, kFormatValues, format);
        camera->SetDword(kColorName, static_cast<uint32_t>(format.colorMode));
        return true;
    });
}

}  // namespace lumora
