#pragma once
// The camera's analog controls as the analog settings dialog works them: read and set on the
// driver directly (the dialog keeps the session's settings itself), with the driver's own
// ranges and defaults. The session owns the driver; the dialog reaches it only through here.
#include <cstdint>

namespace lumora {

class CLumora;
class CLumoraUSB3T2SimpleSdk;

// Valid while the session keeps its driver; used on the thread that runs the dialog.
class AnalogControls {
public:
    // The session must have a driver.
    explicit AnalogControls(CLumora& session);

    // What the camera has.
    int IsExposureTimeExAvailable();
    int SupportsOutputFormatC();
    int IsBlackLevelSupported();
    int IsPeltierAvailable();
    int HasResponseMode();
    int IsStreamReady();

    // Current values.
    int GetGlobalGain();
    int GetColorGainGreen1();
    int GetColorGainRed();
    int GetColorGainBlue();
    int GetColorGainGreen2();
    int GetExposureTime();
    double GetExposureTimeEx();
    int GetMirrorV();
    int GetMirrorH();
    int GetBlackLevel();
    int GetPeltier();
    int GetResponseMode(int* mode);
    int GetControlFlag();

    // Ranges.
    int GetGlobalGainMin();
    int GetGlobalGainMax();
    int GetColorGainMin();
    int GetColorGainMax();
    int GetExposureTimeMin();
    int GetExposureTimeMax();
    double GetExposureTimeExMin();
    double GetExposureTimeExMax();
    int GetBlackLevelMin();
    int GetBlackLevelMax();

    // Defaults.
    int GetGlobalGainDefault();
    int GetColorGainDefault();
    int GetExposureTimeDefault();
    double GetExposureTimeExDefault();
    int GetMirrorVDefault();
    int GetMirrorHDefault();
    int GetBlackLevelDefault();

    // Changes.
    int SetGlobalGain(int gain);
    int SetColorGainGreen1(int gain);
    int SetColorGainRed(int gain);
    int SetColorGainBlue(int gain);
    int SetColorGainGreen2(int gain);
    int SetExposureTime(uint32_t tenthsOfMs);
    int SetExposureTimeEx(double seconds);
    int SetBlackLevel(int level);
    int SetMirrorV(int on);
    int SetMirrorH(int on);
    int SetPeltier(int on);
    int SetResponseMode(int mode);
    int SetControlFlag(int flag);

private:
    CLumoraUSB3T2SimpleSdk& driver_;
};

}  // namespace lumora
