// What the settings dialogs need of the session beyond the exports: suspending and resuming a
// run around the camera dialog and reloading the format group the dialog wrote.
#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "io/CameraSettings.h"
#include "session/CLumora.h"

namespace lumora {

int CLumora::SuspendCapture() {
    const int state = state_.load();
    if (driver_ == nullptr) return kStateIdle;
    if (state == kStateTriggered) {
        // A trigger run only waits between frames; the run and its caller stay set up.
        runFlag_ = kRunPause;
    } else if (state != kStateIdle) {
        // The caller's frame window and buffer stay, so the run can start again as it was.
        StopPreview();
    }
    return state;
}

void CLumora::ResumeCapture(int previousState) {
    if (driver_ == nullptr) return;
    switch (previousState) {
        case kStateTriggered:
            if (state_.load() == kStateTriggered) runFlag_ = kRunGo;
            break;
        case kStatePreview:
            // Prepared again, so the run takes the size and format the dialog chose.
            if (StartPreview() == 0) Close();
            break;
        case kStateCaptured:
            Capture();
            break;
        default:
            break;
    }
}

void CLumora::ReloadFormatSettings() {
    platform::CriticalSectionLock run(runLock_);
    const int device = SettingsDevice();
    LoadSizeSettings(store_, device, Capabilities(), sizeEntry_);
    PublishWindowLocked();
    FormatSettings format{0, colorMode_, subSample_, waitTime_.load(), clock_};
    if (LoadFormatSettings(store_, device, Capabilities(), format)) {
        colorMode_ = format.colorMode;
        subSample_ = format.subSample;
        waitTime_ = format.waitTime;
        clock_ = format.clock;
    }
}

}  // namespace lumora
