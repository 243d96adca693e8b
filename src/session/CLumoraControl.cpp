// Camera control: the filter-value family (one table serves the general and the named exports),
// exposure in seconds and microseconds, mirrors, auto iris, cooler and temperature, and the
// functions this camera does not offer.
#include <cmath>

#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "session/CLumora.h"

namespace lumora {

// How a filter value is stored and applied.
enum class FilterKind {
    kSession,      // a range-checked session field
    kBayerPacked,  // ids 7..9 packed in one word
    kFlag,         // any value, stored as 0/1
    kOption,       // a session flag without a named export (get is an unknown id)
    kGlobalGain,
    kColorGain,
    kExposure,
    kChannel,  // channel gains and offsets: not offered
    kPeltier,
    kTemperature,
    kGainMode,
    kResponseMode,
    kBlackLevel,
};

using DriverType = CLumoraUSB3T2SimpleSdk;

struct CLumora::FilterRow {
    int id;
    FilterKind kind;
    int min;
    int max;
    // The session field of kSession/kFlag/kOption rows.
    int32_t* (*field)(CLumora&);
    // The driver calls of kColorGain rows.
    int (*setGain)(DriverType&, int);
    int (*getGain)(DriverType&);

    static const FilterRow* Find(int id);
};

// Field accessors need the session's private records; the table spells each out once.
#define LUMORA_FILTER_FIELD(expr) [](CLumora& s) -> int32_t* { return &(expr); }

const CLumora::FilterRow* CLumora::FilterRow::Find(int id) {
    using K = FilterKind;
    static const FilterRow kRows[] = {
        {1, K::kSession, -255, 255, LUMORA_FILTER_FIELD(s.filter_.brightness), nullptr, nullptr},
        {2, K::kSession, -127, 127, LUMORA_FILTER_FIELD(s.filter_.contrast), nullptr, nullptr},
        {3, K::kSession, -360, 360, LUMORA_FILTER_FIELD(s.filter_.hue), nullptr, nullptr},
        {4, K::kSession, -255, 255, LUMORA_FILTER_FIELD(s.filter_.saturation), nullptr, nullptr},
        {5, K::kSession, 0, 30, LUMORA_FILTER_FIELD(s.filter_.sharpness), nullptr, nullptr},
        {6, K::kBayerPacked, 0, 0, nullptr, nullptr, nullptr},
        {7, K::kSession, 0, 400, LUMORA_FILTER_FIELD(s.filter_.bayerGainR), nullptr, nullptr},
        {8, K::kSession, 0, 400, LUMORA_FILTER_FIELD(s.filter_.bayerGainG), nullptr, nullptr},
        {9, K::kSession, 0, 400, LUMORA_FILTER_FIELD(s.filter_.bayerGainB), nullptr, nullptr},
        {10, K::kFlag, 0, 1, LUMORA_FILTER_FIELD(s.filter_.bayerGainAuto), nullptr, nullptr},
        {11, K::kSession, 0, 200, LUMORA_FILTER_FIELD(s.filter_.gamma), nullptr, nullptr},
        {12, K::kSession, 0, 3, LUMORA_FILTER_FIELD(s.filter_.bayerMode), nullptr, nullptr},
        {13, K::kGlobalGain, 0, 0, nullptr, nullptr, nullptr},
        {14, K::kColorGain, 0, 0, nullptr,
         [](DriverType& d, int v) { return d.SetColorGainRed(v); },
         [](DriverType& d) { return d.GetColorGainRed(); }},
        {15, K::kColorGain, 0, 0, nullptr,
         [](DriverType& d, int v) { return d.SetColorGainGreen1(v); },
         [](DriverType& d) { return d.GetColorGainGreen1(); }},
        {16, K::kColorGain, 0, 0, nullptr,
         [](DriverType& d, int v) { return d.SetColorGainGreen2(v); },
         [](DriverType& d) { return d.GetColorGainGreen2(); }},
        {17, K::kColorGain, 0, 0, nullptr,
         [](DriverType& d, int v) { return d.SetColorGainBlue(v); },
         [](DriverType& d) { return d.GetColorGainBlue(); }},
        {18, K::kExposure, 0, 0, nullptr, nullptr, nullptr},
        {19, K::kSession, 0, 2, LUMORA_FILTER_FIELD(s.gray_.grayMode), nullptr, nullptr},
        {20, K::kSession, 0, 255, LUMORA_FILTER_FIELD(s.gray_.gain[kGrayR]), nullptr, nullptr},
        {21, K::kSession, 0, 255, LUMORA_FILTER_FIELD(s.gray_.gain[kGrayG1]), nullptr, nullptr},
        {22, K::kSession, 0, 255, LUMORA_FILTER_FIELD(s.gray_.gain[kGrayG2]), nullptr, nullptr},
        {23, K::kSession, 0, 255, LUMORA_FILTER_FIELD(s.gray_.gain[kGrayB]), nullptr, nullptr},
        {24, K::kSession, -255, 255, LUMORA_FILTER_FIELD(s.gray_.offset[kGrayR]), nullptr, nullptr},
        {25, K::kSession, -255, 255, LUMORA_FILTER_FIELD(s.gray_.offset[kGrayG1]), nullptr,
         nullptr},
        {26, K::kSession, -255, 255, LUMORA_FILTER_FIELD(s.gray_.offset[kGrayG2]), nullptr,
         nullptr},
        {27, K::kSession, -255, 255, LUMORA_FILTER_FIELD(s.gray_.offset[kGrayB]), nullptr, nullptr},
        {28, K::kOption, 0, 1, LUMORA_FILTER_FIELD(s.gray_.autoGainCounter), nullptr, nullptr},
        {29, K::kChannel, 0, 0, nullptr, nullptr, nullptr},
        {30, K::kChannel, 0, 0, nullptr, nullptr, nullptr},
        {31, K::kChannel, 0, 0, nullptr, nullptr, nullptr},
        {32, K::kChannel, 0, 0, nullptr, nullptr, nullptr},
        {33, K::kChannel, 0, 0, nullptr, nullptr, nullptr},
        {34, K::kChannel, 0, 0, nullptr, nullptr, nullptr},
        {35, K::kChannel, 0, 0, nullptr, nullptr, nullptr},
        {36, K::kChannel, 0, 0, nullptr, nullptr, nullptr},
        {100, K::kPeltier, 0, 0, nullptr, nullptr, nullptr},
        {101, K::kTemperature, 0, 0, nullptr, nullptr, nullptr},
        {102, K::kSession, 0, 1, LUMORA_FILTER_FIELD(s.dotFilter_), nullptr, nullptr},
        {103, K::kSession, 0, 1, LUMORA_FILTER_FIELD(s.maskFilter_), nullptr, nullptr},
        {104, K::kGainMode, 0, 0, nullptr, nullptr, nullptr},
        {105, K::kResponseMode, 0, 0, nullptr, nullptr, nullptr},
        {106, K::kBlackLevel, 0, 0, nullptr, nullptr, nullptr},
    };
    for (const FilterRow& row : kRows) {
        if (row.id == id) return &row;
    }
    return nullptr;
}

#undef LUMORA_FILTER_FIELD

int CLumora::GetFilterValue(int id, int* valid) {
    auto setValid = [valid](int v) {
        if (valid != nullptr) *valid = v;
    };
    if (driver_ == nullptr) {
        setValid(0);
        RecordError(ERR_NOT_READY);
        return 0;
    }
    const FilterRow* row = FilterRow::Find(id);
    if (row == nullptr || row->kind == FilterKind::kOption) {
        setValid(0);
        RecordError(ERR_PARAMETER);
        return 0;
    }
    setValid(1);
    DriverType& d = *driver_;
    switch (row->kind) {
        case FilterKind::kSession:
        case FilterKind::kFlag: {
            platform::MutexLock lock(settingsLock_);
            return *row->field(*this);
        }
        case FilterKind::kBayerPacked: {
            platform::MutexLock lock(settingsLock_);
            return (filter_.bayerGainR & 0xFF) | (filter_.bayerGainG & 0xFF) << 8 |
                   (filter_.bayerGainB & 0xFF) << 16;
        }
        case FilterKind::kGlobalGain:
            return d.GetGlobalGain();
        case FilterKind::kColorGain:
            return row->getGain(d);
        case FilterKind::kExposure:
            return static_cast<int>(d.GetExposureTime());
        case FilterKind::kChannel:
            setValid(0);
            RecordError(ERR_PARAMETER);
            return 0;
        case FilterKind::kPeltier:
            if (d.IsPeltierAvailable() == 0) {
                setValid(0);
                RecordError(ERR_UNSUPPORTED);
                return -1;
            }
            return d.GetPeltier();
        case FilterKind::kTemperature:
            setValid(0);
            RecordError(ERR_UNSUPPORTED);
            return -1;
        case FilterKind::kGainMode:
            return d.GetControlFlag();
        case FilterKind::kResponseMode: {
            if (d.HasResponseMode() == 0) {
                setValid(0);
                RecordError(ERR_UNSUPPORTED);
                return 0;
            }
            int mode = 0;
            if (d.GetResponseMode(&mode) == 0) {
                setValid(0);
                RecordError(ERR_IO);
                return 0;
            }
            RecordError(ERR_NONE);
            return mode != 0 ? 1 : 0;
        }
        case FilterKind::kBlackLevel: {
            if (d.IsBlackLevelSupported() == 0) {
                setValid(0);
                RecordError(ERR_UNSUPPORTED);
                return 0;
            }
            const int level = d.GetBlackLevel();
            {
                platform::MutexLock lock(settingsLock_);
                analog_.blackLevel = level;
            }
            RecordError(ERR_NONE);
            return level;
        }
        case FilterKind::kOption:
            break;
    }
    return 0;
}

int CLumora::SetFilterValue(int id, int value) {
    if (!HasDriver()) return 0;
    const FilterRow* row = FilterRow::Find(id);
    if (row == nullptr || row->kind == FilterKind::kTemperature ||
        row->kind == FilterKind::kChannel) {
        RecordError(ERR_PARAMETER);
        return 0;
    }
    DriverType& d = *driver_;
    auto outside = [this](int v, int min, int max) {
        if (v >= min && v <= max) return false;
        RecordError(ERR_PARAMETER);
        return true;
    };
    // A setting the camera refused is a failure the caller must see.
    auto applied = [this](int result) {
        if (result != 0) return 1;
        RecordError(ERR_IO);
        return 0;
    };
    switch (row->kind) {
        case FilterKind::kSession:
        case FilterKind::kOption: {
            if (outside(value, row->min, row->max)) return 0;
            platform::MutexLock lock(settingsLock_);
            *row->field(*this) = value;
            return 1;
        }
        case FilterKind::kFlag: {
            platform::MutexLock lock(settingsLock_);
            *row->field(*this) = value != 0 ? 1 : 0;
            return 1;
        }
        case FilterKind::kBayerPacked: {
            platform::MutexLock lock(settingsLock_);
            filter_.bayerGainR = value & 0xFF;
            filter_.bayerGainG = (value >> 8) & 0xFF;
            filter_.bayerGainB = (value >> 16) & 0xFF;
            return 1;
        }
        case FilterKind::kGlobalGain: {
            if (outside(value, d.GetGlobalGainMin(), d.GetGlobalGainMax())) return 0;
            // Stored only once the camera took it: the getters report what the camera holds.
            if (applied(d.SetGlobalGain(value)) == 0) return 0;
            platform::MutexLock lock(settingsLock_);
            analog_.globalGain = value;
            analog_.colorGainG1 = analog_.colorGainR = analog_.colorGainB = analog_.colorGainG2 =
                value;
            return 1;
        }
        case FilterKind::kColorGain: {
            if (outside(value, d.GetColorGainMin(), d.GetColorGainMax())) return 0;
            if (applied(row->setGain(d, value)) == 0) return 0;
            {
                platform::MutexLock lock(settingsLock_);
                switch (row->id) {
                    case 14:
                        analog_.colorGainR = value;
                        break;
                    case 15:
                        analog_.colorGainG1 = value;
                        break;
                    case 16:
                        analog_.colorGainG2 = value;
                        break;
                    default:
                        analog_.colorGainB = value;
                        break;
                }
            }
            return 1;
        }
        case FilterKind::kExposure: {
            if (outside(value, static_cast<int>(d.GetExposureTimeMin()),
                        static_cast<int>(d.GetExposureTimeMax()))) {
                return 0;
            }
            if (applied(d.SetExposureTime(static_cast<uint32_t>(value))) == 0) return 0;
            const bool haveSeconds = d.IsExposureTimeExAvailable() != 0;
            const double seconds = haveSeconds ? d.GetExposureTimeEx() : 0.0;
            platform::MutexLock lock(settingsLock_);
            analog_.exposure = value;
            if (haveSeconds) analog_.exposureSeconds = seconds;
            return 1;
        }
        case FilterKind::kPeltier:
            if (d.IsPeltierAvailable() == 0) {
                RecordError(ERR_UNSUPPORTED);
                return 0;
            }
            return applied(d.SetPeltier(value));
        case FilterKind::kGainMode: {
            if (applied(d.SetControlFlag(value)) == 0) return 0;
            // Stored, so the next Prepare re-applies what the user chose.
            platform::MutexLock lock(settingsLock_);
            analog_.gainMode = value;
            return 1;
        }
        case FilterKind::kResponseMode: {
            if (d.HasResponseMode() == 0) {
                RecordError(ERR_UNSUPPORTED);
                return 0;
            }
            const int on = value > 0 ? 1 : 0;
            if (d.SetResponseMode(on) == 0) {
                RecordError(ERR_IO);
                return 0;
            }
            platform::MutexLock lock(settingsLock_);
            analog_.responseMode = on;
            return 1;
        }
        case FilterKind::kBlackLevel: {
            if (d.IsBlackLevelSupported() == 0) {
                RecordError(ERR_UNSUPPORTED);
                return 0;
            }
            if (d.SetBlackLevel(value) == 0) {
                RecordError(ERR_IO);
                return 0;
            }
            {
                platform::MutexLock lock(settingsLock_);
                analog_.blackLevel = value;
            }
            RecordError(ERR_NONE);
            return 1;
        }
        case FilterKind::kChannel:
        case FilterKind::kTemperature:
            break;
    }
    return 0;
}

int CLumora::GetChannelValue(bool gain, int channel, int* valid) {
    if (channel < 1 || channel > 4) return 0;
    return GetFilterValue((gain ? 28 : 32) + channel, valid);
}

int CLumora::SetChannelValue(bool gain, int channel, int value) {
    if (channel < 1 || channel > 4) return 0;
    return SetFilterValue((gain ? 28 : 32) + channel, value);
}

int CLumora::SetExposureTimeEx(double seconds) {
    if (!HasDriver()) return 0;
    if (driver_->IsExposureTimeExAvailable() == 0) {
        RecordError(ERR_UNSUPPORTED);
        return 0;
    }
    const double minimum = driver_->GetExposureTimeExMin();
    const double maximum = driver_->GetExposureTimeExMax();
    if (!std::isfinite(seconds) || seconds < minimum || seconds > maximum) {
        RecordError(ERR_PARAMETER);
        return 0;
    }
    if (driver_->SetExposureTimeEx(seconds) == 0) {
        RecordError(ERR_IO);
        return 0;
    }
    platform::MutexLock lock(settingsLock_);
    analog_.exposureSeconds = seconds;
    analog_.exposure = static_cast<int32_t>(seconds * 10000.0);
    return 1;
}

double CLumora::GetExposureTimeEx(int* valid) {
    auto setValid = [valid](int v) {
        if (valid != nullptr) *valid = v;
    };
    if (driver_ == nullptr) {
        setValid(0);
        RecordError(ERR_NOT_READY);
        return -1.0;
    }
    if (driver_->IsExposureTimeExAvailable() == 0) {
        setValid(0);
        RecordError(ERR_UNSUPPORTED);
        return -1.0;
    }
    const double seconds = driver_->GetExposureTimeEx();
    setValid(1);
    platform::MutexLock lock(settingsLock_);
    analog_.exposureSeconds = seconds;
    return seconds;
}

int CLumora::SetRealExposureTime(int microseconds) {
    if (!HasDriver()) return 0;
    const int value = microseconds / 100;
    if (value < static_cast<int>(driver_->GetExposureTimeMin()) ||
        value > static_cast<int>(driver_->GetExposureTimeMax())) {
        RecordError(ERR_PARAMETER);
        return 0;
    }
    return SetFilterValue(18, value);
}

int CLumora::GetRealExposureTime(int* valid) {
    if (driver_ == nullptr) {
        if (valid != nullptr) *valid = 0;
        RecordError(ERR_NOT_READY);
        return 0;
    }
    if (valid != nullptr) *valid = 1;
    platform::MutexLock lock(settingsLock_);
    realExposure_ = analog_.exposure * 100;
    return realExposure_;
}

int CLumora::SetMirrorH(int on) {
    if (!HasDriver()) return 0;
    const int flag = on != 0 ? 1 : 0;
    if (driver_->SetMirrorH(flag) == 0) {
        RecordError(ERR_IO);
        return 0;
    }
    platform::MutexLock lock(settingsLock_);
    analog_.mirrorH = flag;
    return 1;
}

int CLumora::SetMirrorV(int on) {
    if (driver_ == nullptr) {
        PostErrorOnly(ERR_NOT_READY);
        return 0;
    }
    const int flag = on != 0 ? 1 : 0;
    if (driver_->SetMirrorV(flag) == 0) {
        RecordError(ERR_IO);
        return 0;
    }
    platform::MutexLock lock(settingsLock_);
    analog_.mirrorV = flag;
    return 1;
}

int CLumora::GetMirrorH() {
    if (!HasDriver()) return 0;
    platform::MutexLock lock(settingsLock_);
    return analog_.mirrorH;
}

int CLumora::GetMirrorV() {
    if (driver_ == nullptr) {
        PostErrorOnly(ERR_NOT_READY);
        return 0;
    }
    platform::MutexLock lock(settingsLock_);
    return analog_.mirrorV;
}

int CLumora::SetAutoIris(int mode) {
    if (static_cast<unsigned>(mode) > 2u) {
        PostErrorOnly(ERR_PARAMETER);
        return 0;
    }
    platform::MutexLock lock(settingsLock_);
    analog_.autoIris = mode;
    return 1;
}

int CLumora::GetAutoIris(int* valid) {
    if (valid != nullptr) *valid = 1;
    platform::MutexLock lock(settingsLock_);
    return analog_.autoIris;
}

double CLumora::GetTemperatureEx(int* valid) {
    auto setValid = [valid](int v) {
        if (valid != nullptr) *valid = v;
    };
    if (driver_ == nullptr) {
        setValid(0);
        RecordError(ERR_NOT_READY);
        return 0.0;
    }
    if (driver_->IsTemperatureAvailable() == 0) {
        setValid(0);
        RecordError(ERR_UNSUPPORTED);
        return 0.0;
    }
    double degrees = 0.0;
    const int ok = driver_->GetTemperature(&degrees);
    setValid(ok);
    if (ok != 0) {
        lastTemperature_ = degrees;
        temperatureRead_ = true;
    }
    // A read the camera did not answer is a transfer failure.
    RecordError(ok != 0 ? ERR_NONE : ERR_IO);
    return ok != 0 ? degrees : 0.0;
}

int CLumora::NotSupportedPosted() {
    PostErrorOnly(ERR_UNSUPPORTED);
    return 0;
}

int CLumora::NotSupportedRecorded(int result) {
    RecordError(ERR_UNSUPPORTED);
    return result;
}

}  // namespace lumora
