#pragma once
// Which sensor driver a camera type gets: one row per USB product id of the camera family.
#include <cstdint>
#include <memory>
#include <span>

#include "sensor/CSensorBase.h"

namespace lumora {

struct SensorVariant {
    static constexpr int kNoTypeCode = -1;
    uint16_t productId;
    const char* driverName;  // the sensor driver's class
    uint8_t busAddress;
    int typeCode;  // given with SetTypeCode after construction, or kNoTypeCode
    // Builds the driver; null for variants this library does not carry.
    std::unique_ptr<CSensorBase> (*create)(CControllerBase* controller, uint8_t busAddress);
};

// The whole family, in product-id order.
std::span<const SensorVariant> SensorVariants();
// The row of `productId`, or null.
const SensorVariant* FindSensorVariant(uint16_t productId);

// Creates and types the sensor driver of `productId`. Null for an unknown product id, a variant
// this library does not carry, or a failed allocation.
std::unique_ptr<CSensorBase> CreateSensorForProduct(uint16_t productId, CControllerBase* controller);

}  // namespace lumora
