#pragma once
// The camera session behind one handle: it owns the driver, the images frames pass through, the
// preview window, the capture thread and the error history, keeps the user's settings and pushes
// them into the driver when a device is opened or a capture is prepared.
//
// Threads: application threads call any operation; one capture thread runs the preview or
// trigger loop, one record thread writes a recording. runLock_ serialises starting and stopping
// runs and guards the window, readout and run bookkeeping; captureLock_ (after runLock_) guards
// the images, the caller's buffer and drawing; maskLock_ (always taken after captureLock_)
// guards the mask planes; settingsLock_ (innermost) guards the filter, gray and analog records
// the frame pipeline reads per frame. state_, runFlag_ and the other flags polled by the loops
// are atomics. Each field below names its lock, or the one thread that touches it. Lifecycle
// operations (Initialize, SetDeviceNumber, teardown) must not overlap each other; they stop a
// running capture first.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/FrameRing.h"
#include "imaging/FramePipeline.h"
#include "io/AviWriter.h"
#include "io/CameraSettings.h"
#include "io/ConfigFile.h"
#include "io/SessionSettings.h"
#include "lumora/lumora.h"
#include "platform/CodePage.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Mutex.h"
#include "platform/SettingsStore.h"
#include "platform/Thread.h"
#include "session/ErrorHistory.h"
#include "session/FrameHandOver.h"
#include "session/FrameQueue.h"
#include "session/PreviewWindow.h"
#include "session/StreamCounters.h"

namespace lumora {

class CLumoraUSB3T2SimpleSdk;

// Camera type of every camera this session drives: the cooled IMX992 camera.
inline constexpr int kCameraType = 0x3380;
inline constexpr const char* kDeviceNamePrefix = "LumoraM5XIRTEC";
inline constexpr int kDeviceNameSlots = 10;
inline constexpr int kDeviceNameSlotSize = 256;

// The IMX992 reads out any window in both directions.
inline constexpr bool kHorizontalWindowing = true;
inline constexpr bool kVerticalWindowing = true;

// Bits per output pixel of each colour mode 0..5.
inline constexpr int kColorModeBits[6] = {8, 16, 24, 32, 48, 64};

enum CaptureState : int {
    kStateIdle = 0,
    kStatePreview = 1,
    kStateCaptured = 2,
    kStateTriggered = 3
};
enum RunFlag : int { kRunStop = 0, kRunGo = 1, kRunPause = 2 };
// How long a free run waits for a frame before it looks at its flags again.
constexpr uint32_t kPreviewFrameWaitMs = 3000;

class CLumora {
public:
    CLumora();
    virtual ~CLumora();
    CLumora(const CLumora&) = delete;
    CLumora& operator=(const CLumora&) = delete;

    // ---- lifecycle and devices ------------------------------------------------------------
    virtual int Initialize(HWND notifyWindow);
    int SetDeviceNumber(int number);
    int EnumDevice(char* names);
    int EnumDeviceW(platform::WideChar* names);
    int GetDeviceName(int index, char* name, int size);
    int GetDeviceNameW(int index, platform::WideChar* name, int size);
    int ReadSerialNumber(char* text, int size);
    int ReadSerialNumberW(platform::WideChar* text, int size);
    int GetCameraInfo(LUMORA_CAMERA_INFO* info);

    // ---- errors -----------------------------------------------------------------------------
    // Pushes `code` into the history and posts LUMORA_MSG_ERROR with it when a notification
    // window is set.
    void RecordError(int code);
    // Posts LUMORA_MSG_ERROR without touching the history and without checking the window for
    // null (a null window means the calling thread's own queue).
    void PostErrorOnly(int code);
    int GetLastError() { return history_.Pop(); }
    const ErrorHistory& History() const { return history_; }
    HWND NotifyWindow() const { return notifyWindow_; }

    // ---- capture ----------------------------------------------------------------------------
    int Capture();
    int SnapShot(unsigned char* buffer, int size, int rowOrder);
    int GetImage(unsigned char* buffer, int size, int rowOrder);
    int StartPreview();
    int StopPreview();
    int Preview();
    int CallBackPreview(HWND frameWindow, unsigned char* buffer, int size, int rowOrder);
    int Trigger(HWND frameWindow, unsigned char* buffer, int size, int rowOrder);
    int Close();
    // ---- frame metadata and the every-frame queue (host.h) ----------------------------------
    // The metadata of the frame last announced with a frame message.
    LumoraFrameMeta AnnouncedFrameMeta() const;
    // The camera's frame period in free run at its current timing; 0 (nothing recorded)
    // without an open camera.
    int GetFramePeriod(double* seconds);
    int GetImageWithMeta(unsigned char* buffer, int size, int rowOrder, LumoraFrameMeta* meta);
    int StartQueuedPreview(int count, unsigned char* const* buffers, int size, int rowOrder);
    int WaitQueuedFrame(int timeoutMs, LumoraQueuedFrame* frame) {
        return queue_.Wait(timeoutMs, frame);
    }
    int ReleaseQueuedFrame(int index, unsigned char* replacement) {
        return queue_.Release(index, replacement) ? 1 : 0;
    }
    uint64_t QueuedDrops() const { return queue_.Dropped(); }
    int SetPreviewWindow(HWND parent, int x, int y, int width, int height);
    int SetWaitTime(int milliseconds);
    int GetWaitTime() const { return waitTime_.load(); }

    // ---- image format -----------------------------------------------------------------------
    int SetColorMode(int bits);
    int GetColorMode() const;
    int SetCaptureWindow(int width, int height);
    int SetCaptureWindowEx(int hTotal, int hStart, int hEffective, int vTotal, int vStart,
                           int vEffective);
    int GetCaptureWindowEx(int* hTotal, int* hStart, int* hEffective, int* vTotal, int* vStart,
                           int* vEffective) const;
    int SetSubSample(int mode);
    int GetSubSample() const {
        platform::CriticalSectionLock run(runLock_);
        return subSample_;
    }
    // The capture width and height (before subsampling). While a capture is prepared or a run
    // is active, those of the frames it delivers: a window set meanwhile takes effect only at
    // the next preparation.
    int Width() const;
    int Height() const;
    int SetSamplingRate(int rate);

    // ---- camera control ---------------------------------------------------------------------
    int GetFilterValue(int id, int* valid);
    int SetFilterValue(int id, int value);
    int GetChannelValue(bool gain, int channel, int* valid);
    int SetChannelValue(bool gain, int channel, int value);
    int SetExposureTimeEx(double seconds);
    double GetExposureTimeEx(int* valid);
    int SetRealExposureTime(int microseconds);
    int GetRealExposureTime(int* valid);
    int SetMirrorH(int on);
    int SetMirrorV(int on);
    int GetMirrorH();
    int GetMirrorV();
    int SetAutoIris(int mode);
    int GetAutoIris(int* valid);
    double GetTemperatureEx(int* valid);
    int NotSupportedPosted();
    int NotSupportedRecorded(int result);

    // ---- registers and memories ---------------------------------------------------------------
    int WriteRegister(int address, int value, bool masked);
    int ReadRegister(int address, int* valid, bool masked);
    int FpgaWriteRegister(int address, int value);
    int FpgaReadRegister(int address, int* valid);
    int ReadSromID(int address, int* valid);
    int WriteSromID(int address, int value);
    int GetInternalCorrection(int* valid);
    int SetInternalCorrection(int on);
    int EnableDefectivePixelCorrection(int on);
    int IsAvailableDefectivePixelCorrection();
    int IsEnabledDefectivePixelCorrection();
    int IsAvailableDefectivePixelCorrectionThreshold();
    int SetDefectivePixelCorrectionThreshold(int value);
    int GetDefectivePixelCorrectionThreshold(int* value);
    int GetDefectivePixelCorrectionThresholdRange(int* min, int* max);
    int SetIOPort(int value);
    int GetIOPort(unsigned char* value);

    // ---- files and masks --------------------------------------------------------------------
    int SaveImage(const char* fileName, int format);
    int LoadConfigFile(const char* path);
    int LoadMaskFile(const char* path);
    int SaveMaskFile(const char* path);
    int UpdateMaskData(int which);

    // ---- for the settings dialogs (src/ui) ---------------------------------------------------
    struct SettingsGroups {
        AnalogSettings analog;
        FilterSettings filter;
        GraySettings gray;
    };
    SettingsGroups SettingsSnapshot() const;  // the three stored groups, taken under the lock
    // Runs `edit` on the three groups under the settings lock, so a dialog's change never
    // overwrites an estimate the capture thread stored meanwhile.
    template <typename Edit>
    void EditSettings(Edit&& edit) {
        platform::MutexLock lock(settingsLock_);
        SettingsGroups groups{analog_, filter_, gray_};
        edit(groups);
        analog_ = groups.analog;
        filter_ = groups.filter;
        gray_ = groups.gray;
    }
    // Counts the automatic estimates stored; an open image dialog re-reads its pages on change.
    unsigned EstimateGeneration() const { return estimateGeneration_.load(); }
    // The camera whose settings the session holds (device 0 before one was chosen).
    int SettingsDevice() const {
        const int device = deviceNumber_.load();
        return device >= 0 ? device : 0;
    }
    OutputCapabilities Capabilities() const;
    // Ends a preview run or pauses a trigger run for the camera dialog; the returned state goes
    // back to ResumeCapture.
    int SuspendCapture();
    void ResumeCapture(int previousState);
    // Re-reads the selected size and the format group from the settings store.
    void ReloadFormatSettings();

    // ---- recording (CLumoraRecord.cpp) --------------------------------------------------------
    // Records the processed frames of a preview run into an AVI file for durationMs from the
    // first frame. Codes: 9 bad name or duration, 1 already recording, 4 window, 12 the run
    // could not start or the file could not be opened, 3 no thread. A write failure during the
    // recording (a full disk) ends it with a finished file and records 12.
    int Record(const char* fileName, int durationMs, int showWindow);
    struct RecordProgress {
        bool recording = false;
        uint32_t frames = 0;   // frames in the file
        uint32_t skipped = 0;  // frames processed while the recorder was still writing
        uint64_t bytes = 0;
        int rate = 0;  // hundredths of frames per second in the finished file; 0 before
    };
    RecordProgress RecordingProgress() const;
    // Lowers the RIFF limit of the next recording, so tests cross it with a short recording.
    void SetRecordRiffLimit(uint64_t bytes) { recordRiffLimit_ = bytes; }
    // Runs on the record thread before each frame is written, outside the capture lock; tests
    // stand in a stalled disk with it. Set before the recording starts.
    void SetRecordWriteGate(std::function<void()> gate) { recordWriteGate_ = std::move(gate); }

    // ---- for tests and the command ------------------------------------------------------------
    CLumoraUSB3T2SimpleSdk* Driver() const { return driver_.get(); }
    int DeviceNumber() const { return deviceNumber_.load(); }
    int State() const { return state_.load(); }
    const PreviewWindow& Preview_() const { return preview_; }
    // The record the frame messages point to; read it only between runs or while handling one.
    const LUMORA_FRAME_INFO& FrameInfo() const LUMORA_NO_THREAD_SAFETY_ANALYSIS {
        return frameInfo_;
    }
    // Delivered, skipped and failed frames of the current or last run.
    StreamFigures StreamStats() const { return streamCounters_.Figures(); }
    platform::SettingsStore& Store() { return store_; }
    // Off: every frame passes through the images as with work to do (tests compare the two).
    void SetDirectFramePath(bool on) { directFramePath_ = on; }
    // Whether the mask planes have been made (they are made when first needed).
    bool MaskPlanesMade() {
        platform::CriticalSectionLock lock(maskLock_);
        return masks_.IsComplete();
    }
    // Frames taken over from the ring without passing through the images, since the session began.
    uint64_t DirectFrames() const { return directFrames_.load(); }

private:
    class PipelineHost;
    friend class PipelineHost;
    struct FilterRow;
    friend struct FilterRow;

    // False, recording 1, when the session has no driver object.
    bool HasDriver() {
        if (driver_ != nullptr) return true;
        RecordError(ERR_NOT_READY);
        return false;
    }
    // False, recording 9, for a missing argument.
    bool Given(const void* argument) {
        if (argument != nullptr) return true;
        RecordError(ERR_PARAMETER);
        return false;
    }

    // Lifecycle pieces.
    // Makes the sensor-sized mask planes when they are missing; the caller holds maskLock_.
    bool EnsureMasksLocked() LUMORA_REQUIRES(maskLock_);
    // `open`: the camera is open, so the driver's ranges judge the stored values.
    void LoadCameraSettings(int device, bool open) LUMORA_EXCLUDES(settingsLock_);
    void SaveCameraSettings();
    AnalogSettings AnalogSnapshot() const;
    void PushSettingsAfterOpen();
    // Gains, then exposure (in seconds when the driver takes them), as open and Prepare push them.
    void PushGainsAndExposure(const AnalogSettings& analog);
    AnalogLimits Limits() const;
    AnalogSettings DriverAnalogValues() const;

    // Capture pieces.
    int Prepare() LUMORA_REQUIRES(runLock_);
    bool ValidateWindow() const LUMORA_REQUIRES(runLock_);
    bool CreatePreviewWindowForRun() LUMORA_REQUIRES(runLock_);
    // Takes the newest ring frame into the raw image; `record` gets what the ring knows of it.
    // With `takeOver`, the frame is taken over from the ring into keptFrame_ without a copy
    // where it can be, and the raw image is marked behind it: ProcessFrameLocked brings it up.
    bool ReadFrameLocked(FrameRecord* record = nullptr, bool takeOver = false)
        LUMORA_REQUIRES(captureLock_);
    // What the session knows of a frame taken with `record`, in the settings of its run.
    LumoraFrameMeta MakeMeta(const FrameRecord& record, uint64_t skippedBefore) const
        LUMORA_REQUIRES(captureLock_);
    // The queued run's loop and one frame of it: false when no frame was pending.
    void QueuedLoop();
    bool TakeQueuedFrameLocked() LUMORA_REQUIRES(captureLock_);
    // True when the next frame needs nothing but its way to the caller: no stage changes it, and
    // no window, recorder or estimate reads the images meanwhile.
    bool DirectFramePossible() LUMORA_REQUIRES(captureLock_);
    // What the pipeline processes the next frame with (PipelineHost::CurrentSettings).
    FrameSettings FrameSettingsLocked() LUMORA_REQUIRES(captureLock_);
    // Brings the raw image up to keptFrame_ when it is behind; everything that reads the images
    // outside the capture loop goes through here (OutputImage, CurrentOutputImage).
    void CatchUpImagesLocked() LUMORA_REQUIRES(captureLock_);
    // keptFrame_ when it holds a whole frame of `raw`; null when `raw` was re-made larger since.
    const uint8_t* KeptFrameFor(const ImageBuffer& raw) const LUMORA_REQUIRES(captureLock_);
    // Runs the pipeline on the frame read last; one taken over into keptFrame_ is read from
    // there. With `direct` (DirectFramePossible() when it was read), a frame taken over stays
    // there as it came, for delivery straight from keptFrame_.
    void ProcessFrameLocked(bool direct = false) LUMORA_REQUIRES(captureLock_);
    int CopyToCaller(const ImageBuffer& image, int rowOrder, unsigned char* buffer, int size)
        LUMORA_REQUIRES(captureLock_);
    // The same for `height` rows of `stride` bytes at `pixels` (null: nothing to deliver).
    int CopyRowsToCaller(const uint8_t* pixels, int stride, int height, int rowOrder,
                         unsigned char* buffer, int size) LUMORA_REQUIRES(captureLock_);
    bool StartCaptureThread() LUMORA_REQUIRES(runLock_);
    void CaptureThreadBody();
    void PreviewLoop();
    void TriggerLoop();
    // Sleeps up to `ms`, waking early when a stop is requested.
    void SleepUnlessStopped(uint32_t ms);
    void PostFrame(uintptr_t wParam, intptr_t lParam) LUMORA_REQUIRES(captureLock_);
    void FillFrameInfo(int frameRate10) LUMORA_REQUIRES(captureLock_);
    // Copies the output image into the caller's buffer when one is set; false when that failed.
    bool DeliverToCaller(bool sizeZeroIsNoBuffer) LUMORA_REQUIRES(captureLock_);
    void SetCaller(HWND frameWindow, unsigned char* buffer, int size, int rowOrder)
        LUMORA_REQUIRES(captureLock_);
    void AutoIrisAdjust(int mode, double factor) LUMORA_EXCLUDES(settingsLock_);

    // Recording pieces: the preview loop offers each processed frame; StopPreview ends the
    // recording and waits for its thread.
    void OfferFrameToRecorder() LUMORA_REQUIRES(captureLock_);
    // Frees the hand-over slots and the 24-bit frame once no recording uses them.
    void ReleaseRecordFrames();
    void StopRecording() LUMORA_REQUIRES(runLock_);
    void RecordThreadBody(int durationMs);

    // The output image of the colour mode the images were prepared for.
    ImageBuffer* OutputImage() LUMORA_REQUIRES(captureLock_);
    // What GetImage and SaveImage deliver: the output image holding the last frame when that
    // frame was made in the current colour mode; null otherwise.
    ImageBuffer* CurrentOutputImage() LUMORA_REQUIRES(captureLock_);

    // Set by Initialize and teardown only, which no other call overlaps.
    std::unique_ptr<CLumoraUSB3T2SimpleSdk> driver_;

    // Serialises starting and stopping runs (Capture, SnapShot, the preview and trigger starts,
    // StopPreview, Close, a device change); taken before captureLock_, never by the capture
    // thread or the record thread, so StopPreview may wait for them while holding it.
    mutable platform::CriticalSection runLock_;
    platform::CriticalSection captureLock_ LUMORA_ACQUIRED_BEFORE(maskLock_);
    platform::CriticalSection maskLock_;
    // Innermost: nothing else is taken while it is held.
    mutable platform::Mutex settingsLock_;

    PipelineImages images_ LUMORA_GUARDED_BY(captureLock_);
    ImageBuffer displayImage_ LUMORA_GUARDED_BY(captureLock_);
    MaskSet masks_ LUMORA_GUARDED_BY(maskLock_);
    // Created and closed under runLock_ between runs; drawn into by the running loop only.
    PreviewWindow preview_;
    PreviewPlacement placement_ LUMORA_GUARDED_BY(runLock_);
    FramePipeline pipeline_ LUMORA_GUARDED_BY(captureLock_);
    std::unique_ptr<PipelineHost> pipelineHost_;

    SizeEntry sizeEntry_ LUMORA_GUARDED_BY(runLock_);
    // What Width, Height and GetCaptureWindowEx read: a copy of the window each change under
    // runLock_ publishes, so those readers never wait for a snapshot or a start that holds
    // runLock_ for a whole exposure.
    mutable platform::Mutex windowViewLock_;
    SizeEntry windowView_ LUMORA_GUARDED_BY(windowViewLock_);
    void PublishWindowLocked() LUMORA_REQUIRES(runLock_);
    FilterSettings filter_ LUMORA_GUARDED_BY(settingsLock_);
    GraySettings gray_ LUMORA_GUARDED_BY(settingsLock_);
    AnalogSettings analog_ LUMORA_GUARDED_BY(settingsLock_);
    int maskFilter_ LUMORA_GUARDED_BY(settingsLock_) = 0;
    int dotFilter_ LUMORA_GUARDED_BY(settingsLock_) = 0;
    int realExposure_ LUMORA_GUARDED_BY(settingsLock_) = 0;
    // The camera whose settings the session holds; -1 before one was open.
    int settingsDevice_ LUMORA_GUARDED_BY(settingsLock_) = -1;

    // Has its own lock.
    platform::SettingsStore store_;
    int settingsSaved_ LUMORA_GUARDED_BY(runLock_) = 0;

    std::atomic<int> runFlag_{kRunStop};
    std::atomic<int> state_{kStateIdle};
    platform::Thread captureThread_;
    bool captureThreadStarted_ LUMORA_GUARDED_BY(runLock_) = false;
    platform::Event stopRequested_{true, false};

    // Set by Initialize only (see driver_); read by any thread that records an error.
    HWND notifyWindow_ = nullptr;
    int hotplugToken_ = 0;
    // The caller of the current run: set between frames, read by the loop for each frame.
    HWND frameWindow_ LUMORA_GUARDED_BY(captureLock_) = nullptr;
    unsigned char* userBuffer_ LUMORA_GUARDED_BY(captureLock_) = nullptr;
    int userBufferSize_ LUMORA_GUARDED_BY(captureLock_) = 0;
    int rowOrder_ LUMORA_GUARDED_BY(captureLock_) = 0;
    LUMORA_FRAME_INFO frameInfo_ LUMORA_GUARDED_BY(captureLock_){};
    // Has its own lock.
    StreamCounters streamCounters_;
    // The metadata of the frame last announced (metaLock_) and of the frame the images hold
    // (captureLock_); the last temperature read, for both.
    mutable std::mutex metaLock_;
    LumoraFrameMeta announcedMeta_{};
    LumoraFrameMeta imageMeta_ LUMORA_GUARDED_BY(captureLock_){};
    std::atomic<bool> temperatureRead_{false};
    std::atomic<double> lastTemperature_{0.0};
    // The every-frame queue: queuedRun_ (runLock_) says the current run fills it; queueNext_
    // (capture thread) is the ring's number of the next frame to take.
    FrameQueue queue_;
    std::atomic<bool> queuedRun_{false};
    uint64_t queueNext_ = 0;
    uint64_t queueSkipped_ = 0;  // skipped before frames dropped since the last one queued
    int queueRestoreSlots_ = 0;  // the ring's slots before a queued run (runLock_)
    int preparedSubSample_ = 0;

    std::atomic<int> colorMode_{0};
    // Set by callers, read by capture preparation: both under runLock_, so a run is prepared
    // with one readout mode throughout.
    int subSample_ LUMORA_GUARDED_BY(runLock_) = 0;
    std::atomic<int> waitTime_{10};
    int clock_ LUMORA_GUARDED_BY(runLock_) = 0;
    std::atomic<int> imageAvailable_{0};
    // The frame rate: the capture thread's alone while it runs, reset under runLock_ before it
    // starts.
    int frameRate10_ = 0;
    int frameCount_ = 0;
    uint32_t rateTime_ = 0;
    // A snapshot's allowance for the host beyond the camera's own time to the frame.
    int frameTimeout_ LUMORA_GUARDED_BY(runLock_) = 3000;
    // Written under runLock_; read by any thread (the dialogs ask whose settings to show).
    std::atomic<int> deviceNumber_{-1};
    std::atomic<int> maskUpdating_{0};
    std::atomic<unsigned> estimateGeneration_{0};
    ConfigList configList_ LUMORA_GUARDED_BY(maskLock_);

    // A frame taken over from the ring (top-down, packed rows, keptCapacity_ bytes of buffer);
    // while rawStale_ the raw image is behind it.
    std::unique_ptr<uint8_t[]> keptFrame_ LUMORA_GUARDED_BY(captureLock_);
    size_t keptCapacity_ LUMORA_GUARDED_BY(captureLock_) = 0;
    bool rawStale_ LUMORA_GUARDED_BY(captureLock_) = false;
    // The open camera stopped answering in a run (unplugged, or it failed five transfers in a
    // row): choosing the same number again must open it afresh, since a camera that comes back
    // on the same port is powered on anew and knows none of its settings.
    std::atomic<bool> deviceFailed_{false};
    std::atomic<bool> directFramePath_{true};
    std::atomic<uint64_t> directFrames_{0};

    // What the current run was prepared with; frames are processed with these.
    int preparedColorMode_ LUMORA_GUARDED_BY(captureLock_) = 0;
    // The colour mode of the last frame the images hold; -1 when they hold none.
    int frameMode_ LUMORA_GUARDED_BY(captureLock_) = -1;
    MaskGeometry preparedGeometry_ LUMORA_GUARDED_BY(captureLock_);
    int rawWidth_ LUMORA_GUARDED_BY(captureLock_) = 0;
    int rawHeight_ LUMORA_GUARDED_BY(captureLock_) = 0;
    // The capture window's width and height the current capture was prepared with; read by
    // Width()/Height() on any thread.
    std::atomic<int> preparedWidth_{0};
    std::atomic<int> preparedHeight_{0};

    // Recording: the record thread owns avi_ and recordFrame_ while it runs and converts the
    // frames recordHandOver_ brings it outside captureLock_; the capture thread offers them
    // under captureLock_, which also guards Prepare and Release. Record starts the thread and
    // StopRecording joins it, both under runLock_.
    AviWriter avi_;
    ImageBuffer recordFrame_;
    FrameHandOver recordHandOver_;
    platform::Thread recordThread_;
    bool recordThreadStarted_ LUMORA_GUARDED_BY(runLock_) = false;
    platform::Event recordWake_{false, false};
    std::atomic<int> recording_{0};
    std::atomic<uint32_t> recordFrames_{0};
    std::atomic<uint32_t> recordSkipped_{0};
    std::atomic<uint64_t> recordBytes_{0};
    std::atomic<int> recordRate_{0};
    // Set by tests before a recording starts; read by Record and the record thread.
    uint64_t recordRiffLimit_ = kAviRiffLimit;
    std::function<void()> recordWriteGate_;

    // Has its own lock.
    ErrorHistory history_;
};

}  // namespace lumora
