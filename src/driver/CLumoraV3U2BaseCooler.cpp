// The driver object: sensor temperature and cooler.
#include "driver/CLumoraV3U2Base.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "driver/DriverDetail.h"
#include "platform/Clock.h"
#include "platform/LittleEndian.h"
#include "sensor/Imx992Registers.h"
#include "sensor/SensorSelection.h"
#include "usb/CLumCy3Cam.h"

namespace lumora {

using namespace driver_detail;

// ---------------------------------------------------------------------------------------------
// Cooler and temperature

int CLumoraV3U2Base::IsPeltierAvailable() {
    return WithSensor(0, [](CSensorBase& s) { return s.HasCooler(); });
}
int CLumoraV3U2Base::GetPeltier() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsCoolerOn(); });
}
int CLumoraV3U2Base::SetPeltier(int on) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetCoolerOn(on); });
}
int CLumoraV3U2Base::IsTemperatureAvailable() {
    return WithSensor(0, [](CSensorBase& s) { return s.HasTemperatureSensor(); });
}
int CLumoraV3U2Base::GetTemperature(double* degrees) {
    if (degrees == nullptr) return 0;
    return WithSensor(0, [&](CSensorBase& s) { return s.GetSensorTemperature(degrees); });
}

}  // namespace lumora
