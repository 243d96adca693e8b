// Capture modes: preparing a capture, single frames, the preview and trigger runs on the capture
// thread, copies to the caller and frame messages.
#include <algorithm>
#include <cstring>

#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "imaging/RawFrame.h"
#include "platform/Clock.h"
#include "platform/Memory.h"
#include "platform/MessageTarget.h"
#include "session/CLumora.h"
#include "session/PipelineHost.h"

namespace lumora {
namespace {

// Frames from this size up are copied to the caller around the caches.
constexpr size_t kStreamingCopyBytes = size_t{1} << 20;
constexpr uint32_t kTriggerFrameWaitMs = 60000;
constexpr int kTriggerFrameTimeoutMs = 6000;
// The trigger run waits for a frame in slices so a stop takes effect promptly.
constexpr uint32_t kTriggerWaitSliceMs = 200;
// How often a triggered run looks whether a busy callback has returned.
constexpr uint32_t kCallbackPollMs = 2;

}  // namespace

ImageBuffer* CLumora::OutputImage() {
    CatchUpImagesLocked();
    return images_.Output(preparedColorMode_);
}

void CLumora::CatchUpImagesLocked() {
    if (!rawStale_) return;
    rawStale_ = false;
    ImageBuffer& raw = images_.RawSource(preparedColorMode_);
    const uint8_t* kept = KeptFrameFor(raw);
    if (!raw.IsValid() || kept == nullptr) return;
    std::memcpy(raw.Pixels(), kept, raw.SizeBytes());
    // As the pipeline marks a frame it has passed over.
    if (raw.BitCount() == 16) raw.SetSignificantBits(12);
}

ImageBuffer* CLumora::CurrentOutputImage() {
    CatchUpImagesLocked();
    // Only the picture of the last frame, and only in the colour mode the application asks for
    // now: an output image of another mode holds an older frame (or none), in a format the
    // application no longer expects.
    if (frameMode_ < 0 || frameMode_ != colorMode_.load()) return nullptr;
    ImageBuffer* output = images_.Output(frameMode_);
    return output != nullptr && output->IsValid() ? output : nullptr;
}

bool CLumora::ValidateWindow() const {
    const SizeEntry& s = sizeEntry_;
    if (s.hEffective < 0 || s.vEffective < 0 || s.hStart < 0 || s.vStart < 0) return false;
    if (s.hEffective > kSensorWidth || s.vEffective > kSensorHeight) return false;
    if (s.hStart > kSensorWidth || s.vStart > kSensorHeight) return false;
    if (s.hStart + s.hEffective > kSensorWidth || s.vStart + s.vEffective > kSensorHeight)
        return false;
    switch (subSample_) {
        case 2:
        case 3:
        case 17:
        case 18:
        case 19:
            return false;
        default:
            return true;
    }
}

int CLumora::Prepare() {
    // The images are rebuilt here; readers on other threads must not copy from them meanwhile.
    platform::CriticalSectionLock lock(captureLock_);
    if (driver_->IsDeviceAvailable(driver_->GetDeviceIndex()) == 0) {
        RecordError(ERR_DEVICE);
        return 0;
    }
    if (!ValidateWindow()) {
        RecordError(ERR_WINDOW_SIZE);
        return 0;
    }
    const int mode = colorMode_;
    const bool sixteen = mode == 1 || mode == 4 || mode == 5;
    // Depth and window first: the images are sized from what the driver actually programmed.
    if (driver_->SetTransferBitDepth(sixteen ? 1 : 0) == 0) {
        RecordError(ERR_WINDOW_SIZE);
        return 0;
    }
    if (driver_->SetCaptureWindow(sizeEntry_.hStart, sizeEntry_.vStart, sizeEntry_.hEffective,
                                  sizeEntry_.vEffective, subSample_) == 0) {
        RecordError(ERR_WINDOW_SIZE);
        return 0;
    }
    int x = sizeEntry_.hStart, y = sizeEntry_.vStart;
    int width = sizeEntry_.hEffective, height = sizeEntry_.vEffective, readout = subSample_;
    // The sensor reports the window it took, already halved in the two-by-two readout modes:
    // that is the size of the frames it delivers.
    if (driver_->GetCaptureWindow(&x, &y, &width, &height, &readout) == 0) {
        const int divisor = SubsampleDivisor(subSample_);
        width = sizeEntry_.hEffective / divisor;
        height = sizeEntry_.vEffective / divisor;
    }
    const int imageWidth = width;
    const int imageHeight = height;

    // An image that already has the size and depth is kept, with the last frame in it: a
    // snapshot from idle neither zeroes megabytes for nothing nor takes the picture a reader
    // is about to copy.
    CatchUpImagesLocked();  // a kept image must hold the last frame, not one before it
    bool rebuilt = false;
    auto ensure = [&](ImageBuffer& image, int bits) {
        if (image.IsValid() && image.Width() == imageWidth && image.Height() == imageHeight &&
            image.BitCount() == bits) {
            return true;
        }
        rebuilt = true;
        return image.Create(imageWidth, imageHeight, bits);
    };
    bool ok = true;
    if (mode != 1 && mode != 4 && mode != 5) {
        ok = ok && ensure(images_.rawImage8, 8);
    } else {
        ok = ok && ensure(images_.rawImage16, 16);
    }
    // Mode 1 previews through an 8-bit image of the same size.
    if (mode == 1) ok = ok && ensure(images_.rawImage8, 8);
    if (mode != 1) ok = ok && ensure(images_.colorImage24, 24);
    if (mode == 3) ok = ok && ensure(images_.colorImage32, 32);
    if (mode == 4) ok = ok && ensure(images_.colorImage48, 48);
    if (mode == 5) ok = ok && ensure(images_.colorImage64, 64);
    ImageBuffer* output = images_.Output(mode);
    ok = ok && output != nullptr && ensure(images_.workImage, output->BitCount());
    bool corrections;
    {
        platform::MutexLock settings(settingsLock_);
        corrections = maskFilter_ != 0 || dotFilter_ != 0;
    }
    if (ok && corrections) {
        // The planes the corrections read, before the first frame needs them.
        platform::CriticalSectionLock masks(maskLock_);
        ok = EnsureMasksLocked();
    }
    if (!ok) {
        RecordError(ERR_MEMORY);
        return 0;
    }
    rawStale_ = false;
    if (rebuilt) frameMode_ = -1;  // images made anew hold no frame yet
    preparedColorMode_ = mode;
    preparedGeometry_ = MaskGeometry{x, y, imageWidth, imageHeight};
    preparedSubSample_ = subSample_;
    rawWidth_ = imageWidth;
    rawHeight_ = imageHeight;
    preparedWidth_ = sizeEntry_.hEffective;
    preparedHeight_ = sizeEntry_.vEffective;

    const AnalogSettings analog = AnalogSnapshot();
    driver_->SetMirrorV(analog.mirrorV);
    driver_->SetMirrorH(analog.mirrorH);
    driver_->SetTriggerMode(0, 1);
    PushGainsAndExposure(analog);
    {
        platform::MutexLock settings(settingsLock_);
        realExposure_ = analog.exposure * 100;
    }
    if (driver_->CheckFpgaFeature() != 0) driver_->SetAuxBoardMode(0);
    driver_->SetControlFlag(0);
    if (driver_->IsStreamReady() != 0) driver_->SetControlFlag(analog.gainMode);
    if (driver_->IsBlackLevelSupported() != 0) driver_->SetBlackLevel(analog.blackLevel);
    driver_->RestartStreaming();

    preview_.PrepareDisplay(mode, displayImage_);
    return 1;
}

int CLumora::Capture() {
    if (!HasDriver()) return 0;
    platform::CriticalSectionLock run(runLock_);
    const int state = state_.load();
    if (state == kStatePreview || state == kStateTriggered) {
        RecordError(ERR_NOT_READY);
        return 0;
    }
    if (state == kStateIdle) {
        if (Prepare() == 0) return 0;
        state_ = kStateCaptured;
    }
    return 1;
}

FrameSettings CLumora::FrameSettingsLocked() {
    FrameSettings s;
    s.colorMode = preparedColorMode_;
    s.geometry = preparedGeometry_;
    s.sampleWidth = 12;
    {
        platform::MutexLock lock(settingsLock_);
        s.autoIris = analog_.autoIris;
        s.maskFilter = maskFilter_ != 0;
        s.dotFilter = dotFilter_ != 0;
        s.filter = filter_;
        s.gray = gray_;
        s.mirrors.horizontal = analog_.mirrorH != 0;
        s.mirrors.vertical = analog_.mirrorV != 0;
    }
    // The camera mirrors the picture itself when it can.
    if (driver_ != nullptr) {
        s.mirrors.hardwareHorizontal = driver_->IsMirrorHSupported() != 0;
        s.mirrors.hardwareVertical = driver_->IsMirrorVSupported() != 0;
    }
    return s;
}

bool CLumora::DirectFramePossible() {
    if (!directFramePath_.load() || preview_.Exists() || recording_.load() != 0) return false;
    return FramePipeline::LeavesFrameUnchanged(FrameSettingsLocked());
}

bool CLumora::ReadFrameLocked(FrameRecord* record, bool takeOver) {
    ImageBuffer& raw = images_.RawSource(preparedColorMode_);
    if (!raw.IsValid()) return false;
    // Taken over only where the ring's rows are the image's rows: packed, top-down.
    if (takeOver && raw.Stride() == raw.Width() * raw.BytesPerPixel()) {
        size_t frameBytes = 0;
        const int taken = driver_->TakeLatestFrame(keptFrame_, keptCapacity_, &frameBytes, record);
        if (taken == -1) return false;
        if (taken == 0) {
            if (frameBytes == raw.SizeBytes()) {
                rawStale_ = true;
                return true;
            }
            // A frame of another size is copied as far as it fits, as the copying path does.
            if (frameBytes > raw.SizeBytes()) return false;
            std::memcpy(raw.Pixels(), keptFrame_.get(), frameBytes);
            rawStale_ = false;
            return true;
        }
    }
    rawStale_ = false;
    // The ring holds frames of the programmed window and depth; never copy more than fits.
    const uint32_t capacity = static_cast<uint32_t>(raw.SizeBytes());
    const int read = record != nullptr ? driver_->CopyLatestFrame(raw.Pixels(), capacity, 1, record)
                                       : driver_->GetLatestFrame(raw.Pixels(), capacity, 1);
    if (read != 0) return false;
    if (raw.Stride() != raw.Width() * raw.BytesPerPixel()) RespreadRows(raw);
    return true;
}

void CLumora::ProcessFrameLocked(bool direct) {
    if (!rawStale_) {
        pipeline_.ProcessFrame(images_, *pipelineHost_);
        return;
    }
    if (direct) {
        ++directFrames_;
        return;
    }
    rawStale_ = false;
    pipeline_.ProcessFrame(images_, *pipelineHost_,
                           KeptFrameFor(images_.RawSource(preparedColorMode_)));
}

const uint8_t* CLumora::KeptFrameFor(const ImageBuffer& raw) const {
    return keptFrame_ && keptCapacity_ >= raw.SizeBytes() ? keptFrame_.get() : nullptr;
}

int CLumora::SnapShot(unsigned char* buffer, int size, int rowOrder) {
    if (!HasDriver()) return 0;
    // Held to the end: no run may start or stop under a snapshot.
    platform::CriticalSectionLock run(runLock_);
    const int state = state_.load();
    if (state == kStatePreview || state == kStateTriggered) {
        RecordError(ERR_NOT_READY);
        return 0;
    }
    if (state == kStateIdle && Prepare() == 0) return 0;
    const bool keepStreaming = state == kStateCaptured;

    platform::CriticalSectionLock lock(captureLock_);
    auto fail = [&](int code) {
        if (!keepStreaming) driver_->StopCapture(0);
        RecordError(code);
        return 0;
    };
    if (driver_->StartCapture(1) == 0) return fail(ERR_FRAME);
    // The camera's own time to its first frame (a long exposure under way, then the new one)
    // does not depend on the host; the frame time-out is the host's allowance on top of it.
    const uint64_t wait = static_cast<uint64_t>(frameTimeout_) + driver_->FirstFrameWithinMs();
    if (driver_->WaitFrame(static_cast<uint32_t>(std::min<uint64_t>(wait, 0xFFFFFFFEu))) !=
        kWaitNewFrame) {
        return fail(ERR_FRAME);
    }
    FrameRecord record;
    if (!ReadFrameLocked(&record)) {
        PostFrame(0, ERR_FRAME);
        return fail(ERR_FRAME);
    }
    ProcessFrameLocked();
    imageMeta_ = MakeMeta(record, 0);
    frameMode_ = preparedColorMode_;
    if (buffer != nullptr && size != 0) {
        ImageBuffer* output = OutputImage();
        if (output == nullptr || CopyToCaller(*output, rowOrder, buffer, size) == 0) {
            return fail(ERR_MEMORY);  // the copy has recorded 5 once already
        }
    }
    if (!keepStreaming) driver_->StopCapture(0);
    imageAvailable_ = 1;
    return 1;
}

int CLumora::GetImage(unsigned char* buffer, int size, int rowOrder) {
    return GetImageWithMeta(buffer, size, rowOrder, nullptr);
}

int CLumora::GetImageWithMeta(unsigned char* buffer, int size, int rowOrder,
                              LumoraFrameMeta* meta) {
    if (!HasDriver()) return 0;
    platform::CriticalSectionLock lock(captureLock_);
    ImageBuffer* output = CurrentOutputImage();
    if (output == nullptr) {
        RecordError(ERR_NOT_READY);
        return 0;
    }
    if (buffer != nullptr) {
        if (CopyToCaller(*output, rowOrder, buffer, size) != 0) {
            if (meta != nullptr) *meta = imageMeta_;
            return 1;
        }
        RecordError(ERR_MEMORY);
        return 0;
    }
    RecordError(ERR_PARAMETER);
    return 0;
}

int CLumora::CopyToCaller(const ImageBuffer& image, int rowOrder, unsigned char* buffer, int size) {
    return CopyRowsToCaller(image.Pixels(), image.Stride(), image.Height(), rowOrder, buffer, size);
}

int CLumora::CopyRowsToCaller(const uint8_t* pixels, int strideBytes, int height, int rowOrder,
                              unsigned char* buffer, int size) {
    const size_t stride = static_cast<size_t>(strideBytes);
    const size_t needed = stride * static_cast<size_t>(height);
    if (size < 0 || static_cast<size_t>(size) < needed || pixels == nullptr) {
        PostFrame(0, ERR_MEMORY);
        RecordError(ERR_MEMORY);
        return 0;
    }
    // A small window's frame stays in the cache for the caller to read next; a full frame would
    // not fit beside the frames in flight, so it goes straight to memory.
    if (needed >= kStreamingCopyBytes) {
        if (rowOrder != 0) {
            platform::CopyBypassingCache(buffer, pixels, needed);
        } else {
            platform::CopyRowsBypassingCache(buffer, pixels + (needed - stride),
                                             -static_cast<ptrdiff_t>(stride), stride,
                                             static_cast<size_t>(height));
        }
    } else if (rowOrder != 0) {
        std::memcpy(buffer, pixels, needed);
    } else {
        for (int row = 0; row < height; ++row) {
            std::memcpy(buffer + static_cast<size_t>(row) * stride,
                        pixels + static_cast<size_t>(height - 1 - row) * stride, stride);
        }
    }
    return 1;
}

void CLumora::FillFrameInfo(int frameRate10) {
    frameInfo_.reserved = 0;
    frameInfo_.width = rawWidth_;
    frameInfo_.height = rawHeight_;
    frameInfo_.bitsPerPixel = kColorModeBits[preparedColorMode_];
    frameInfo_.frameRate10 = frameRate10;
    frameInfo_.alignment = 0;
    frameInfo_.userBuffer = userBuffer_;
}

bool CLumora::DeliverToCaller(bool sizeZeroIsNoBuffer) {
    if (userBuffer_ == nullptr) return true;
    // The preview loop takes a zero size as no buffer; the trigger loop copies into any buffer
    // it was given, so a zero size fails each frame with code 5.
    if (userBufferSize_ == 0 && sizeZeroIsNoBuffer) return true;
    if (rawStale_) {
        // Straight from the frame the ring handed over; the raw image has its rows.
        const ImageBuffer& raw = images_.RawSource(preparedColorMode_);
        return CopyRowsToCaller(keptFrame_.get(), raw.Stride(), raw.Height(), rowOrder_,
                                userBuffer_, userBufferSize_) != 0;
    }
    ImageBuffer* output = OutputImage();
    return output != nullptr && CopyToCaller(*output, rowOrder_, userBuffer_, userBufferSize_) != 0;
}

void CLumora::SetCaller(HWND frameWindow, unsigned char* buffer, int size, int rowOrder) {
    frameWindow_ = frameWindow;
    userBuffer_ = buffer;
    userBufferSize_ = buffer != nullptr ? size : 0;
    rowOrder_ = rowOrder;
}

void CLumora::PostFrame(uintptr_t wParam, intptr_t lParam) {
    if (frameWindow_ != nullptr)
        platform::PostMessage(frameWindow_, LUMORA_MSG_FRAME, wParam, lParam);
}

int CLumora::StartPreview() {
    if (!HasDriver()) return 0;
    platform::CriticalSectionLock run(runLock_);
    const int state = state_.load();
    if (state == kStatePreview) return 1;
    if (state == kStateCaptured || state == kStateTriggered) {
        RecordError(ERR_NOT_READY);
        return 0;
    }
    if (Prepare() == 0) return 0;
    if (queuedRun_.load()) {
        queue_.Begin();
        // Frames stored from here on belong to this run.
        queueNext_ = driver_->StoredFrames();
        queueSkipped_ = 0;
    }
    if (driver_->StartCapture(0) == 0) {
        StopPreview();
        RecordError(ERR_IO);
        return 0;
    }
    state_ = kStatePreview;
    runFlag_ = kRunGo;
    if (!StartCaptureThread()) {
        StopPreview();
        RecordError(ERR_THREAD);
        return 0;
    }
    return 1;
}

bool CLumora::StartCaptureThread() {
    stopRequested_.Reset();
    streamCounters_.Begin();
    frameCount_ = 0;
    rateTime_ = platform::TimeGetTime();
    captureThreadStarted_ = captureThread_.Start([this] { CaptureThreadBody(); });
    // A run that promises every frame must not be the first thread the host puts off.
    if (captureThreadStarted_ && queuedRun_.load())
        captureThread_.SetPriority(platform::ThreadPriority::AboveNormal);
    return captureThreadStarted_;
}

void CLumora::CaptureThreadBody() {
    if (state_.load() == kStateTriggered) {
        TriggerLoop();
    } else if (queuedRun_.load()) {
        QueuedLoop();
    } else {
        PreviewLoop();
    }
}

void CLumora::SleepUnlessStopped(uint32_t ms) {
    stopRequested_.Wait(ms);
}

void CLumora::PreviewLoop() {
    while (runFlag_.load() != kRunStop) {
        SleepUnlessStopped(static_cast<uint32_t>(waitTime_.load()));
        if (runFlag_.load() != kRunGo) continue;
        const int waited = driver_->WaitFrame(kPreviewFrameWaitMs);
        if (waited == kWaitTransferError) {
            runFlag_ = kRunStop;
            deviceFailed_ = true;
            // Recorded before it is announced: a caller that reads the history when the message
            // comes finds the code there.
            RecordError(ERR_DEVICE_LOST);
            {
                platform::CriticalSectionLock lock(captureLock_);
                PostFrame(0, ERR_DEVICE_LOST);
            }
            break;
        }
        if (waited != kWaitNewFrame) continue;

        platform::CriticalSectionLock lock(captureLock_);
        FrameRecord record;
        const bool direct = DirectFramePossible();
        if (!ReadFrameLocked(&record, true)) {
            streamCounters_.FailedUnnumbered();
            PostFrame(0, ERR_FRAME);
            RecordError(ERR_FRAME);
            continue;
        }
        const LumoraFrameMeta meta = MakeMeta(record, streamCounters_.Taken(record.frameCounter));
        imageMeta_ = meta;
        ++frameCount_;
        const uint32_t now = platform::TimeGetTime();
        const uint32_t elapsed = platform::TicksSince(rateTime_, now);
        if (elapsed > 1000) {
            frameRate10_ = static_cast<int>(static_cast<int64_t>(frameCount_) * 10000 / elapsed);
            frameCount_ = 0;
            rateTime_ = now;
        }
        // A callback still busy with the last frame keeps its buffer and frame record: this frame
        // is not delivered to it (it counts as skipped), so nothing it reads changes under it.
        const bool callerBusy = platform::MessageInHand(frameWindow_, LUMORA_MSG_FRAME);
        if (!callerBusy) FillFrameInfo(frameRate10_);
        ProcessFrameLocked(direct);
        frameMode_ = preparedColorMode_;
        imageAvailable_ = 1;
        OfferFrameToRecorder();
        preview_.Draw(preparedColorMode_, images_, displayImage_);
        if (callerBusy) {
            streamCounters_.Discarded();
            continue;
        }
        if (!DeliverToCaller(true)) {
            streamCounters_.Failed();
            continue;
        }
        if (runFlag_.load() == kRunGo) {
            {
                std::lock_guard metaLock(metaLock_);
                announcedMeta_ = meta;
            }
            PostFrame(reinterpret_cast<uintptr_t>(&frameInfo_), 0);
            streamCounters_.Delivered();
        } else {
            streamCounters_.Discarded();
        }
    }
}

void CLumora::TriggerLoop() {
    SleepUnlessStopped(driver_->GetExposureTime() / 10 + 100);
    driver_->SyncFrameCounter();
    while (runFlag_.load() != kRunStop) {
        if (runFlag_.load() != kRunGo) {
            SleepUnlessStopped(10);
            continue;
        }
        if (driver_->StartCapture(2) == 0) {
            deviceFailed_ = true;
            break;
        }
        int waited = kWaitNoFrame;
        for (uint32_t spent = 0; spent < kTriggerFrameWaitMs && runFlag_.load() != kRunStop;
             spent += kTriggerWaitSliceMs) {
            waited = driver_->WaitFrame(kTriggerWaitSliceMs);
            if (waited != kWaitNoFrame) break;
        }
        if (runFlag_.load() == kRunStop) break;
        if (waited != kWaitNewFrame) continue;
        // Each frame of a triggered run answers a trigger of its own, so a callback still busy
        // with the last one is waited for rather than skipped; the frame waits in the ring, and
        // nothing the callback reads changes under it. A stop ends the wait.
        HWND caller = nullptr;
        {
            platform::CriticalSectionLock lock(captureLock_);
            caller = frameWindow_;
        }
        while (runFlag_.load() != kRunStop && platform::MessageInHand(caller, LUMORA_MSG_FRAME)) {
            SleepUnlessStopped(kCallbackPollMs);
        }
        if (runFlag_.load() == kRunStop) break;

        platform::CriticalSectionLock lock(captureLock_);
        FrameRecord record;
        LumoraFrameMeta meta{};
        const bool direct = DirectFramePossible();
        if (ReadFrameLocked(&record, true)) {
            meta = MakeMeta(record, streamCounters_.Taken(record.frameCounter));
            imageMeta_ = meta;
        }
        FillFrameInfo(0);
        ProcessFrameLocked(direct);
        frameMode_ = preparedColorMode_;
        imageAvailable_ = 1;
        if (!DeliverToCaller(false)) {
            streamCounters_.Failed();
            continue;
        }
        {
            std::lock_guard metaLock(metaLock_);
            announcedMeta_ = meta;
        }
        PostFrame(reinterpret_cast<uintptr_t>(&frameInfo_), 0);
        streamCounters_.Delivered();
        preview_.Draw(preparedColorMode_, images_, displayImage_);
    }
}

int CLumora::StopPreview() {
    if (!HasDriver()) return 0;
    platform::CriticalSectionLock run(runLock_);
    // Waiters learn of the end once they have taken what is queued.
    struct EndQueue {
        CLumora* self;
        ~EndQueue() {
            if (!self->queuedRun_.exchange(false)) return;
            self->queue_.End();
            self->driver_->SetRingSlots(self->queueRestoreSlots_);
        }
    } endQueue{this};
    runFlag_ = kRunStop;
    stopRequested_.Set();
    const bool running = state_.load() != kStateIdle;
    if (running) driver_->StopCapture(0);
    // Only a thread that was started is waited for; the stop event ends its sleeps at once.
    if (captureThreadStarted_) {
        captureThread_.Join();
        captureThreadStarted_ = false;
    }
    StopRecording();
    // Idle only once the capture thread has finished its last frame: idle lets the next
    // preparation rebuild the images that frame was using.
    if (running) state_ = kStateIdle;
    return 1;
}

bool CLumora::CreatePreviewWindowForRun() {
    if (!placement_.Wanted()) return true;
    const int divisor = SubsampleDivisor(subSample_);
    return preview_.Create(this, placement_, sizeEntry_.hEffective / divisor,
                           sizeEntry_.vEffective / divisor);
}

int CLumora::Preview() {
    return CallBackPreview(nullptr, nullptr, 0, 0);
}

int CLumora::CallBackPreview(HWND frameWindow, unsigned char* buffer, int size, int rowOrder) {
    if (!HasDriver()) return 0;
    platform::CriticalSectionLock run(runLock_);
    const int state = state_.load();
    if (state == kStatePreview) {
        // The run goes on with its window; the new caller takes over between two frames.
        platform::CriticalSectionLock lock(captureLock_);
        SetCaller(frameWindow, buffer, size, rowOrder);
        return 1;
    }
    if (state == kStateIdle) {
        {
            platform::CriticalSectionLock lock(captureLock_);
            SetCaller(frameWindow, buffer, size, rowOrder);
        }
        if (!CreatePreviewWindowForRun()) {
            RecordError(ERR_WINDOW);
            return 0;
        }
    }
    if (StartPreview() == 0) {
        Close();
        RecordError(ERR_FRAME);
        return 0;
    }
    return 1;
}

int CLumora::Trigger(HWND frameWindow, unsigned char* buffer, int size, int rowOrder) {
    if (!HasDriver()) return 0;
    platform::CriticalSectionLock run(runLock_);
    const int state = state_.load();
    if (state == kStatePreview || state == kStateCaptured) {
        RecordError(ERR_NOT_READY);
        return 0;
    }
    if (state == kStateTriggered) return 1;
    {
        platform::CriticalSectionLock lock(captureLock_);
        SetCaller(frameWindow, buffer, size, rowOrder);
    }
    if (!CreatePreviewWindowForRun()) {
        RecordError(ERR_WINDOW);
        return 0;
    }
    if (Prepare() == 0) {
        Close();
        return 0;
    }
    frameTimeout_ = kTriggerFrameTimeoutMs;
    driver_->SetFrameTimeout(kTriggerFrameTimeoutMs);
    if (driver_->SetTriggerMode(1, 0) == 0) {
        Close();
        RecordError(ERR_IO);
        return 0;
    }
    state_ = kStateTriggered;
    runFlag_ = kRunGo;
    if (!StartCaptureThread()) {
        Close();
        RecordError(ERR_THREAD);
        return 0;
    }
    return 1;
}

int CLumora::Close() {
    platform::CriticalSectionLock run(runLock_);
    if (driver_ != nullptr) StopPreview();
    preview_.Close();
    imageAvailable_ = 0;
    if (driver_ != nullptr) driver_->StopCapture(0);
    // The caller's buffer and frame window belong to the mode that ended.
    platform::CriticalSectionLock lock(captureLock_);
    SetCaller(nullptr, nullptr, 0, 0);
    return 1;
}

int CLumora::SetPreviewWindow(HWND parent, int x, int y, int width, int height) {
    if (!HasDriver()) return 0;
    const PreviewPlacement wanted{parent, x, y, width, height};
    // Refused here, while the caller can still see which call was wrong; the earlier placement
    // stays in force.
    if (!wanted.Makeable()) {
        RecordError(ERR_PARAMETER);
        return 0;
    }
    platform::CriticalSectionLock run(runLock_);
    placement_ = wanted;
    return 1;
}

int CLumora::SetWaitTime(int milliseconds) {
    if (milliseconds < 0) return 0;
    waitTime_ = milliseconds;
    return 1;
}

void CLumora::AutoIrisAdjust(int mode, double factor) {
    if (mode == 2) {
        const int current = std::max(driver_->GetGlobalGain(), 4);
        int gain = static_cast<int>(current * factor);
        const int minimum = driver_->GetGlobalGainMin();
        const int maximum = driver_->GetGlobalGainMax();
        if (gain < minimum) gain = minimum;
        if (gain >= maximum) gain = maximum;
        driver_->SetGlobalGain(gain);
        platform::MutexLock lock(settingsLock_);
        analog_.globalGain = gain;
        analog_.colorGainG1 = analog_.colorGainR = analog_.colorGainB = analog_.colorGainG2 = gain;
    } else if (mode == 1) {
        int exposure = static_cast<int>(
            static_cast<uint16_t>(static_cast<int64_t>(driver_->GetExposureTime() * factor)));
        if (exposure == 0) exposure = 1;
        const int minimum = static_cast<int>(driver_->GetExposureTimeMin());
        const int maximum = static_cast<int>(driver_->GetExposureTimeMax());
        exposure = std::clamp(exposure, minimum, std::max(minimum, maximum));
        driver_->SetExposureTime(static_cast<uint32_t>(exposure));
        const bool haveSeconds = driver_->IsExposureTimeExAvailable() != 0;
        const double seconds = haveSeconds ? driver_->GetExposureTimeEx() : 0.0;
        platform::MutexLock lock(settingsLock_);
        analog_.exposure = exposure;
        if (haveSeconds) analog_.exposureSeconds = seconds;
    }
}

}  // namespace lumora
