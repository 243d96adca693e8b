// Image format settings: colour mode, capture window, subsampling. The setters change the
// session; a running capture keeps the geometry it was prepared with until the next Prepare.
#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "io/CameraSettings.h"
#include "session/CLumora.h"

namespace lumora {
namespace {

int ModeForBits(int bits) {
    for (int mode = 0; mode < 6; ++mode) {
        if (kColorModeBits[mode] == bits) return mode;
    }
    return -1;
}

}  // namespace

int CLumora::SetColorMode(int bits) {
    if (driver_ != nullptr) {
        const bool eightBit = bits == 8 || bits == 32;
        const bool colour = bits == 24 || bits == 32 || bits == 48 || bits == 64;
        if ((eightBit && driver_->SupportsOutputFormatA() == 0) ||
            (colour && driver_->SupportsOutputFormatC() == 0)) {
            RecordError(ERR_PARAMETER);
            return 0;
        }
    }
    const int mode = ModeForBits(bits);
    if (mode < 0) {
        RecordError(ERR_PARAMETER);
        return 0;
    }
    colorMode_ = mode;
    return 1;
}

int CLumora::GetColorMode() const {
    const int mode = colorMode_.load();
    return mode >= 0 && mode < 6 ? kColorModeBits[mode] : -1;
}

int CLumora::SetCaptureWindow(int width, int height) {
    if (!HasDriver()) return 0;
    platform::CriticalSectionLock run(runLock_);
    const int device = SettingsDevice();
    const auto preset = FindStoredSize(store_, device, width, height);
    if (!preset) {
        RecordError(ERR_WINDOW);
        return 0;
    }
    sizeEntry_ = *preset;
    if (!ValidateWindow()) {
        RecordError(ERR_WINDOW_SIZE);
        const int buffers = sizeEntry_.bufferCount;
        sizeEntry_ = SizeEntry{};
        sizeEntry_.bufferCount = buffers;
    }
    PublishWindowLocked();
    // A running capture keeps its geometry; the window reaches the driver at the next Prepare.
    if (state_.load() == kStateIdle) {
        driver_->SetCaptureWindow(sizeEntry_.hStart, sizeEntry_.vStart, sizeEntry_.hEffective,
                                  sizeEntry_.vEffective, subSample_);
    }
    return 1;
}

int CLumora::SetCaptureWindowEx(int hTotal, int hStart, int hEffective, int vTotal, int vStart,
                                int vEffective) {
    if (!HasDriver()) return 0;
    platform::CriticalSectionLock run(runLock_);
    if (!kHorizontalWindowing && hEffective != kSensorWidth) {
        RecordError(ERR_PARAMETER);
        return 0;
    }
    if (!kVerticalWindowing && vEffective != kSensorHeight) {
        RecordError(ERR_PARAMETER);
        return 0;
    }
    const SizeEntry before = sizeEntry_;
    sizeEntry_.hTotal = hTotal;
    sizeEntry_.hStart = hStart;
    sizeEntry_.hEffective = hEffective;
    sizeEntry_.vTotal = vTotal;
    sizeEntry_.vStart = vStart;
    sizeEntry_.vEffective = vEffective;
    if (!ValidateWindow()) {
        PublishWindowLocked();
        RecordError(ERR_WINDOW_SIZE);
        return 0;
    }
    // A window the camera refused is not the session's window: the next capture would be
    // prepared for a geometry the camera does not deliver.
    if (state_.load() == kStateIdle &&
        driver_->SetCaptureWindow(hStart, vStart, hEffective, vEffective, subSample_) == 0) {
        sizeEntry_ = before;
        RecordError(ERR_IO);
        return 0;
    }
    PublishWindowLocked();
    return 1;
}

void CLumora::PublishWindowLocked() {
    platform::MutexLock view(windowViewLock_);
    windowView_ = sizeEntry_;
}

int CLumora::GetCaptureWindowEx(int* hTotal, int* hStart, int* hEffective, int* vTotal, int* vStart,
                                int* vEffective) const {
    SizeEntry window;
    {
        platform::MutexLock view(windowViewLock_);
        window = windowView_;
    }
    if (hTotal != nullptr) *hTotal = window.hTotal;
    if (hStart != nullptr) *hStart = window.hStart;
    if (hEffective != nullptr) *hEffective = window.hEffective;
    if (vTotal != nullptr) *vTotal = window.vTotal;
    if (vStart != nullptr) *vStart = window.vStart;
    if (vEffective != nullptr) *vEffective = window.vEffective;
    return 1;
}

int CLumora::SetSubSample(int mode) {
    if (mode != 0 && mode != 1) return 0;
    platform::CriticalSectionLock run(runLock_);
    subSample_ = mode;
    return 1;
}

int CLumora::Width() const {
    if (state_.load() != kStateIdle) return preparedWidth_.load();
    platform::MutexLock view(windowViewLock_);
    return windowView_.hEffective;
}

int CLumora::Height() const {
    if (state_.load() != kStateIdle) return preparedHeight_.load();
    platform::MutexLock view(windowViewLock_);
    return windowView_.vEffective;
}

int CLumora::SetSamplingRate(int rate) {
    if (driver_ == nullptr) return 0;
    int cell = rate;
    return driver_->SetSamplingRate(0, &cell);
}

}  // namespace lumora
