// Recording: the record thread that appends each newly processed frame of the preview run to an
// AVI file until the duration has passed, the run ends or a write fails, and always finishes the
// file it started.
#include <algorithm>
#include <chrono>
#include <climits>

#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "session/CLumora.h"

namespace lumora {
namespace {

uint64_t NowMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// How often the record thread looks for a stop when no frame comes.
constexpr uint32_t kRecordPollMs = 10;

}  // namespace

int CLumora::Record(const char* fileName, int durationMs, int showWindow) {
    if (!HasDriver()) return 0;
    if (fileName == nullptr || *fileName == '\0' || durationMs <= 0) {
        RecordError(ERR_PARAMETER);
        return 0;
    }
    // Held throughout, as StopRecording holds it: a recording is started and stopped by one
    // caller at a time, and its thread is joined once. The record thread never takes it.
    platform::CriticalSectionLock run(runLock_);
    if (recording_.load() != 0) {
        RecordError(ERR_NOT_READY);  // one recording at a time; the running one goes on
        return 0;
    }
    if (recordThreadStarted_) {  // a recording that ended by itself
        recordThread_.Join();
        recordThreadStarted_ = false;
    }
    if (state_.load() == kStateIdle) {
        {
            platform::CriticalSectionLock lock(captureLock_);
            SetCaller(nullptr, nullptr, 0, 0);
        }
        if (showWindow != 0 && !CreatePreviewWindowForRun()) {
            RecordError(ERR_WINDOW);
            return 0;
        }
    }
    if (StartPreview() == 0) {
        Close();
        RecordError(ERR_TEXT);
        return 0;
    }
    int width = 0;
    int height = 0;
    bool handOverReady = false;
    {
        platform::CriticalSectionLock lock(captureLock_);
        const ImageBuffer* output = OutputImage();
        if (output != nullptr && output->IsValid()) {
            width = output->Width();
            height = output->Height();
            handOverReady = recordHandOver_.Prepare(*output);
        }
    }
    // The layout is chosen from the most frames the run can deliver in the duration: the
    // preview loop sleeps waitTime per frame; the camera's measured rate can only be lower.
    const int wait = waitTime_.load();
    const double measured = driver_->MeasuredFrameRate();
    const double fps = std::max(wait > 0 ? 1000.0 / wait + 1 : 1000.0, measured * 1.5);
    const auto expected = static_cast<uint64_t>(durationMs / 1000.0 * fps) + 2;
    avi_.SetRiffLimit(recordRiffLimit_);
    if (!handOverReady || !recordFrame_.Create(width, height, 24) ||
        !avi_.Open(fileName, width, height, expected)) {
        ReleaseRecordFrames();
        Close();
        RecordError(ERR_TEXT);
        return 0;
    }
    recordFrames_ = 0;
    recordSkipped_ = 0;
    recordRate_ = 0;
    recordBytes_ = avi_.BytesWritten();
    recording_ = 1;
    recordWake_.Reset();
    recordThreadStarted_ =
        recordThread_.Start([this, durationMs] { RecordThreadBody(durationMs); });
    if (!recordThreadStarted_) {
        recording_ = 0;
        avi_.Discard();
        ReleaseRecordFrames();
        Close();
        RecordError(ERR_THREAD);
        return 0;
    }
    return 1;
}

void CLumora::OfferFrameToRecorder() {
    if (recording_.load() == 0) return;
    const ImageBuffer* output = OutputImage();
    if (output == nullptr || !output->IsValid()) return;
    // Only a copy at the output's own depth is made here; the record thread converts it to the
    // file's 24 bits without the capture lock. A frame the recorder has not taken yet is
    // replaced, never queued: a slow disk costs frames in the file, not time in the preview
    // loop or memory.
    if (!recordHandOver_.Offer(*output)) ++recordSkipped_;
    recordWake_.Set();
}

void CLumora::ReleaseRecordFrames() {
    platform::CriticalSectionLock lock(captureLock_);
    recordHandOver_.Release();
    recordFrame_.Reset();
}

void CLumora::RecordThreadBody(int durationMs) {
    uint64_t start = 0;
    uint64_t last = 0;
    uint32_t frames = 0;
    int failure = 0;
    while (recording_.load() != 0) {
        recordWake_.Wait(kRecordPollMs);
        if (runFlag_.load() == kRunStop) break;  // stopped, closed or the camera is gone
        const ImageBuffer* frame = recordHandOver_.Take();
        if (frame == nullptr) continue;
        const uint64_t now = NowMs();
        if (frames == 0) start = now;
        if (frame->Width() != recordFrame_.Width() || frame->Height() != recordFrame_.Height()) {
            continue;
        }
        // Converted and written outside the capture lock, so the preview loop never waits on it.
        ToAviFrame(*frame, recordFrame_.Pixels());
        if (recordWriteGate_) recordWriteGate_();
        const AviWriter::AddResult added = avi_.AddFrame(recordFrame_.Pixels());
        if (added != AviWriter::AddResult::kAdded) {
            failure = ERR_TEXT;
            break;
        }
        ++frames;
        last = now;
        recordFrames_ = frames;
        recordBytes_ = avi_.BytesWritten();
        if (start + static_cast<uint64_t>(durationMs) < now) break;
    }
    // Frames per 100 s over the span from the first to the last frame; a single frame (or a
    // span that rounds to nothing) keeps the initial rate rather than dividing by zero.
    const uint64_t elapsed = last - start;
    if (frames > 1 && elapsed > 0) {
        const uint64_t rate = static_cast<uint64_t>(frames) * 100000 / elapsed;
        avi_.SetRate(static_cast<int>(std::clamp<uint64_t>(rate, 1, INT_MAX)));
    }
    if (!avi_.Finish() && failure == 0) failure = ERR_TEXT;
    recordFrames_ = avi_.FrameCount();
    recordBytes_ = avi_.BytesWritten();
    recordRate_ = avi_.Rate();
    // The reason is recorded before the recording shows as ended, so a caller that sees it end
    // finds why.
    if (failure != 0) RecordError(failure);
    recording_ = 0;
    ReleaseRecordFrames();
}

void CLumora::StopRecording() {
    recording_ = 0;
    recordWake_.Set();
    if (recordThreadStarted_) {
        recordThread_.Join();
        recordThreadStarted_ = false;
    }
}

CLumora::RecordProgress CLumora::RecordingProgress() const {
    RecordProgress p;
    p.recording = recording_.load() != 0;
    p.frames = recordFrames_.load();
    p.skipped = recordSkipped_.load();
    p.bytes = recordBytes_.load();
    p.rate = recordRate_.load();
    return p;
}

}  // namespace lumora
