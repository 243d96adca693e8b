// Wire layouts of the requests, as the driver and the camera read them.
#include <gtest/gtest.h>

#include "usb/CLumCy3Cam.h"
#include "usb/Fx3Protocol.h"
#include "usb/ScriptedDevice.h"
#include "usb/UsbTestSupport.h"

namespace lumora::usb {
namespace {

TEST(ProtocolTest, ControlRequestCarriesTheFixedHeaderFields) {
    const auto request = ControlRequest::For(*FindVendorRequest(kReqI2cRead), 2, 0x41);
    uint8_t bytes[ControlRequest::kSize];
    request.Write(bytes);
    EXPECT_EQ(bytes[0], 0xC0);
    EXPECT_EQ(bytes[1], 0x31);
    EXPECT_EQ(bytes[2], 2);
    EXPECT_EQ(bytes[4], 0x41);
    EXPECT_EQ(bytes[6] | (bytes[7] << 8), 102);
    EXPECT_EQ(platform::LoadLe32(bytes + 8), 3u);
    EXPECT_EQ(bytes[13], 0);
    EXPECT_EQ(platform::LoadLe32(bytes + 30), 38u);
    EXPECT_EQ(platform::LoadLe32(bytes + 34), 64u);
    EXPECT_EQ(ControlRequest::Read(bytes).header.index, 0x41);
}

TEST(ProtocolTest, StreamCommandAndFrameHeaderLayouts) {
    StreamCommand command{true, 0x1122334455667788ull, 0x1000};
    uint8_t bytes[StreamCommand::kSize];
    command.Write(bytes);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "AU3W");
    EXPECT_EQ(platform::LoadLe32(bytes + 4), 2u);
    EXPECT_EQ(platform::LoadLe32(bytes + 8), 0x55667788u);
    EXPECT_EQ(platform::LoadLe32(bytes + 12), 0x11223344u);
    EXPECT_EQ(platform::LoadLe32(bytes + 16), 0x1000u);
    EXPECT_EQ(platform::LoadLe32(bytes + 28), 0u);
    EXPECT_FALSE(StreamCommand::Read(bytes, 31));
    bytes[3] = 'X';
    EXPECT_FALSE(StreamCommand::Read(bytes, 32));

    FrameHeader header{100, 0xA, 7, 0xC, 0xD};
    uint8_t h[FrameHeader::kSize];
    header.Write(h);
    EXPECT_EQ(platform::LoadLe32(h + 16), 100u);
    EXPECT_EQ(platform::LoadLe32(h + 28), 0xAu);
    EXPECT_EQ(platform::LoadLe32(h + 32), 7u);
    EXPECT_EQ(platform::LoadLe32(h + 40), 0xCu);
    EXPECT_EQ(platform::LoadLe32(h + 44), 0xDu);
}

class RequestLayoutTest : public lumora::testing::SimCamerasTest {};

TEST_F(RequestLayoutTest, VendorRequestsReachTheDeviceAsTheTableSays) {
    UseCameras(0);
    lumora::testing::PluggedDevice device(
        platform::MakeInterfacePath(0x1D50, 0x3380, "scripted-layout"));
    CLumCy3Cam c;
    c.EnumerateDevices();
    ASSERT_EQ(c.SelectDevice(0), 1);
    const uint8_t three[3] = {1, 2, 3};
    uint8_t byte = 0;
    uint32_t word = 0;
    c.I2cWrite(kBusSensor, three, 3, 3000);
    c.I2cRead(kBusEeprom, &byte, 1, 3000);
    c.StreamKick();
    c.WriteWideRegister(0x8004, 5);
    c.ReadWideRegister(0x8004, &word);
    c.SetModeByte(1);
    struct Expected {
        uint8_t type, request;
        uint16_t value, index;
    };
    const Expected expected[] = {{0x40, 0x30, 3, 0x48},   {0xC0, 0x31, 1, 0xA3},
                                 {0x42, 0xC2, 0, 0},      {0x40, 0xD0, 1, 4},
                                 {0xC0, 0xD1, 0, 0x8004}, {0x40, 0x3C, 0, 0}};
    ASSERT_EQ(device->setups.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(device->setups[i].requestType, expected[i].type) << i;
        EXPECT_EQ(device->setups[i].request, expected[i].request) << i;
        EXPECT_EQ(device->setups[i].value, expected[i].value) << i;
        EXPECT_EQ(device->setups[i].index, expected[i].index) << i;
        EXPECT_EQ(device->setups[i].length, 64) << i;
    }
}

}  // namespace
}  // namespace lumora::usb
