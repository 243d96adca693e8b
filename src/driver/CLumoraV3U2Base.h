#pragma once
// The camera driver: device choice and bring-up, the acquisition thread and frame ring, the
// exposure, gain, depth and window rules, cooler and temperature, trigger, configuration memory
// and register pass-through, and the forwarding of every sensor operation. The session reaches
// the camera only through these virtual operations.
//
// Threads: any application thread may call any operation; the session's capture thread waits
// and copies frames (WaitFrame, GetLatest*, CopyFrame); the acquisition thread fills the ring.
// deviceLock_ guards the controller, the sensor driver, the device record and the transfer
// buffer: every operation that uses or replaces them holds it, and the acquisition thread is
// joined before any of them changes (the thread itself never takes the lock). layoutMutex_
// guards the frame layout the copies use. Flags and counters shared with the acquisition thread
// are atomics.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "driver/AnalogHistory.h"
#include "driver/FrameRateCounter.h"
#include "driver/FrameRing.h"
#include "lumora/lumora.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Mutex.h"
#include "platform/Thread.h"
#include "sensor/CSensorBase.h"

namespace lumora {

namespace usb {
class CLumCy3Cam;
}

// What the acquisition thread does after a frame.
enum CaptureMode : int {
    kCaptureContinuous = 0,
    kCaptureSingleFrame = 1,
    kCaptureCountedTrigger = 2,
    kCaptureCounterOnly = 3,
};

// What CLumoraV3U2Base::WaitFrame returns.
enum FrameWait : int { kWaitTransferError = 1, kWaitNoFrame = 2, kWaitNewFrame = 3 };

class CLumoraV3U2Base {
public:
    static constexpr int kCameraType = 0x3380;
    static constexpr int kMaxDevices = 32;
    static constexpr uint32_t kDefaultPayloadTimeoutMs = 5000;
    static constexpr int kFailureLimit = 5;
    static constexpr size_t kDeviceInfoSize = 64;

    CLumoraV3U2Base();
    virtual ~CLumoraV3U2Base();
    CLumoraV3U2Base(const CLumoraV3U2Base&) = delete;
    CLumoraV3U2Base& operator=(const CLumoraV3U2Base&) = delete;

    // --- device choice and bring-up ---
    // `interfaceGuid` null or empty: the camera's own interface class.
    virtual int CreateController(HWND notifyWindow, const char* interfaceGuid);
    virtual int InitializeCamera();
    virtual int CloseCamera();
    virtual int GetDeviceInformation(uint8_t* info64);
    virtual int GetSensorInfo(SensorInfo* info, int first, int second);
    virtual int GetBridgeInformation(uint8_t* info64);
    virtual int ReopenDevice(int index);  // 0 on success, -1 on failure
    virtual int OpenDevice(int index);
    virtual int Reserved0();
    virtual int IsDeviceAvailable(int index);
    virtual int GetDeviceCount(int productId);
    // `size` counts bytes of `text`.
    virtual int GetDeviceName(int index, char* text, int size);
    virtual int SetCameraType(int productId);
    virtual int GetCameraType();
    virtual int GetEntryVendorId(int row);
    virtual int GetEntryProductId(int row);
    virtual int GetEntryOrdinal(int row);
    virtual int UsesSideChannelTransfer();
    virtual int IsHeaderlessFamily();
    virtual int GetDeviceIndex();
    // True when the camera opened last has left the bus since it was opened: a camera that
    // comes back has powered up afresh and must be opened (brought up) again.
    bool OpenedCameraLeft() const { return openedCameraLeft_.load(); }

    // --- acquisition and frames ---
    virtual int StartCapture(int mode);
    virtual int StopCapture(int wait);
    // Copies ring slot 0 (`firstSlot`) or the newest slot into `dst` of `length` bytes; 0 when
    // `length` is below the frame size or the slot was overwritten while it was being copied.
    virtual int CopyFrame(uint8_t* dst, uint32_t length, int* counter, uint32_t* wordA,
                          uint32_t* wordB, uint32_t* wordC, uint32_t* wordD, int firstSlot,
                          int topDown);
    virtual int SetCaptureMode(int mode);
    virtual int ResetTransfer();
    virtual int RunTransferLoop();
    virtual int RunSideChannelTransferLoop();
    virtual int RunHeaderlessTransferLoop();
    virtual int PrepareBuffers();
    virtual int GetMaxDeviceCount();
    virtual int SyncFrameCounter();
    virtual int GrabSingleFrame();
    virtual int Reserved1();
    // 0 on success, -2 for a null destination, -1 when the copy failed.
    virtual int GetSingleFrame(uint8_t* dst, uint32_t capacity, int topDown);
    virtual int SetFrameTimeout(uint32_t milliseconds);
    // 1 transfer error, 2 nothing new (time-out), 3 a new frame is ready.
    virtual int WaitFrame(uint32_t milliseconds);
    // The camera's own time from now to its first whole frame after a start (the sensor's
    // frame under way, then a frame at the current timing); 0 when the sensor cannot tell. The
    // host's part (transfer, scheduling) is not in it.
    uint32_t FirstFrameWithinMs();
    // The camera's frame period in free run at its current timing, in microseconds; 0 when
    // there is no sensor or it cannot tell.
    double FramePeriodUs();
    // The newest frame; 0 on success, -1 when it could not be copied. Marks everything taken.
    virtual int GetLatestFrame(uint8_t* dst, uint32_t capacity, int topDown);
    virtual int GetLatestFrameAux(uint8_t* dst, uint32_t capacity, uint64_t* auxWide,
                                  uint32_t* auxWord, int firstSlot);
    virtual int GetLatestFrameEx(uint8_t* dst, uint32_t capacity, int* counter, uint32_t* wordA,
                                 uint32_t* wordB, uint32_t* wordC, uint32_t* wordD, int topDown);
    virtual int Reserved2();
    // The newest frame without a copy, for readers that take it as it lies in the ring:
    // `buffer` (`capacity` bytes; replaced by a new one when smaller than a ring slot) goes into
    // the ring and comes back holding the frame of `frameBytes` bytes, top-down; `capacity` is
    // updated. 0 on success and -1 when the frame could not be had (both mark everything taken,
    // as GetLatestFrameEx does); -2, touching nothing, when the frame must be rearranged on the
    // way out or no buffer could be had: the caller copies it with GetLatestFrameEx instead.
    int TakeLatestFrame(std::unique_ptr<uint8_t[]>& buffer, size_t& capacity, size_t* frameBytes,
                        FrameRecord* record);
    // GetLatestFrameEx with the whole record (counter, header words, arrival times): 0 or -1.
    int CopyLatestFrame(uint8_t* dst, uint32_t capacity, int topDown, FrameRecord* record);
    // Frames in the order they were stored, for a reader that wants every one: copies the frame
    // stored as number `*next` (or, when the ring has lapped the reader, the oldest one it
    // still holds) into `dst` (null: only its record) and moves `*next` past it. 1: a frame was
    // taken; 0: none is pending (everything stored is marked taken, as for the newest-frame
    // readers); -1: the frame could not be copied (too small a destination) and was passed
    // over. Frames the ring lapped show as a gap in the frame counters.
    int CopyNextFrame(uint64_t* next, uint8_t* dst, uint32_t capacity, int topDown,
                      FrameRecord* record);
    // The ring's count of frames stored so far: where a reader of CopyNextFrame starts.
    uint64_t StoredFrames() const { return ring_.StoredCount(); }
    // The exposure, gain and black level `record`'s frame was taken with (AnalogHistory says
    // how); false when no setting was noted since the camera was opened.
    bool DescribeFrameAnalog(const FrameRecord& record, FrameAnalog* out) const {
        return analogHistory_.Describe(record, out);
    }
    // Ring slots for the next capture (1..8; a reader that wants every frame gets more slack
    // with more); a running capture is stopped, and the buffers are made anew at the next start.
    int SetRingSlots(int slots);
    int RingSlots() const { return ring_.SlotCount(); }
    // Tests: `hook` runs in each frame read between choosing the newest slot and reading it, as
    // a reader held up there would see the writer move on.
    void SetSlotReadHookForTesting(std::function<void(FrameRing&)> hook) {
        slotReadHook_ = std::move(hook);
    }

    // --- depth, clock, window, mirrors, trigger ---
    virtual int SetTransferBitDepth(int mode);
    virtual int SetClockMode(int mode);
    virtual int GetClockMode(int* value, int first, int second);
    virtual int SetCaptureWindow(int x, int y, int width, int height, int mode);
    virtual int GetCaptureWindow(int* x, int* y, int* width, int* height, int* mode);
    virtual int SetMirrorH(int on);
    virtual int SetMirrorV(int on);
    virtual int GetMirrorH();
    virtual int GetMirrorV();
    virtual int GetMirrorHDefault();
    virtual int GetMirrorVDefault();
    virtual int IsMirrorVSupported();
    virtual int IsMirrorHSupported();
    virtual int SetTriggerMode(int mode, int force);
    virtual int GetTriggerMode();
    virtual int WriteSrom(uint16_t address, uint8_t value);
    virtual int ReadSrom(uint16_t address, uint8_t* value);

    // --- geometry ---
    virtual int GetSensorWidth();
    virtual int GetSensorHeight();
    virtual int GetDefaultWindowX();
    virtual int GetDefaultWindowY();
    virtual int GetDefaultWindowWidth();
    virtual int GetDefaultWindowHeight();
    virtual int GetWindowWidth();
    virtual int GetWindowHeight();

    // --- gain and exposure ---
    virtual int SetGlobalGain(int gain);
    virtual int GetGlobalGain();
    virtual int GetGlobalGainMin();
    virtual int GetGlobalGainMax();
    virtual int GetGlobalGainDefault();
    virtual int SetExposureTime(uint32_t tenthsOfMs);
    virtual int GetExposureTime();
    virtual int GetExposureTimeMin();
    virtual int GetExposureTimeMax();
    virtual int GetExposureTimeDefault();
    virtual int SetExposureLines(uint32_t lines);
    virtual int GetExposureLines();
    virtual int GetExposureLinesMin();
    virtual int GetExposureLinesMax();
    virtual int GetExposureLinesDefault();
    virtual int IsExposureTimeExAvailable();
    virtual int SetExposureTimeEx(double seconds);
    virtual double GetExposureTimeEx();
    virtual double GetExposureTimeExMin();
    virtual double GetExposureTimeExMax();
    virtual double GetExposureTimeExDefault();
    virtual int SetTapGain(int tap, int value);
    virtual int GetTapGain(int tap);
    virtual int GetTapGainMin();
    virtual int GetTapGainMax();
    virtual int GetTapGainDefault();
    virtual int SetTapOffset(int tap, int value);
    virtual int GetTapOffset(int tap);
    virtual int GetTapOffsetMin();
    virtual int GetTapOffsetMax();
    virtual int GetTapOffsetDefault();
    virtual int SetColorGainRed(int gain);
    virtual int GetColorGainRed();
    virtual int SetColorGainGreen1(int gain);
    virtual int GetColorGainGreen1();
    virtual int SetColorGainGreen2(int gain);
    virtual int GetColorGainGreen2();
    virtual int SetColorGainBlue(int gain);
    virtual int GetColorGainBlue();
    virtual int GetColorGainMin();
    virtual int GetColorGainMax();
    virtual int GetColorGainDefault();
    virtual int IsBlackLevelSupported();
    virtual int SetBlackLevel(int level);
    virtual int GetBlackLevel();
    virtual int GetBlackLevelMin();
    virtual int GetBlackLevelMax();
    virtual int GetBlackLevelDefault();
    virtual int IsSensorModeSupported();
    virtual int SetSensorMode(int mode);
    virtual int GetSensorMode();

    // --- registers ---
    virtual int WriteSensorRegister(int ignored, int reg, int value);
    virtual int ReadSensorRegister(int ignored, int reg, int* ok);
    virtual int FpgaWrite(int reg, int value);
    virtual int FpgaRead(int reg, int* ok);
    virtual int WriteBusWord(int device, int reg, int value);
    virtual int ReadBusWord(int device, int reg, int* value);
    virtual int WaitFpgaIdle(uint32_t milliseconds);
    virtual int Reserved3();
    virtual int Reserved4();
    virtual void RestartStreaming();
    virtual void SignalAuxDevice();
    virtual int SetSamplingRate(int ignored, int* rate);
    virtual int IsStreamReady();
    virtual int SetControlFlag(int flag);
    virtual int GetControlFlag();
    virtual int WriteSromId(uint8_t value);
    virtual int ReadSromId(uint8_t* value);

    // --- camera-side defective-pixel correction ---
    virtual int IsDefectCorrectionAvailable();
    virtual int IsDefectCorrectionEnabled();
    virtual int EnableDefectCorrection(int on);
    virtual int IsDefectThresholdAvailable();
    virtual int SetDefectThreshold(int value);
    virtual int GetDefectThreshold(int* value);
    virtual int GetDefectThresholdMin();
    virtual int GetDefectThresholdMax();
    virtual int ReceiveText(char* text, int length);
    virtual int SendText(const char* text, int length);

    // --- cooler and temperature ---
    virtual int IsPeltierAvailable();
    virtual int GetPeltier();
    virtual int SetPeltier(int on);
    virtual int IsTemperatureAvailable();
    virtual int GetTemperature(double* degrees);

    // --- operations of other family members, forwarded ---
    virtual int HasOutputSwitch();
    virtual int GetOutputSwitch(int* value);
    virtual int SetOutputSwitch(int value);
    virtual int CheckFpgaFeature();
    virtual int DetectAuxBoard();
    virtual int SetAuxBoardMode(int mode);
    virtual int HasDetectorTemperature();
    virtual int Reserved7();
    virtual int Reserved8();
    virtual int GetDetectorTemperature(double* degrees);
    virtual int SetDetectorTemperature(double degrees);
    // (The operation table repeats IsHeaderlessFamily here; one declaration serves both places.)
    virtual int GetFpgaTemperature(double* degrees);
    virtual int CheckCorrectionState();
    virtual int GetCorrectionInfo(int* value);
    virtual int StoreOptionWord(int word);
    virtual int HasOptionWord();
    virtual int CheckFpgaVersion();
    virtual int HasResponseMode();
    virtual int GetResponseMode(int* mode);
    virtual int SetResponseMode(int mode);
    virtual int IsLevelPairSupported();
    virtual int GetLevelPairMin();
    virtual int GetLevelPairMax();
    virtual int GetLevelADefault();
    virtual int GetLevelBDefault();
    virtual int ReadLevelA(int* value);
    virtual int ReadLevelB(int* value);
    virtual int SetLevelA(int value);
    virtual int SetLevelB(int value);
    virtual int GetLevelLabel(int index, char* text, int length);
    virtual int HasGainStage();
    virtual int SetGainStage(int stage);
    virtual int GetGainStage();
    virtual int SupportsOutputFormatA();
    virtual int SupportsOutputFormatB();
    virtual int SupportsOutputFormatC();
    virtual int GetAuxStatus(int* value);
    virtual int SetAuxStatus(int value);
    virtual int PollAuxBoard();
    virtual int GetReadoutKind();
    virtual void Reserved9();

    // --- state the session and tests read (not in the operation table) ---
    float MeasuredFrameRate() const { return measuredFrameRate_.load(); }
    double TransferRate() const { return transferRate_.load(); }
    uint32_t CountedFrames() const { return countedFrames_.load(); }
    bool TransferError() const { return transferError_.load(); }
    uint32_t LastFrameCounter() const { return lastFrameCounter_.load(); }
    uint32_t FrameSize() const;
    uint32_t TransferCapacity() const;
    bool BuffersStale() const { return buffersStale_.load(); }
    uint32_t PayloadTimeout() const { return payloadTimeoutMs_.load(); }
    int BitDepthMode() const { return bitDepthMode_.load(); }
    int CaptureModeValue() const { return captureMode_.load(); }
    bool IsCapturing() const { return running_.load(); }
    uint64_t FramesStored() const { return framesStored_.load(); }
    FrameRing& Ring() { return ring_; }

protected:
    // Runs `op` on the sensor under deviceLock_, or returns `fallback` without one.
    template <typename R, typename Op>
    R WithSensor(R fallback, Op&& op) {
        platform::CriticalSectionLock lock(deviceLock_);
        return sensor_ ? op(*sensor_) : fallback;
    }
    // A sensor getter with an output cell: the cell's content, 0 without a sensor.
    int SensorCell(int (CSensorBase::*getter)(int*));
    double SensorSeconds(int (CSensorBase::*getter)(double*));

private:
    int StopCaptureLocked(int wait);
    int SetCaptureModeLocked(int mode);
    int PrepareBuffersLocked();
    int ResetTransferLocked();
    int InitializeCameraLocked();
    int OpenDeviceLocked(int index);
    int FindDeviceRow(int index);
    int IsDeviceAvailableLocked(int index);
    int FpgaWriteLocked(int reg, int value);
    int FpgaReadLocked(int reg, int* ok);
    int WaitFpgaIdleLocked(uint32_t milliseconds);
    int IsDefectCorrectionAvailableLocked();
    uint16_t BridgeFirmwareVersion() const;
    void OpenFrameEvent();
    void CloseFrameEvent();
    void JoinAcquisitionThread();
    void AcquisitionThreadBody();
    // Reads FPGA register 0x08 on the acquisition thread.
    bool ReadFrameCounterRegister(uint8_t* value);
    // Notes the exposure, gain, black level and line timing the sensor holds now.
    void NoteAnalogLocked();
    // Runs a sensor setter and notes what it left in place.
    template <typename Op>
    int AnalogChange(Op&& op) {
        platform::CriticalSectionLock lock(deviceLock_);
        if (!sensor_) return 0;
        const int result = op(*sensor_);
        NoteAnalogLocked();
        return result;
    }
    // Stamps the host clocks of a frame that has just arrived whole.
    static void StampArrival(FrameRecord* record);
    FrameLayout Layout(bool topDown) const;
    int CopySlot(int slot, uint8_t* dst, uint32_t capacity, FrameRecord* record, bool topDown);
    // Runs `read` on the newest slot and marks what it read as taken; true when it succeeded.
    bool ReadNewestSlot(const std::function<bool(int slot)>& read);
    std::function<void(FrameRing&)> slotReadHook_;

    // Changed under deviceLock_ (recursive) only. The acquisition thread reads the pointers and
    // fills the transfer buffer without it, never replaces them, and is joined before anyone
    // else does; the analysis cannot see that hand-over, so only deviceInfo_ is marked.
    mutable platform::CriticalSection deviceLock_;
    std::unique_ptr<usb::CLumCy3Cam> controller_;
    std::unique_ptr<CSensorBase> sensor_;
    uint8_t deviceInfo_[kDeviceInfoSize] LUMORA_GUARDED_BY(deviceLock_) = {};
    std::unique_ptr<uint8_t[]> transferBuffer_;
    uint32_t transferCapacity_ = 0;

    std::atomic<int> captureMode_{kCaptureContinuous};
    std::atomic<int> cameraType_{-1};
    std::atomic<int> bitDepthMode_{0};
    std::atomic<int> triggerMode_{-1};
    std::atomic<int> deviceIndex_{-1};
    // The path of the camera opened last (openedPathMutex_) and whether it left the bus since;
    // a hot-plug subscription of this object watches for its removal.
    platform::Mutex openedPathMutex_;
    std::string openedPath_ LUMORA_GUARDED_BY(openedPathMutex_);
    std::atomic<bool> openedCameraLeft_{false};
    int hotplugToken_ = 0;
    std::atomic<uint32_t> payloadTimeoutMs_{kDefaultPayloadTimeoutMs};
    std::atomic<bool> transferError_{false};
    std::atomic<bool> buffersStale_{true};
    std::atomic<uint32_t> lastFrameCounter_{0};
    std::atomic<uint32_t> countedFrames_{0};
    std::atomic<float> measuredFrameRate_{0.0f};
    std::atomic<double> transferRate_{0.0};
    std::atomic<uint64_t> framesStored_{0};
    std::atomic<bool> firstFrame_{true};

    FrameRing ring_;
    AnalogHistory analogHistory_;
    mutable platform::Mutex layoutMutex_;
    uint32_t frameSize_ LUMORA_GUARDED_BY(layoutMutex_) = 0;
    FrameLayout layout_ LUMORA_GUARDED_BY(layoutMutex_){};

    // The frame-ready event lives as long as the driver; "closing" it marks it closed so a
    // WaitFrame without a new start answers "nothing new", as a closed handle would.
    platform::Event frameReady_{false, false};
    std::atomic<bool> frameEventOpen_{false};
    // This driver's own end-of-thread event: nothing couples two cameras in one process.
    platform::Event threadEnd_{false, false};
    platform::Thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> threadFinished_{true};
    FrameRateCounter frameRate_{1000};
};

}  // namespace lumora
