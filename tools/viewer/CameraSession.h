// The viewer's camera: one SDK session (handle) with the camera chosen in it, the run that
// feeds the display, and every setting the viewer offers, all through the public interface.
// Settings that change the frames' shape (bit depth, window, subsampling) restart the run
// around the change so the feed always knows the geometry of what it copies.
//
// Threads: the display's thread calls everything here; the feed has its own thread (FrameFeed).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CaptureWindowGrid.h"
#include "FrameFeed.h"
#include "lumora/host.h"

namespace lumora_viewer {

struct DeviceEntry {
    int number = 0;  // the device number Lumora_SetDeviceNumber takes
    std::string name;
};

struct CameraRanges {
    double exposureMinMs = 0.1;
    double exposureMaxMs = 2000;
    int gainMin = 0;
    int gainMax = 0;
    // The public interface has no getter for the black level's range: the sensor's 12 bits.
    int blackLevelMin = 0;
    int blackLevelMax = 4095;
};

enum class RunMode { kStopped, kFreeRunning, kTriggered };

// The filter values of Lumora_SetFilterValue the viewer offers.
enum FilterId : int {
    kFilterBrightness = 1,
    kFilterContrast = 2,
    kFilterSharpness = 5,
    kFilterGamma = 11,
    kFilterDot = 102,
    kFilterMask = 103,
    kFilterGainMode = 104,
    kFilterBlackLevel = 106,
};

// The image file formats of Lumora_SaveImage, by code.
struct ImageFormat {
    int code;
    const char* label;      // shown in the format list (translated by the view)
    const char* extension;  // with the dot
};
const std::vector<ImageFormat>& ImageFormats();

// The meaning of an SDK error code (English; the view translates it).
const char* ErrorMeaning(int code);

class CameraSession {
public:
    CameraSession() = default;
    ~CameraSession();
    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;

    // Makes the SDK session with `notifications` for its messages (device arrival and removal,
    // errors) and the feed with `events`. Opens the only camera, or `device` when >= 0, or the
    // first of several. False only when no session could be made; no camera is not a failure.
    bool Initialize(HWND notifications, int device, FrameFeed::Events events);
    // Ends the run and releases the session (also done by the destructor).
    void Shutdown();
    int Handle() const { return handle_; }
    FrameFeed& Feed() { return *feed_; }

    // --- cameras
    std::vector<DeviceEntry> Devices();
    bool Open(int number);
    bool IsOpen() const { return current_ >= 0; }
    // The number asked for at start that no present camera had, or -1.
    int MissingDevice() const { return missingDevice_; }
    int Current() const { return current_; }
    // Marks the camera as gone (the run has ended with it); Open chooses one again.
    void Lost();
    std::string Serial();
    CameraRanges Ranges();
    // Simulated cameras are present, and the software trigger can fire this one.
    bool CanFireTrigger();

    // --- the run
    bool Start(RunMode mode);
    void Stop();
    RunMode Mode() const { return mode_; }
    bool FireTrigger();
    // Runs `change` with the run stopped and the feed paused, then restarts what ran before;
    // the result is the change's.
    bool Reconfigure(const std::function<bool()>& change);
    FrameGeometry Geometry() const;

    // --- settings (each false with LastError() set when the SDK refuses)
    bool SetExposureMs(double ms);
    double ExposureMs();
    bool SetGain(int gain);
    int Gain();
    bool SetFilter(int id, int value);
    int Filter(int id);
    bool SetBits(int bits);
    int Bits();
    bool SetMirrorH(bool on);
    bool SetMirrorV(bool on);
    bool MirrorH();
    bool MirrorV();
    bool SetSubsample(bool on);
    bool Subsample();
    bool SetWindow(const SensorWindow& window);
    SensorWindow Window();
    bool SetCooler(bool on);
    bool Cooler();
    bool SetAutoIris(int mode);
    int AutoIris();
    std::optional<double> Temperature();
    // The correction switches also tell the feed how 16-bit values are laid out.
    bool SetMaskFilter(bool on);
    bool SetDotFilter(bool on);

    // --- files
    bool SaveImage(const std::string& path, int formatCode);
    bool Record(const std::string& path, int durationMs);
    LumoraRecordStats RecordStats();
    // Ends a recording before its time (the run restarts without it).
    void StopRecording();
    bool TakeReference(int which);  // 0 dark, 1 bright
    bool SaveMask(const std::string& path);
    bool LoadMask(const std::string& path);
    LumoraStreamStats StreamStats();

    // --- dialogs (modal, on the display's thread)
    bool CameraDialog(HWND owner);
    bool ImageDialog(HWND owner);
    bool AnalogDialog(HWND owner);

    struct Error {
        int code = 0;
        std::string what;  // what was being done (English; the view translates)
    };
    const Error& LastError() const { return error_; }

private:
    bool Check(int result, const char* what);
    bool SetWindowNow(const SensorWindow& window);
    void ApplyValueShift();

    int handle_ = 0;
    int current_ = -1;
    int missingDevice_ = -1;
    RunMode mode_ = RunMode::kStopped;
    std::unique_ptr<FrameFeed> feed_;
    Error error_;
};

}  // namespace lumora_viewer
