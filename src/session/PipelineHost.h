#pragma once
// What the frame pipeline needs from its session: a snapshot of the settings for one frame, the
// mask planes and their lock, and the way back for auto iris and the automatic estimates.
#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "imaging/FramePipeline.h"
#include "session/CLumora.h"

namespace lumora {

class CLumora::PipelineHost final : public FramePipelineHost {
public:
    explicit PipelineHost(CLumora& session) : session_(session) {}

    // The pipeline asks under the session's captureLock_ (ProcessFrameLocked), which the
    // analysis cannot follow through the host interface.
    FrameSettings CurrentSettings() override LUMORA_NO_THREAD_SAFETY_ANALYSIS {
        return session_.FrameSettingsLocked();
    }
    // Called under MaskLock(), by a frame that needs the planes.
    MaskSet* Masks() override LUMORA_REQUIRES(session_.maskLock_) {
        return session_.EnsureMasksLocked() ? &session_.masks_ : nullptr;
    }
    platform::CriticalSection& MaskLock() override { return session_.maskLock_; }
    void AdjustIris(int mode, double factor) override { session_.AutoIrisAdjust(mode, factor); }
    void StoreGrayGains(const std::array<int, 4>& gains) override {
        platform::MutexLock lock(session_.settingsLock_);
        for (int i = 0; i < 4; ++i) session_.gray_.gain[i] = gains[i];
        if (session_.gray_.autoGainCounter > 0) --session_.gray_.autoGainCounter;
    }
    void StoreWhiteBalance(const BayerGains& gains, bool oneShotDone) override {
        platform::MutexLock lock(session_.settingsLock_);
        session_.filter_.bayerGainR = gains.r;
        session_.filter_.bayerGainG = gains.g;
        session_.filter_.bayerGainB = gains.b;
        if (oneShotDone) {
            session_.filter_.bayerGainAuto = 0;
            session_.filter_.oneShotMarker[0] = session_.filter_.oneShotMarker[1] = 0;
        }
    }
    // An open image dialog polls the generation and re-reads its pages.
    void RefreshFilterDialog() override { ++session_.estimateGeneration_; }

private:
    CLumora& session_;
};

}  // namespace lumora
