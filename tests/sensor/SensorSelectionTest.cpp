#include <gtest/gtest.h>

#include <set>

#include "sensor/CSensorIMX992.h"
#include "sensor/SensorSelection.h"

namespace lumora {
namespace {

TEST(SensorSelection, CooledCameraGetsTheImx992WithItsTypeCode) {
    auto sensor = CreateSensorForProduct(0x3380, nullptr);
    ASSERT_NE(sensor, nullptr);
    EXPECT_NE(dynamic_cast<CSensorIMX992*>(sensor.get()), nullptr);
    EXPECT_EQ(sensor->TypeCode(), 130);
    EXPECT_EQ(sensor->BusAddress(), 0x48);
    EXPECT_EQ(sensor->HasCooler(), 1);
    SensorInfo info{};
    sensor->GetSensorInfo(&info);
    EXPECT_EQ(info.orientation, 1);
}

TEST(SensorSelection, UncooledSiblingCountsRowsFromTheBottom) {
    auto sensor = CreateSensorForProduct(0x3370, nullptr);
    ASSERT_NE(sensor, nullptr);
    EXPECT_EQ(sensor->TypeCode(), 129);
    EXPECT_EQ(sensor->HasCooler(), 0);
    SensorInfo info{};
    sensor->GetSensorInfo(&info);
    EXPECT_EQ(info.orientation, 4);
}

TEST(SensorSelection, TableRowsAreUniqueAndSharedDriversMatch) {
    std::set<uint16_t> ids;
    for (const SensorVariant& v : SensorVariants()) EXPECT_TRUE(ids.insert(v.productId).second) << v.productId;
    const SensorVariant* a = FindSensorVariant(0x32C0);
    const SensorVariant* b = FindSensorVariant(0x33B0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(a->driverName, b->driverName);
    EXPECT_EQ(a->typeCode, b->typeCode);
    EXPECT_EQ(FindSensorVariant(0x3310)->busAddress, 0x40);
}

TEST(SensorSelection, UnknownOrUncarriedProductsGetNoSensor) {
    EXPECT_EQ(CreateSensorForProduct(0x3000, nullptr), nullptr);
    EXPECT_EQ(FindSensorVariant(0x3000), nullptr);
    EXPECT_EQ(CreateSensorForProduct(0x3100, nullptr), nullptr);
}

}  // namespace
}  // namespace lumora
