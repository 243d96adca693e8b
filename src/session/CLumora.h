#pragma once
// The camera session behind one handle: it owns the driver, the images frames pass through, the
// preview window, the capture thread and the error history, keeps the user's settings and pushes
// them into the driver when a device is opened or a capture is prepared.
//
// Threads: application threads call any operation; one capture thread runs the preview or
// trigger loop. captureLock_ guards the images, the caller's buffer and drawing; maskLock_
// (always taken after captureLock_) guards the mask planes; settingsLock_ guards the filter,
// gray and analog records the frame pipeline reads per frame. state_, runFlag_ and the other
// flags polled by the loops are atomics. Lifecycle operations (Initialize, SetDeviceNumber,
// teardown) must not overlap each other; they stop a running capture first.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "imaging/FramePipeline.h"
#include "io/AviWriter.h"
#include "io/CameraSettings.h"
#include "io/ConfigFile.h"
#include "io/SessionSettings.h"
#include "lumora/lumora.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/SettingsStore.h"
#include "platform/Thread.h"
#include "session/ErrorHistory.h"
#include "session/FrameHandOver.h"
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
    int EnumDeviceW(char16_t* names);
    int GetDeviceName(int index, char* name, int size);
    int GetDeviceNameW(int index, char16_t* name, int size);
    int ReadSerialNumber(char* text, int size);
    int ReadSerialNumberW(char16_t* text, int size);
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
        std::lock_guard lock(settingsLock_);
        SettingsGroups groups{analog_, filter_, gray_};
        edit(groups);
        analog_ = groups.analog;
        filter_ = groups.filter;
        gray_ = groups.gray;
    }
    // Counts the automatic estimates stored; an open image dialog re-reads its pages on change.
    unsigned EstimateGeneration() const { return estimateGeneration_.load(); }
    // The camera whose settings the session holds (device 0 before one was chosen).
    int SettingsDevice() const { return deviceNumber_ >= 0 ? deviceNumber_ : 0; }
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
    int DeviceNumber() const { return deviceNumber_; }
    int State() const { return state_.load(); }
    const PreviewWindow& Preview_() const { return preview_; }
    const LUMORA_FRAME_INFO& FrameInfo() const { return frameInfo_; }
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
    bool EnsureMasksLocked();
    // `open`: the camera is open, so the driver's ranges judge the stored values.
    void LoadCameraSettings(int device, bool open);
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
    // Takes the newest ring frame into the raw image; `frameCounter` gets the camera's number.
    // With `direct`, a frame the pipeline would leave as it is is taken over from the ring
    // without a copy into keptFrame_ instead, and the raw image is marked behind it.
    bool ReadFrameLocked(int* frameCounter = nullptr, bool direct = false);
    // True when the next frame needs nothing but its way to the caller: no stage changes it, and
    // no window, recorder or estimate reads the images meanwhile.
    bool DirectFramePossible();
    // Brings the raw image up to keptFrame_ when it is behind; everything that reads the images
    // outside the capture loop goes through here (OutputImage, CurrentOutputImage).
    void CatchUpImagesLocked();
    void ProcessFrameLocked();
    int CopyToCaller(const ImageBuffer& image, int rowOrder, unsigned char* buffer, int size);
    // The same for `height` rows of `stride` bytes at `pixels` (null: nothing to deliver).
    int CopyRowsToCaller(const uint8_t* pixels, int stride, int height, int rowOrder,
                         unsigned char* buffer, int size);
    bool StartCaptureThread();
    void CaptureThreadBody();
    void PreviewLoop();
    void TriggerLoop();
    // Sleeps up to `ms`, waking early when a stop is requested.
    void SleepUnlessStopped(uint32_t ms);
    void PostFrame(uintptr_t wParam, intptr_t lParam);
    void FillFrameInfo(int frameRate10);
    // Copies the output image into the caller's buffer when one is set; false when that failed.
    bool DeliverToCaller(bool sizeZeroIsNoBuffer);
    void SetCaller(HWND frameWindow, unsigned char* buffer, int size, int rowOrder);
    void AutoIrisAdjust(int mode, double factor);

    // Recording pieces: the preview loop offers each processed frame; StopPreview ends the
    // recording and waits for its thread.
    void OfferFrameToRecorder();
    // Frees the hand-over slots and the 24-bit frame once no recording uses them.
    void ReleaseRecordFrames();
    void StopRecording();
    void RecordThreadBody(int durationMs);

    // The output image of the colour mode the images were prepared for.
    ImageBuffer* OutputImage();
    // What GetImage and SaveImage deliver: the output image holding the last frame when that
    // frame was made in the current colour mode; null otherwise.
    ImageBuffer* CurrentOutputImage();

    std::unique_ptr<CLumoraUSB3T2SimpleSdk> driver_;
    PipelineImages images_;
    ImageBuffer displayImage_;
    MaskSet masks_;
    bool imagesCreated_ = false;
    PreviewWindow preview_;
    PreviewPlacement placement_;
    FramePipeline pipeline_;
    std::unique_ptr<PipelineHost> pipelineHost_;

    SizeEntry sizeEntry_;
    mutable std::mutex settingsLock_;  // guards filter_, gray_, analog_, mask/dot flags
    FilterSettings filter_;
    GraySettings gray_;
    AnalogSettings analog_;
    int maskFilter_ = 0;
    int dotFilter_ = 0;
    int realExposure_ = 0;

    // Serialises starting and stopping runs (Capture, SnapShot, the preview and trigger starts,
    // StopPreview, Close, a device change); taken before captureLock_, never by the capture
    // thread, so StopPreview may wait for that thread while holding it.
    mutable platform::CriticalSection runLock_;
    platform::CriticalSection captureLock_;
    platform::CriticalSection maskLock_;
    platform::SettingsStore store_;
    int settingsSaved_ = 0;
    int settingsDevice_ = -1;  // the camera whose settings the session holds

    std::atomic<int> runFlag_{kRunStop};
    std::atomic<int> state_{kStateIdle};
    platform::Thread captureThread_;
    bool captureThreadStarted_ = false;
    platform::Event stopRequested_{true, false};

    HWND notifyWindow_ = nullptr;
    int hotplugToken_ = 0;
    HWND frameWindow_ = nullptr;
    unsigned char* userBuffer_ = nullptr;
    int userBufferSize_ = 0;
    int rowOrder_ = 0;
    LUMORA_FRAME_INFO frameInfo_{};
    StreamCounters streamCounters_;

    std::atomic<int> colorMode_{0};
    // Set by callers, read by capture preparation: both under runLock_, so a run is prepared
    // with one readout mode throughout.
    int subSample_ LUMORA_GUARDED_BY(runLock_) = 0;
    std::atomic<int> waitTime_{10};
    int clock_ = 0;
    std::atomic<int> imageAvailable_{0};
    int frameRate10_ = 0;
    int frameCount_ = 0;
    uint32_t rateTime_ = 0;
    // A snapshot's allowance for the host beyond the camera's own time to the frame.
    int frameTimeout_ = 3000;
    int deviceNumber_ = -1;
    std::atomic<int> maskUpdating_{0};
    std::atomic<unsigned> estimateGeneration_{0};
    ConfigList configList_;

    // A frame taken over from the ring (top-down, packed rows, keptCapacity_ bytes of buffer);
    // while rawStale_ the raw image is behind it. Guarded by captureLock_.
    std::unique_ptr<uint8_t[]> keptFrame_;
    size_t keptCapacity_ = 0;
    bool rawStale_ = false;
    // The open camera stopped answering in a run (unplugged, or it failed five transfers in a
    // row): choosing the same number again must open it afresh, since a camera that comes back
    // on the same port is powered on anew and knows none of its settings.
    std::atomic<bool> deviceFailed_{false};
    std::atomic<bool> directFramePath_{true};
    std::atomic<uint64_t> directFrames_{0};

    // What the current run was prepared with; frames are processed with these.
    int preparedColorMode_ = 0;
    // The colour mode of the last frame the images hold; -1 when they hold none.
    int frameMode_ = -1;
    MaskGeometry preparedGeometry_;
    int rawWidth_ = 0;
    int rawHeight_ = 0;
    // The capture window's width and height the current capture was prepared with; read by
    // Width()/Height() on any thread.
    std::atomic<int> preparedWidth_{0};
    std::atomic<int> preparedHeight_{0};

    // Recording: the record thread owns avi_ and recordFrame_ while it runs and converts the
    // frames recordHandOver_ brings it outside captureLock_; the capture thread offers them
    // under captureLock_, which also guards Prepare and Release.
    AviWriter avi_;
    ImageBuffer recordFrame_;
    FrameHandOver recordHandOver_;
    platform::Thread recordThread_;
    bool recordThreadStarted_ = false;
    platform::Event recordWake_{false, false};
    std::atomic<int> recording_{0};
    std::atomic<uint32_t> recordFrames_{0};
    std::atomic<uint32_t> recordSkipped_{0};
    std::atomic<uint64_t> recordBytes_{0};
    std::atomic<int> recordRate_{0};
    uint64_t recordRiffLimit_ = kAviRiffLimit;
    std::function<void()> recordWriteGate_;

    ErrorHistory history_;
};

}  // namespace lumora
