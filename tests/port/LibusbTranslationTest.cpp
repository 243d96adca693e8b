// How the libusb backend turns the driver's requests into libusb operations.
#include <gtest/gtest.h>
#include <libusb.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "port/CameraVendorId.h"
#include "port/LibusbPort.h"

namespace lumora::platform {
namespace {

std::vector<uint8_t> Header(const SingleTransfer& transfer, size_t size) {
    std::vector<uint8_t> bytes(std::max(size, SingleTransfer::kSize), 0);
    transfer.Write(bytes.data());
    bytes.resize(size);  // a buffer cut short of the header
    return bytes;
}

SingleTransfer ControlHeader(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index) {
    SingleTransfer t;
    t.requestType = requestType;
    t.request = request;
    t.value = value;
    t.index = index;
    t.length = 102;
    t.timeoutSeconds = 3;
    t.bufferOffset = 38;
    t.bufferLength = 64;
    return t;
}

TEST(LibusbTranslationTest, VendorRequestsBecomeControlTransfers) {
    const auto in = Header(ControlHeader(0xC0, 0x31, 2, 0x41), kControlRequestSize);
    uint32_t error = 99;
    const auto request = TranslateRequest(kIoctlControlTransfer, in, kControlRequestSize, &error);
    ASSERT_TRUE(request);
    EXPECT_EQ(error, kErrorSuccess);
    EXPECT_EQ(request->kind, LibusbRequest::Kind::Control);
    EXPECT_EQ(request->requestType, 0xC0);
    EXPECT_EQ(request->request, 0x31);
    EXPECT_EQ(request->value, 2);
    EXPECT_EQ(request->index, 0x41);
    EXPECT_EQ(request->timeoutMs, 3000u);
    EXPECT_EQ(request->length, 64u);
    EXPECT_EQ(request->dataOffset, 38u);
    EXPECT_TRUE(request->IsIn());

    const auto kick = Header(ControlHeader(0x42, 0xC2, 0, 0), kControlRequestSize);
    const auto out = TranslateRequest(kIoctlControlTransfer, kick, kControlRequestSize, &error);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->requestType, 0x42);  // endpoint recipient kept
    EXPECT_FALSE(out->IsIn());
}

TEST(LibusbTranslationTest, MalformedControlRequestsAreRefused) {
    uint32_t error = 0;
    auto shortBuffer = Header(ControlHeader(0xC0, 0xB0, 0, 0), 60);
    EXPECT_FALSE(TranslateRequest(kIoctlControlTransfer, shortBuffer, 102, &error));
    EXPECT_EQ(error, kErrorInvalidParameter);
    auto big = ControlHeader(0xC0, 0xB0, 0, 0);
    big.bufferLength = 65;
    EXPECT_FALSE(TranslateRequest(kIoctlControlTransfer, Header(big, 200), 200, &error));
    auto early = ControlHeader(0xC0, 0xB0, 0, 0);
    early.bufferOffset = 10;  // the data stage would overlap the header
    EXPECT_FALSE(TranslateRequest(kIoctlControlTransfer, Header(early, 102), 102, &error));
    EXPECT_FALSE(TranslateRequest(kIoctlControlTransfer,
                                  Header(ControlHeader(0xC0, 0xB0, 0, 0), 102), 64, &error));
}

TEST(LibusbTranslationTest, BulkRequestsKeepEndpointLengthAndDataPlace) {
    SingleTransfer direct;
    direct.endpoint = 0x81;
    uint32_t error = 0;
    auto request = TranslateRequest(kIoctlDirectBulk, Header(direct, 38), 1 << 20, &error);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->kind, LibusbRequest::Kind::Bulk);
    EXPECT_EQ(request->endpoint, 0x81);
    EXPECT_EQ(request->length, 1u << 20);
    EXPECT_EQ(request->dataOffset, 0u);
    EXPECT_FALSE(request->buffered);
    EXPECT_TRUE(request->IsIn());

    direct.endpoint = 0x01;
    request = TranslateRequest(kIoctlDirectBulk, Header(direct, 38), 32, &error);
    ASSERT_TRUE(request);
    EXPECT_FALSE(request->IsIn());

    direct.endpoint = 0x00;
    EXPECT_FALSE(TranslateRequest(kIoctlDirectBulk, Header(direct, 38), 32, &error));
    EXPECT_FALSE(TranslateRequest(kIoctlDirectBulk, Header(direct, 20), 32, &error));

    SingleTransfer buffered;
    buffered.endpoint = 0x83;
    buffered.bufferOffset = 38;
    buffered.bufferLength = 100;
    request = TranslateRequest(kIoctlBufferedBulk, Header(buffered, 138), 138, &error);
    ASSERT_TRUE(request);
    EXPECT_TRUE(request->buffered);
    EXPECT_EQ(request->length, 100u);
    EXPECT_EQ(request->dataOffset, 38u);
    EXPECT_FALSE(TranslateRequest(kIoctlBufferedBulk, Header(buffered, 137), 138, &error));
    EXPECT_EQ(error, kErrorInvalidParameter);
}

TEST(LibusbTranslationTest, PipeAndPortRequests) {
    uint32_t error = 0;
    const std::vector<uint8_t> endpoint{0x81};
    auto abort = TranslateRequest(kIoctlAbortPipe, endpoint, 0, &error);
    ASSERT_TRUE(abort);
    EXPECT_EQ(abort->kind, LibusbRequest::Kind::AbortPipe);
    EXPECT_EQ(abort->endpoint, 0x81);
    auto reset = TranslateRequest(kIoctlResetPipe, endpoint, 0, &error);
    ASSERT_TRUE(reset);
    EXPECT_EQ(reset->kind, LibusbRequest::Kind::ResetPipe);
    EXPECT_FALSE(TranslateRequest(kIoctlAbortPipe, {}, 0, &error));
    auto port = TranslateRequest(kIoctlResetPort, {}, 0, &error);
    ASSERT_TRUE(port);
    EXPECT_EQ(port->kind, LibusbRequest::Kind::ResetPort);
    const std::vector<uint8_t> four(4, 0);
    auto speed = TranslateRequest(kIoctlGetSpeed, four, 4, &error);
    ASSERT_TRUE(speed);
    EXPECT_EQ(speed->kind, LibusbRequest::Kind::GetSpeed);
    EXPECT_FALSE(TranslateRequest(kIoctlGetSpeed, four, 3, &error));
    EXPECT_EQ(error, kErrorInsufficientBuffer);
    EXPECT_FALSE(TranslateRequest(0x00220000, four, 4, &error));
    EXPECT_EQ(error, kErrorInvalidParameter);
}

TEST(LibusbTranslationTest, SpeedsAndErrorsMapToTheDriversCodes) {
    EXPECT_EQ(SpeedCodeFromLibusb(LIBUSB_SPEED_SUPER), 4u);
    EXPECT_EQ(SpeedCodeFromLibusb(LIBUSB_SPEED_SUPER_PLUS), 4u);
    EXPECT_EQ(SpeedCodeFromLibusb(LIBUSB_SPEED_HIGH), 3u);
    EXPECT_EQ(SpeedCodeFromLibusb(LIBUSB_SPEED_FULL), 2u);
    EXPECT_EQ(SpeedCodeFromLibusb(LIBUSB_SPEED_LOW), 1u);
    EXPECT_EQ(ErrorFromLibusbStatus(LIBUSB_TRANSFER_COMPLETED), kErrorSuccess);
    EXPECT_EQ(ErrorFromLibusbStatus(LIBUSB_TRANSFER_CANCELLED), kErrorOperationAborted);
    EXPECT_EQ(ErrorFromLibusbStatus(LIBUSB_TRANSFER_TIMED_OUT), kErrorSemTimeout);
    EXPECT_EQ(ErrorFromLibusbStatus(LIBUSB_TRANSFER_NO_DEVICE), kErrorDeviceNotConnected);
    EXPECT_EQ(ErrorFromLibusbStatus(LIBUSB_TRANSFER_STALL), kErrorGenFailure);
    EXPECT_EQ(ErrorFromLibusbError(LIBUSB_ERROR_NO_DEVICE), kErrorDeviceNotConnected);
    EXPECT_EQ(ErrorFromLibusbError(LIBUSB_ERROR_TIMEOUT), kErrorSemTimeout);
    EXPECT_EQ(ErrorFromLibusbError(0), kErrorSuccess);
    EXPECT_TRUE(IsKnownCameraProduct(0x3380));
    EXPECT_TRUE(IsKnownCameraProduct(0x32D0));
    EXPECT_FALSE(IsKnownCameraProduct(0x1234));
}

TEST(LibusbTranslationTest, VendorIdComesFromTheEnvironmentInHex) {
    // Make sure the port exists before the variable is set, so no real context starts here.
    EXPECT_TRUE(LibusbPort::Instance().EnumerateInterfaces(kCameraInterfaceGuid).empty());
    const char* saved = std::getenv("LUMORA_USB_VENDOR_ID");
    const std::string keep = saved ? saved : "";
    setenv("LUMORA_USB_VENDOR_ID", "1d50", 1);
    EXPECT_EQ(CameraVendorIdFromEnvironment(), 0x1D50);
    setenv("LUMORA_USB_VENDOR_ID", "0x1D50", 1);
    EXPECT_EQ(CameraVendorIdFromEnvironment(), 0x1D50);
    setenv("LUMORA_USB_VENDOR_ID", "12345", 1);
    EXPECT_FALSE(CameraVendorIdFromEnvironment());
    setenv("LUMORA_USB_VENDOR_ID", "zz", 1);
    EXPECT_FALSE(CameraVendorIdFromEnvironment());
    if (saved) {
        setenv("LUMORA_USB_VENDOR_ID", keep.c_str(), 1);
    } else {
        unsetenv("LUMORA_USB_VENDOR_ID");
    }
}

}  // namespace
}  // namespace lumora::platform
