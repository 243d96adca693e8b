// The every-frame run (frames taken from the ring in order into a bounded queue the application
// drains) and what the session knows of each frame it hands out.
#include <algorithm>
#include <cstring>

#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "platform/Clock.h"
#include "platform/Memory.h"
#include "platform/MessageTarget.h"
#include "session/CLumora.h"

namespace lumora {

LumoraFrameMeta CLumora::MakeMeta(const FrameRecord& record, uint64_t skippedBefore) const {
    const AnalogSettings analog = AnalogSnapshot();
    LumoraFrameMeta meta{};
    meta.valid = 1;
    meta.frameCounter = static_cast<uint32_t>(record.frameCounter);
    meta.arrivalNs = record.arrivalNs;
    meta.arrivalWallNs = record.arrivalWallNs;
    meta.skippedBefore = skippedBefore;
    // What the frame was taken with, as far as the driver can tell; without a camera's record of
    // its settings, what the host holds now.
    FrameAnalog taken;
    if (driver_ != nullptr && driver_->DescribeFrameAnalog(record, &taken)) {
        meta.exposureSeconds = taken.exposureSeconds;
        meta.gain = taken.gain;
        meta.blackLevel = taken.blackLevel;
    } else {
        meta.exposureSeconds =
            analog.exposureSeconds > 0.0 ? analog.exposureSeconds : analog.exposure * 1e-4;
        meta.gain = analog.globalGain;
        meta.blackLevel = analog.blackLevel;
    }
    meta.temperatureValid = temperatureRead_.load() ? 1 : 0;
    meta.temperature = meta.temperatureValid != 0 ? lastTemperature_.load() : 0.0;
    const int mode = preparedColorMode_;
    meta.bitDepth = (mode == 1 || mode == 4 || mode == 5) ? 16 : 8;
    meta.windowX = preparedGeometry_.windowX;
    meta.windowY = preparedGeometry_.windowY;
    meta.windowWidth = preparedWidth_.load();
    meta.windowHeight = preparedHeight_.load();
    meta.subSample = preparedSubSample_;
    meta.width = rawWidth_;
    meta.height = rawHeight_;
    return meta;
}

LumoraFrameMeta CLumora::AnnouncedFrameMeta() const {
    std::lock_guard lock(metaLock_);
    return announcedMeta_;
}

int CLumora::GetFramePeriod(double* seconds) {
    if (driver_ == nullptr) return 0;
    const double microseconds = driver_->FramePeriodUs();
    if (!(microseconds > 0.0)) return 0;
    *seconds = microseconds / 1e6;
    return 1;
}

int CLumora::StartQueuedPreview(int count, unsigned char* const* buffers, int size, int rowOrder) {
    if (!HasDriver()) return 0;
    if (count < 1 || count > FrameQueue::kMaxBuffers || (buffers != nullptr && size <= 0)) {
        RecordError(ERR_PARAMETER);
        return 0;
    }
    if (buffers != nullptr) {
        for (int i = 0; i < count; ++i) {
            if (buffers[i] == nullptr) {
                RecordError(ERR_PARAMETER);
                return 0;
            }
        }
    }
    platform::CriticalSectionLock run(runLock_);
    if (state_.load() != kStateIdle) {
        RecordError(ERR_NOT_READY);
        return 0;
    }
    {
        platform::CriticalSectionLock lock(captureLock_);
        SetCaller(nullptr, nullptr, 0, rowOrder);
    }
    if (!CreatePreviewWindowForRun()) {
        RecordError(ERR_WINDOW);
        return 0;
    }
    // The whole ring as slack: the capture thread may fall that many frames behind the camera
    // before one is lost.
    queueRestoreSlots_ = driver_->RingSlots();
    driver_->SetRingSlots(FrameRing::kMaxSlots);
    size_t bytes = buffers != nullptr ? static_cast<size_t>(size) : 0;
    if (buffers == nullptr) {
        // Library buffers are made for the frames of this preparation; StartPreview prepares
        // again with the same settings, so the size holds.
        if (Prepare() == 0) {
            driver_->SetRingSlots(queueRestoreSlots_);
            return 0;
        }
        platform::CriticalSectionLock lock(captureLock_);
        const ImageBuffer* output = OutputImage();
        if (output == nullptr) {
            driver_->SetRingSlots(queueRestoreSlots_);
            RecordError(ERR_MEMORY);
            return 0;
        }
        bytes = static_cast<size_t>(output->Stride()) * static_cast<size_t>(output->Height());
    }
    if (!queue_.Setup(count, buffers, bytes)) {
        driver_->SetRingSlots(queueRestoreSlots_);
        RecordError(ERR_MEMORY);
        return 0;
    }
    queuedRun_ = true;
    if (StartPreview() == 0) {
        if (queuedRun_.exchange(false)) {
            queue_.End();
            driver_->SetRingSlots(queueRestoreSlots_);
        }
        return 0;
    }
    return 1;
}

void CLumora::QueuedLoop() {
    while (runFlag_.load() != kRunStop) {
        const int waited = driver_->WaitFrame(kPreviewFrameWaitMs);
        if (waited == kWaitTransferError) {
            runFlag_ = kRunStop;
            deviceFailed_ = true;
            RecordError(ERR_DEVICE_LOST);
            break;
        }
        // Every frame pending is taken, whatever woke us: the ring keeps only a few.
        while (runFlag_.load() != kRunStop) {
            platform::CriticalSectionLock lock(captureLock_);
            if (!TakeQueuedFrameLocked()) break;
        }
    }
    queue_.End();
}

bool CLumora::TakeQueuedFrameLocked() {
    const bool paused = runFlag_.load() != kRunGo;
    int index = -1;
    unsigned char* target = paused ? nullptr : queue_.Acquire(&index);
    const size_t targetBytes = queue_.BufferBytes();
    ImageBuffer& raw = images_.RawSource(preparedColorMode_);
    // Straight from the ring where the frame needs nothing but its copy and fits the buffer.
    const bool direct = target != nullptr && DirectFramePossible() &&
                        raw.Stride() == raw.Width() * raw.BytesPerPixel() &&
                        targetBytes >= raw.SizeBytes();
    FrameRecord record;
    int taken = 0;
    if (target == nullptr) {
        // Only its number, so the frame is accounted for.
        taken = driver_->CopyNextFrame(&queueNext_, nullptr, 0, 1, &record);
    } else if (direct) {
        taken = driver_->CopyNextFrame(
            &queueNext_, target, static_cast<uint32_t>(std::min<size_t>(targetBytes, 0xFFFFFFFFu)),
            rowOrder_ != 0 ? 1 : 0, &record);
    } else {
        taken = driver_->CopyNextFrame(&queueNext_, raw.Pixels(),
                                       static_cast<uint32_t>(raw.SizeBytes()), 1, &record);
    }
    if (taken == 0) {
        if (target != nullptr) queue_.Abandon(index);
        return false;
    }
    if (taken < 0) {
        if (target != nullptr) queue_.Abandon(index);
        streamCounters_.FailedUnnumbered();
        RecordError(ERR_FRAME);
        return true;
    }
    // Frames skipped before a dropped frame are reported with the next frame delivered.
    queueSkipped_ += streamCounters_.Taken(record.frameCounter);
    if (target == nullptr) {
        streamCounters_.Discarded();
        if (!paused) queue_.CountDrop();
        return true;
    }
    const LumoraFrameMeta meta = MakeMeta(record, queueSkipped_);
    queueSkipped_ = 0;
    size_t bytes = static_cast<size_t>(raw.Stride()) * static_cast<size_t>(raw.Height());
    if (!direct) {
        if (raw.Stride() != raw.Width() * raw.BytesPerPixel()) RespreadRows(raw);
        rawStale_ = false;
        ProcessFrameLocked();
        frameMode_ = preparedColorMode_;
        imageAvailable_ = 1;
        imageMeta_ = meta;
        OfferFrameToRecorder();
        preview_.Draw(preparedColorMode_, images_, displayImage_);
        ImageBuffer* output = OutputImage();
        bytes = output != nullptr
                    ? static_cast<size_t>(output->Stride()) * static_cast<size_t>(output->Height())
                    : 0;
        const int capacity = static_cast<int>(std::min<size_t>(targetBytes, 0x7FFFFFFF));
        // A copy refused for its size has recorded code 5 itself.
        if (output == nullptr || CopyToCaller(*output, rowOrder_, target, capacity) == 0) {
            if (output == nullptr) RecordError(ERR_MEMORY);
            queue_.Abandon(index);
            streamCounters_.Failed();
            return true;
        }
    }
    FillFrameInfo(0);
    queue_.Publish(index, bytes, kColorModeBits[preparedColorMode_], meta);
    {
        std::lock_guard metaLock(metaLock_);
        announcedMeta_ = meta;
    }
    streamCounters_.Delivered();
    return true;
}

}  // namespace lumora
