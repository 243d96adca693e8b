// Direct access to the camera: sensor and FPGA registers, the configuration memory, the IO port
// and the camera's own defective-pixel correction.
#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "session/CLumora.h"

namespace lumora {
namespace {

constexpr int kReadBackAttempts = 10;
constexpr int kIoPortRegister = 7;

void SetValid(int* valid, int v) {
    if (valid != nullptr) *valid = v;
}

}  // namespace

int CLumora::WriteRegister(int address, int value, bool masked) {
    if (!HasDriver()) return 0;
    const int reg = masked ? address & 0xFF : address;
    const int word = masked ? value & 0xFFFF : value;
    if (driver_->WriteSensorRegister(0, reg, word) == 0) {
        RecordError(ERR_IO);
        return 0;
    }
    return 1;
}

int CLumora::ReadRegister(int address, int* valid, bool masked) {
    if (driver_ == nullptr) {
        SetValid(valid, 0);
        RecordError(ERR_NOT_READY);
        return 0;
    }
    int ok = 0;
    const int value = driver_->ReadSensorRegister(0, masked ? address & 0xFF : address, &ok);
    SetValid(valid, ok != 0 ? 1 : 0);
    if (ok == 0) {
        RecordError(ERR_IO);
        return 0;
    }
    return value;
}

int CLumora::FpgaWriteRegister(int address, int value) {
    if (!HasDriver()) return 0;
    if (driver_->FpgaWrite(address & 0xFF, value & 0xFFFF) == 0) {
        RecordError(ERR_IO);
        return 0;
    }
    return 1;
}

int CLumora::FpgaReadRegister(int address, int* valid) {
    if (driver_ == nullptr) {
        SetValid(valid, 0);
        RecordError(ERR_NOT_READY);
        return 0;
    }
    int ok = 0;
    const int value = driver_->FpgaRead(address & 0xFF, &ok);
    if (ok == 0) {
        SetValid(valid, 0);
        RecordError(ERR_IO);
        return 0;
    }
    return value & 0xFFFF;
}

int CLumora::ReadSromID(int address, int* valid) {
    if (driver_ == nullptr) {
        SetValid(valid, 0);
        PostErrorOnly(ERR_NOT_READY);
        return 0;
    }
    uint8_t byte = 0;
    const int ok = driver_->ReadSrom(address & 0xFFF, &byte);
    SetValid(valid, ok != 0 ? 1 : 0);
    if (ok == 0) RecordError(ERR_NOT_READY);
    return byte;
}

int CLumora::WriteSromID(int address, int value) {
    if (driver_ == nullptr) {
        PostErrorOnly(ERR_NOT_READY);
        return 0;
    }
    const int at = address & 0xFFF;
    const auto byte = static_cast<uint8_t>(value & 0xFF);
    if (driver_->WriteSrom(at, byte) == 0) {
        RecordError(ERR_NOT_READY);
        return 0;
    }
    // The memory may take a moment to accept the byte: read back and write again until it holds.
    for (int attempt = 0; attempt < kReadBackAttempts; ++attempt) {
        uint8_t stored = 0;
        if (driver_->ReadSrom(at, &stored) != 0 && stored == byte) return 1;
        driver_->WriteSrom(at, byte);
    }
    RecordError(ERR_NOT_READY);
    return 0;
}

int CLumora::GetInternalCorrection(int* valid) {
    if (driver_ == nullptr) {
        SetValid(valid, 0);
        RecordError(ERR_NOT_READY);
        return 0;
    }
    if (driver_->IsDefectCorrectionAvailable() == 0) {
        SetValid(valid, 0);
        PostErrorOnly(ERR_UNSUPPORTED);
        return 0;
    }
    SetValid(valid, 1);
    return driver_->IsDefectCorrectionEnabled();
}

int CLumora::SetInternalCorrection(int on) {
    if (!HasDriver()) return 0;
    if (driver_->IsDefectCorrectionAvailable() == 0) {
        PostErrorOnly(ERR_UNSUPPORTED);
        return 0;
    }
    return driver_->EnableDefectCorrection(on);
}

int CLumora::EnableDefectivePixelCorrection(int on) {
    if (!HasDriver()) return 0;
    return driver_->EnableDefectCorrection(on);
}

int CLumora::IsAvailableDefectivePixelCorrection() {
    if (!HasDriver()) return 0;
    return driver_->IsDefectCorrectionAvailable();
}

int CLumora::IsEnabledDefectivePixelCorrection() {
    if (!HasDriver()) return 0;
    return driver_->IsDefectCorrectionEnabled();
}

int CLumora::IsAvailableDefectivePixelCorrectionThreshold() {
    if (!HasDriver()) return 0;
    return driver_->IsDefectThresholdAvailable();
}

int CLumora::SetDefectivePixelCorrectionThreshold(int value) {
    if (!HasDriver()) return 0;
    return driver_->SetDefectThreshold(value);
}

int CLumora::GetDefectivePixelCorrectionThreshold(int* value) {
    if (!HasDriver()) return 0;
    int threshold = 0;
    const int result = driver_->GetDefectThreshold(&threshold);
    if (value != nullptr) *value = threshold;
    return result;
}

int CLumora::GetDefectivePixelCorrectionThresholdRange(int* min, int* max) {
    if (!HasDriver()) return 0;
    if (min != nullptr) *min = driver_->GetDefectThresholdMin();
    if (max != nullptr) *max = driver_->GetDefectThresholdMax();
    return 1;
}

int CLumora::SetIOPort(int value) {
    if (driver_ == nullptr) {
        PostErrorOnly(ERR_NOT_READY);
        return 0;
    }
    // A write the camera did not take is told like every refused setting, not left silent.
    if (driver_->FpgaWrite(kIoPortRegister, value & 0xFF) == 0) {
        RecordError(ERR_IO);
        return 0;
    }
    return 1;
}

int CLumora::GetIOPort(unsigned char* value) {
    if (driver_ == nullptr) {
        PostErrorOnly(ERR_NOT_READY);
        return 0;
    }
    if (value == nullptr) {
        PostErrorOnly(ERR_PARAMETER);
        return 0;
    }
    int ok = 0;
    const int read = driver_->FpgaRead(kIoPortRegister, &ok);
    if (ok == 0) {
        PostErrorOnly(ERR_PARAMETER);
        return 0;
    }
    *value = static_cast<unsigned char>(read);
    return 1;
}

}  // namespace lumora
