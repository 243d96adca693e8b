#include "sensor/SensorSelection.h"

#include <new>

#include "sensor/CSensorIMX992.h"
#include "usb/CControllerBase.h"

namespace lumora {

namespace {

template <typename Sensor>
std::unique_ptr<CSensorBase> Make(CControllerBase* controller, uint8_t busAddress) {
    // A failed allocation is treated like an unknown product id.
    return std::unique_ptr<CSensorBase>(new (std::nothrow) Sensor(controller, busAddress));
}

constexpr int kNone = SensorVariant::kNoTypeCode;

// The family. Only the IMX992 cameras are served by this library; the other rows keep their
// place so that every product id is recognised and refused the same way.
constexpr SensorVariant kVariants[] = {
    {0x3020, "CSensorMT9F001", 0x20, kNone, nullptr},  // MT9F002 when the chip answers 302
    {0x3030, "CSensorMT9P001", 0x90, kNone, nullptr},
    {0x3040, "CSensorMT9J001", 0x20, kNone, nullptr},
    {0x3042, "CSensorMT9J001", 0x20, kNone, nullptr},
    {0x3050, "CSensorICX274", 0x00, kNone, nullptr},
    {0x3090, "CSensorCcdTapA", 0x00, kNone, nullptr},
    {0x30B0, "CSensorCcdTapB", 0x00, kNone, nullptr},
    {0x30C0, "CSensorCcdTapC", 0x00, kNone, nullptr},
    {0x30F0, "CSensorIMX178", 0x48, kNone, nullptr},
    {0x3100, "CSensorIMX174", 0x48, kNone, nullptr},
    {0x3110, "CSensorIMX183", 0x48, kNone, nullptr},
    {0x3120, "CSensorIMX159", 0x48, kNone, nullptr},
    {0x3130, "CSensorVideoInput", 0x42, kNone, nullptr},
    {0x3140, "CSensorArea1280", 0x6C, kNone, nullptr},
    {0x3150, "CSensorNir640", 0x6C, kNone, nullptr},
    {0x3170, "CSensorNir320", 0x6C, kNone, nullptr},
    {0x3180, "CSensorSwir1280", 0x48, kNone, nullptr},
    {0x3190, "CSensorLine512", 0x20, kNone, nullptr},
    {0x31A0, "CSensorLine256", 0x20, kNone, nullptr},
    {0x31B0, "CSensorIMX250", 0x48, 59, nullptr},
    {0x31B4, "CSensorIMX264", 0x48, kNone, nullptr},
    {0x31C0, "CSensorIMX252", 0x48, kNone, nullptr},
    {0x31C4, "CSensorIMX265", 0x48, kNone, nullptr},
    {0x31D0, "CSensorLine1024", 0x20, kNone, nullptr},
    {0x31E0, "CSensorUv2048", 0x6C, kNone, nullptr},
    {0x31F0, "CSensorIMX226", 0x48, kNone, nullptr},
    {0x3200, "CSensorNir640Cooled", 0x48, kNone, nullptr},
    {0x3210, "CSensorLine2048", 0x20, kNone, nullptr},
    {0x3220, "CSensorDetector320", 0x6C, 105, nullptr},
    {0x3260, "CSensorIMX990", 0x48, 109, nullptr},
    {0x3270, "CSensorIMX990", 0x48, 110, nullptr},
    {0x3280, "CSensorIMX991", 0x48, 111, nullptr},
    {0x3290, "CSensorIMX991", 0x48, 112, nullptr},
    {0x32A0, "CSensorIMX250", 0x48, 113, nullptr},
    {0x32B0, "CSensorArea32B0", 0x48, 61, nullptr},
    {0x32C0, "CSensorGLUX9701", 0x48, 114, nullptr},
    {0x32D0, "CSensorLarge4096", 0x6C, kNone, nullptr},
    {0x32E0, "CSensorIMX536", 0x48, kNone, nullptr},
    {0x32F0, "CSensorIMX487", 0x48, kNone, nullptr},
    {0x3300, "CSensorIMX273", 0x48, kNone, nullptr},
    {0x3310, "CSensorFamily40A", 0x40, 116, nullptr},
    {0x3320, "CSensorFamily40B", 0x40, 117, nullptr},
    {0x3330, "CSensorFamily40C", 0x40, 118, nullptr},
    {0x3340, "CSensorFamily40D", 0x40, 119, nullptr},
    {0x3360, "CSensorIMX675", 0x48, kNone, nullptr},
    {0x3370, "CSensorIMX992", CSensorIMX992::kBusAddress, CSensorIMX992::kTypeCodeUncooled,
     &Make<CSensorIMX992>},
    {0x3380, "CSensorIMX992", CSensorIMX992::kBusAddress, CSensorIMX992::kTypeCodeCooled,
     &Make<CSensorIMX992>},
    {0x33A0, "CSensorArea640", 0x48, kNone, nullptr},
    {0x33B0, "CSensorGLUX9701", 0x48, 114, nullptr},
    {0x33C0, "CSensorIMX993", 0x48, 131, nullptr},
    {0x33D0, "CSensorIMX993", 0x48, 132, nullptr},
    {0x33E0, "CSensorIMX535", 0x48, kNone, nullptr},
};

}  // namespace

std::span<const SensorVariant> SensorVariants() { return kVariants; }

const SensorVariant* FindSensorVariant(uint16_t productId) {
    for (const SensorVariant& variant : kVariants) {
        if (variant.productId == productId) return &variant;
    }
    return nullptr;
}

std::unique_ptr<CSensorBase> CreateSensorForProduct(uint16_t productId, CControllerBase* controller) {
    const SensorVariant* variant = FindSensorVariant(productId);
    if (variant == nullptr || variant->create == nullptr) return nullptr;
    std::unique_ptr<CSensorBase> sensor = variant->create(controller, variant->busAddress);
    if (sensor && variant->typeCode != SensorVariant::kNoTypeCode) sensor->SetTypeCode(variant->typeCode);
    return sensor;
}

}  // namespace lumora
