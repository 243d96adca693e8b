// lumora: the command-line face of the SDK. Everything here goes through the public C interface,
// exactly as an application would.
#include <sys/resource.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Command.h"

namespace {

using namespace lumora_cli;

int ListCommand(const Options& options) {
    ApplySim(options);
    HWND events = LumoraHost_CreateQueueWindow();
    const int handle = Lumora_Initialize(events);
    if (handle == 0) throw CommandError{"cannot create a session", ERR_MEMORY};
    char names[10 * 256] = {};
    const int count = Lumora_EnumDevice(handle, names);
    std::printf("%d camera%s\n", count, count == 1 ? "" : "s");
    for (int i = 0; i < count; ++i) std::printf("  %d  %s\n", i, names + 256 * i);
    Lumora_Release(handle);
    LumoraHost_DestroyWindow(events);
    return 0;
}

int InfoCommand(const Options& options) {
    ApplySim(options);
    Camera camera(options.device);
    const int h = camera.Handle();
    const int version = Lumora_GetDllVersion();
    char serial[64] = {};
    camera.Check(Lumora_ReadSerialNumberA(h, serial, sizeof serial),
                 "cannot read the serial number");
    LUMORA_CAMERA_INFO info{};
    info.size = sizeof info;
    camera.Check(Lumora_GetCameraInfo(h, &info), "cannot read the camera information");
    int valid = 0;
    const double temperature = Lumora_GetTemperatureEx(h, &valid);
    std::printf("SDK version      %d.%d.%d.%d\n", (version >> 24) & 0xFF, (version >> 16) & 0xFF,
                (version >> 8) & 0xFF, version & 0xFF);
    std::printf("model            Lumora M5XIR TEC (IMX992)\n");
    std::printf("serial number    %s\n", serial[0] != 0 ? serial : "(none)");
    std::printf("sensor size      %d x %d\n", info.maxWidth, info.maxHeight);
    std::printf("capture window   %d x %d\n", Lumora_Width(h), Lumora_Height(h));
    std::printf("colour mode      %d bits\n", Lumora_GetColorMode(h));
    std::printf("global gain      %d .. %d\n", info.globalGainMin, info.globalGainMax);
    std::printf("exposure         %.1f .. %.1f ms (%.6f .. %.3f s fine)\n", info.exposureMin / 10.0,
                info.exposureMax / 10.0, info.exposureExMin, info.exposureExMax);
    if (valid != 0) {
        std::printf("temperature      %.2f degC\n", temperature);
    } else {
        std::printf("temperature      unavailable\n");
    }
    return 0;
}

int SnapCommand(const Options& options, const SnapOptions& snap) {
    ApplySim(options);
    Camera camera(options.device);
    const int h = camera.Handle();
    ApplyCaptureSettings(camera, snap);
    camera.Check(Lumora_Capture(h), "cannot prepare the capture");
    camera.Check(Lumora_SnapShot(h, nullptr, 0, 1), "no frame");
    for (const auto& path : snap.outputs) {
        const auto parent = std::filesystem::path(path).parent_path();
        if (!parent.empty()) std::filesystem::create_directories(parent);
        camera.Check(Lumora_SaveImage(h, path.c_str(), FormatFor(path)), "cannot save " + path);
        std::printf("%s\n", path.c_str());
    }
    Lumora_Close(h);
    return 0;
}

int TempCommand(const Options& options, bool watch, double interval) {
    ApplySim(options);
    Camera camera(options.device);
    const int h = camera.Handle();
    do {
        int valid = 0;
        const double temperature = Lumora_GetTemperatureEx(h, &valid);
        if (valid == 0) throw CommandError{"cannot read the temperature", Lumora_GetLastError(h)};
        std::printf("%.2f degC\n", temperature);
        std::fflush(stdout);
        if (watch) std::this_thread::sleep_for(std::chrono::duration<double>(interval));
    } while (watch);
    return 0;
}

int RegCommand(const Options& options, const std::string& target, int address,
               std::optional<int> value) {
    ApplySim(options);
    Camera camera(options.device);
    const int h = camera.Handle();
    const bool fpga = target == "fpga";
    if (value) {
        const int ok = fpga ? Lumora_Fpga_WriteRegister(h, address, *value)
                            : Lumora_WriteRegisterEx(h, address, *value);
        camera.Check(ok, "register write failed");
        std::printf("%s[0x%04X] := 0x%02X\n", target.c_str(), address, *value);
        return 0;
    }
    int valid = 1;  // the FPGA read clears it only on failure
    const int read = fpga ? Lumora_Fpga_ReadRegister(h, address, &valid)
                          : Lumora_ReadRegisterEx(h, address, &valid);
    camera.Check(valid, "register read failed");
    std::printf("%s[0x%04X] = 0x%02X (%d)\n", target.c_str(), address, read, read);
    return 0;
}

int EepromCommand(const Options& options, int address, int count, bool serial) {
    ApplySim(options);
    Camera camera(options.device);
    const int h = camera.Handle();
    if (serial) {
        char text[64] = {};
        camera.Check(Lumora_ReadSerialNumberA(h, text, sizeof text),
                     "cannot read the serial number");
        std::printf("%s\n", text);
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        int valid = 0;
        const int byte = Lumora_ReadSromID(h, address + i, &valid);
        if (valid == 0) {
            // The memory itself cannot be read from outside the session; the status says why.
            camera.Check(0, "memory read failed");
        }
        if (i % 16 == 0) std::printf("%s%04X:", i == 0 ? "" : "\n", address + i);
        std::printf(" %02X", byte & 0xFF);
    }
    std::printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"lumora: find, control and capture from Lumora M5XIR TEC cameras"};
    app.require_subcommand(1);
    Options options;
    app.add_option("--sim", options.sim, "use N simulated cameras instead of the USB bus")
        ->check(CLI::Range(0, 32));
    app.add_option("-d,--device", options.device, "device number (default: the only camera)");

    app.add_subcommand("list", "list the cameras present");
    app.add_subcommand("info", "model, serial number, sizes, ranges and temperature");

    SnapOptions snap;
    const auto addCaptureOptions = [&snap](CLI::App* command) {
        command->add_option("-b,--bits", snap.bits, "output bits per pixel")
            ->check(CLI::IsMember({8, 16}));
        command->add_option("-w,--window", snap.window, "capture window x,y,width,height")
            ->expected(4)
            ->delimiter(',');
        command->add_option("-e,--exposure", snap.exposure, "exposure in 0.1 ms units");
        command->add_option("--exposure-s", snap.exposureSec, "exposure in seconds");
        command->add_option("-g,--gain", snap.gain, "global gain");
        command->add_option("--subsample", snap.subsample, "0 full, 1 half resolution")
            ->check(CLI::IsMember({0, 1}));
        command->add_flag("--mirror-h", snap.mirrorH, "mirror horizontally");
        command->add_flag("--mirror-v", snap.mirrorV, "mirror vertically");
    };
    auto* snapCommand = app.add_subcommand("snap", "take one frame and save it");
    addCaptureOptions(snapCommand);
    snapCommand->add_option("files", snap.outputs, "files to write (.bmp .raw .jpg .png .tif)")
        ->required();

    bool watch = false;
    double interval = 1.0;
    auto* tempCommand = app.add_subcommand("temp", "read the sensor temperature");
    tempCommand->add_flag("--watch", watch, "keep reading");
    tempCommand->add_option("--interval", interval, "seconds between readings");

    std::string target;
    int address = 0;
    std::optional<int> value;
    auto* regCommand = app.add_subcommand("reg", "read or write a sensor or FPGA register");
    regCommand->add_option("target", target, "sensor or fpga")
        ->required()
        ->check(CLI::IsMember({"sensor", "fpga"}));
    regCommand->add_option("address", address, "register address")->required();
    regCommand->add_option("value", value, "value to write");

    int count = 16;
    bool serial = false;
    auto* eepromCommand = app.add_subcommand("eeprom", "read the configuration memory");
    eepromCommand->add_option("address", address, "first address");
    eepromCommand->add_option("-n,--count", count, "bytes to read");
    eepromCommand->add_flag("--serial", serial, "print the serial number");

    // Subcommands kept in files of their own add themselves here.
    CommandContext context{options, snap, addCaptureOptions};
    std::vector<CommandEntry> commands;
    commands.push_back(AddPreviewCommand(app, context));
    commands.push_back(AddDialogCommand(app, context));
    commands.push_back(AddDoctorCommand(app, context));
    commands.push_back(AddStreamCommand(app, context));
    commands.push_back(AddRecordCommand(app, context));

    CLI11_PARSE(app, argc, argv);
    try {
        for (const auto& entry : commands) {
            if (entry.command->parsed()) return entry.run();
        }
        if (app.got_subcommand("list")) return ListCommand(options);
        if (app.got_subcommand("info")) return InfoCommand(options);
        if (app.got_subcommand("snap")) return SnapCommand(options, snap);
        if (app.got_subcommand("temp")) return TempCommand(options, watch, interval);
        if (app.got_subcommand("reg")) return RegCommand(options, target, address, value);
        if (app.got_subcommand("eeprom")) return EepromCommand(options, address, count, serial);
    } catch (const CommandError& error) {
        std::fprintf(stderr, "lumora: %s (error %d: %s)\n", error.what.c_str(), error.code,
                     ErrorMeaning(error.code));
        return 1;
    }
    return 0;
}
