// The C interface under a hostile caller: the input is decoded into a sequence of export calls
// with arbitrary handles, sizes, ids and buffers on one simulated camera. No sequence may crash,
// hang or leak; results are not judged, only survived.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "lumora/host.h"
#include "lumora/lumora.h"

namespace {

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool More() const { return used_ < size_; }
    uint8_t Byte() { return used_ < size_ ? data_[used_++] : 0; }
    int32_t Int() {
        // Small values are the interesting ones most of the time; a marker byte asks for a
        // full 32-bit value.
        const uint8_t b = Byte();
        if (b != 0xFF) return static_cast<int8_t>(b);
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
        return static_cast<int32_t>(v);
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

constexpr int kBufferSize = 2560 * 2048 * 2;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static const std::string home =
        (std::filesystem::temp_directory_path() / "lumora-fuzz-exports").string();
    std::filesystem::create_directories(home);
    ::setenv("LUMORA_CONFIG_HOME", home.c_str(), 1);
    LumoraSim_SetFastMode(1);
    LumoraSim_SetCameraCount(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<unsigned char> buffer(kBufferSize);
    Reader in(data, size);
    const int h = Lumora_Initialize(nullptr);
    // Handles near the real one, and the real one most of the time.
    auto handle = [&] {
        const int d = in.Byte() % 8;
        return d < 6 ? h : h + d - 7;
    };
    // A size that may lie about the buffer: never larger than what is there.
    auto bufferSize = [&] {
        return static_cast<int>(static_cast<uint32_t>(in.Int()) % kBufferSize);
    };
    int valid = 0;
    for (int steps = 0; in.More() && steps < 32; ++steps) {
        const int op = in.Byte() % 24;
        const int a = in.Int();
        const int b = in.Int();
        switch (op) {
            case 0:
                Lumora_SetColorMode(handle(), a);
                break;
            case 1:
                Lumora_SetCaptureWindowEx(handle(), in.Int(), in.Int(), in.Int(), in.Int(),
                                          in.Int(), in.Int());
                break;
            case 2:
                Lumora_SnapShot(handle(), in.Byte() & 1 ? buffer.data() : nullptr, bufferSize(), a);
                break;
            case 3:
                Lumora_SetPreviewWindow(handle(), nullptr, a, b, in.Int(), in.Int());
                break;
            case 4:
                Lumora_StartPreview(handle());
                break;
            case 5:
                Lumora_StopPreview(handle());
                break;
            case 6:
                Lumora_Close(handle());
                break;
            case 7:
                Lumora_GetImage(handle(), buffer.data(), bufferSize(), a);
                break;
            case 8:
                Lumora_SetFilterValue(handle(), a, b);
                break;
            case 9:
                Lumora_GetFilterValue(handle(), a, in.Byte() & 1 ? &valid : nullptr);
                break;
            case 10:
                Lumora_SetRealExposureTime(handle(), a * 100);
                break;
            case 11:
                Lumora_SetExposureTimeEx(handle(), a / 1000.0);
                break;
            case 12:
                Lumora_SetSubSample(handle(), a);
                break;
            case 13:
                Lumora_ReadRegister(handle(), a, &valid);
                break;
            case 14:
                Lumora_SetWaitTime(handle(), a & 0xFF);
                break;
            case 15: {
                char name[64];
                Lumora_GetDeviceName(handle(), a, name,
                                     static_cast<int>(static_cast<uint32_t>(b) % sizeof name));
                break;
            }
            case 16: {
                char text[32];
                Lumora_ReadSerialNumberA(handle(), text,
                                         static_cast<int>(static_cast<uint32_t>(b) % sizeof text));
                break;
            }
            case 17:
                Lumora_SetMirrorH(handle(), a);
                break;
            case 18:
                Lumora_Capture(handle());
                break;
            case 19:
                Lumora_SetCaptureWindow(handle(), a, b);
                break;
            case 20:
                Lumora_UpdateMaskData(handle(), a);
                break;
            case 21: {
                // Failed transfers, payload faults, I2C and EEPROM refusals; not stalls or slow
                // start-up, which only cost time.
                static const int kFaults[] = {1, 3, 4, 5, 6};
                LumoraSim_InjectFault(0, kFaults[static_cast<uint32_t>(a) % 5], b & 7, 0);
                break;
            }
            case 22:
                Lumora_GetLastError(handle());
                break;
            default:
                Lumora_SetDeviceNumber(handle(), a);
                break;
        }
    }
    LumoraSim_ClearFaults(0);
    Lumora_Release(h);
    return 0;
}
