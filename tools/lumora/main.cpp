// lumora: the command-line face of the SDK. Everything here goes through the public C interface,
// exactly as an application would.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Command.h"
#include "Settings.h"

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
    if (count == 0) {
        std::printf(
            "(`lumora doctor` tells why; --sim 1 or LUMORA_SIM_CAMERAS=1 adds a simulated "
            "camera)\n");
    }
    Lumora_Release(handle);
    LumoraHost_DestroyWindow(events);
    return 0;
}

int InfoCommand(const Options& options) {
    Camera camera(options);
    const int h = camera.Handle();
    const int version = Lumora_GetDllVersion();
    char serial[64] = {};
    camera.Check(Lumora_ReadSerialNumberA(h, serial, sizeof serial),
                 "cannot read the serial number");
    const LUMORA_CAMERA_INFO& info = camera.Info();
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
    std::printf("settings         `lumora features`: every value, what it allows, what is kept\n");
    return 0;
}

int TempCommand(const Options& options, bool watch, double interval) {
    if (!(interval > 0) || interval > 86400) {
        throw UsageError{"--interval " + ShortNumber(interval) +
                         ": give the seconds between readings, above 0 and at most 86400"};
    }
    Camera camera(options);
    const int h = camera.Handle();
    std::optional<StopSignals> signals;
    if (watch) signals.emplace();
    do {
        int valid = 0;
        const double temperature = Lumora_GetTemperatureEx(h, &valid);
        if (valid == 0) throw CommandError{"cannot read the temperature", Lumora_GetLastError(h)};
        std::printf("%.2f degC\n", temperature);
        std::fflush(stdout);
        if (watch && signals->Wait(static_cast<int>(interval * 1000.0 + 0.5))) {
            return signals->ExitStatus();
        }
    } while (watch);
    return 0;
}

int RegCommand(const Options& options, const std::string& target, int64_t address,
               std::optional<int64_t> value) {
    const bool fpga = target == "fpga";
    const int64_t lastAddress = fpga ? 0xFF : 0xFFFF;
    char text[96];
    if (address < 0 || address > lastAddress) {
        std::snprintf(text, sizeof text, "%s register address %lld is outside 0x00 .. 0x%llX",
                      target.c_str(), static_cast<long long>(address),
                      static_cast<long long>(lastAddress));
        throw UsageError{text};
    }
    if (value && (*value < 0 || *value > 0xFF)) {
        std::snprintf(text, sizeof text,
                      "value %lld (0x%llX) does not fit the 8-bit register: 0x00 .. 0xFF",
                      static_cast<long long>(*value), static_cast<long long>(*value));
        throw UsageError{text};
    }
    Camera camera(options);
    const int h = camera.Handle();
    const int a = static_cast<int>(address);
    const int width = fpga ? 2 : 4;
    if (value) {
        const int v = static_cast<int>(*value);
        const int ok = fpga ? Lumora_Fpga_WriteRegister(h, a, v) : Lumora_WriteRegisterEx(h, a, v);
        camera.Check(ok, "register write failed");
        std::printf("%s[0x%0*X] := 0x%02X\n", target.c_str(), width, a, v);
        return 0;
    }
    int valid = 1;  // the FPGA read clears it only on failure
    const int read =
        fpga ? Lumora_Fpga_ReadRegister(h, a, &valid) : Lumora_ReadRegisterEx(h, a, &valid);
    camera.Check(valid, "register read failed");
    std::printf("%s[0x%0*X] = 0x%02X (%d)\n", target.c_str(), width, a, read, read);
    return 0;
}

int EepromCommand(const Options& options, int64_t address, int64_t count, bool serial) {
    if (address < 0 || address > 0xFFFF || count < 1 || address + count > 0x10000) {
        throw UsageError{
            "the configuration memory has addresses 0x0000 .. 0xFFFF: give a first "
            "address and a count (-n, at least 1) within them"};
    }
    Camera camera(options);
    const int h = camera.Handle();
    if (serial) {
        char text[64] = {};
        camera.Check(Lumora_ReadSerialNumberA(h, text, sizeof text),
                     "cannot read the serial number");
        std::printf("%s\n", text);
        return 0;
    }
    for (int64_t i = 0; i < count; ++i) {
        int valid = 0;
        const int at = static_cast<int>(address + i);
        const int byte = Lumora_ReadSromID(h, at, &valid);
        if (valid == 0) camera.Check(0, "memory read failed");
        if (i % 16 == 0) std::printf("%s%04X:", i == 0 ? "" : "\n", at);
        std::printf(" %02X", byte & 0xFF);
    }
    std::printf("\n");
    return 0;
}

std::string CommandNames(const CLI::App& app) {
    std::string names;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        names += (names.empty() ? "" : ", ") + command->get_name();
    }
    return names;
}

// A parse error in the command's words: what was wrong, the commands there are, exit 2.
int ReportParseError(const CLI::App& app, const CLI::ParseError& error) {
    std::string message = error.what();
    if (app.get_subcommands().empty()) {
        std::string unknown;
        for (const std::string& word : app.remaining()) {
            if (!word.empty() && word[0] != '-') {
                unknown = word;
                break;
            }
        }
        message = unknown.empty() ? "no command given" : "unknown command '" + unknown + "'";
        message += "; the commands are " + CommandNames(app);
    }
    std::fprintf(stderr, "lumora: %s\nRun `lumora --help` or `lumora COMMAND --help` for more.\n",
                 message.c_str());
    return kExitUsage;
}

std::string VersionText() {
    const int v = Lumora_GetDllVersion();
    char text[128];
    std::snprintf(text, sizeof text, "lumora %s (SDK library %d.%d.%d.%d)", LUMORA_VERSION,
                  (v >> 24) & 0xFF, (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "lumora: find, control and capture from Lumora M5XIR TEC cameras.\n"
        "Exit status: 0 done, 1 failed, 2 wrong arguments, 130 stopped by Ctrl-C "
        "(128 + the signal)."};
    app.require_subcommand(1);
    // The global options may also follow the command (lumora info --sim 1).
    app.fallthrough();
    app.set_version_flag("--version", VersionText(), "print the version and exit");
    Options options;
    app.add_option("--sim", options.sim, "use N simulated cameras instead of the USB bus")
        ->check(CLI::Range(0, 32));
    app.add_option("-d,--device", options.device, "device number (default: the only camera)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--profile", options.profile,
                   "apply the settings of a profile file (lumora save) for this command only");

    app.add_subcommand("list", "list the cameras present");
    app.add_subcommand("info", "model, serial number, sizes, ranges and temperature");

    CaptureOptions capture;
    const auto addCaptureOptions = [&capture](CLI::App* command) {
        command->add_option("-b,--bits", capture.bits, "output bits per pixel (8 or 16)")
            ->check(CLI::IsMember({8, 16}));
        command
            ->add_option("-w,--window", capture.window,
                         "capture window x,y,width,height (x, width in steps of 8; y, height 4)")
            ->expected(4)
            ->delimiter(',');
        command->add_option("-e,--exposure", capture.exposureTenths,
                            "exposure in 0.1 ms units (100 = 10 ms)");
        command->add_option("--exposure-ms", capture.exposureMs, "exposure in milliseconds");
        command->add_option("--exposure-s", capture.exposureSeconds, "exposure in seconds");
        command->add_option("-g,--gain", capture.gain, "global gain");
        command->add_option("--subsample", capture.subsample, "0 full, 1 half resolution")
            ->check(CLI::IsMember({0, 1}));
        command->add_flag_callback(
            "--mirror-h", [&capture] { capture.mirrorH = true; }, "mirror horizontally");
        command->add_flag_callback(
            "--no-mirror-h", [&capture] { capture.mirrorH = false; }, "do not mirror horizontally");
        command->add_flag_callback(
            "--mirror-v", [&capture] { capture.mirrorV = true; }, "mirror vertically");
        command->add_flag_callback(
            "--no-mirror-v", [&capture] { capture.mirrorV = false; }, "do not mirror vertically");
    };

    bool watch = false;
    double interval = 1.0;
    auto* tempCommand = app.add_subcommand("temp", "read the sensor temperature");
    tempCommand->add_flag("--watch", watch, "keep reading until Ctrl-C");
    tempCommand->add_option("--interval", interval, "seconds between readings (default 1)");

    std::string target;
    int64_t address = 0;
    std::optional<int64_t> value;
    auto* regCommand = app.add_subcommand("reg", "read or write a sensor or FPGA register");
    regCommand->add_option("target", target, "sensor or fpga")
        ->required()
        ->check(CLI::IsMember({"sensor", "fpga"}));
    regCommand->add_option("address", address, "register address (fpga 0x00..0xFF, sensor 16 bits)")
        ->required();
    regCommand->add_option("value", value, "value to write (0x00..0xFF)");

    int64_t count = 16;
    bool serial = false;
    auto* eepromCommand = app.add_subcommand("eeprom", "read the configuration memory");
    eepromCommand->add_option("address", address, "first address");
    eepromCommand->add_option("-n,--count", count, "bytes to read");
    eepromCommand->add_flag("--serial", serial, "print the serial number");

    // Subcommands kept in files of their own add themselves here.
    CommandContext context{options, capture, addCaptureOptions};
    std::vector<CommandEntry> commands;
    commands.push_back(AddSnapCommand(app, context));
    commands.push_back(AddStreamCommand(app, context));
    commands.push_back(AddRecordCommand(app, context));
    commands.push_back(AddPreviewCommand(app, context));
    for (CommandEntry& entry : AddSettingsCommands(app, context)) commands.push_back(entry);
    commands.push_back(AddDialogCommand(app, context));
    commands.push_back(AddDoctorCommand(app, context));

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return ReportParseError(app, e);
    }
    try {
        for (const auto& entry : commands) {
            if (entry.command->parsed()) return entry.run();
        }
        if (app.got_subcommand("list")) return ListCommand(options);
        if (app.got_subcommand("info")) return InfoCommand(options);
        if (app.got_subcommand("temp")) return TempCommand(options, watch, interval);
        if (app.got_subcommand("reg")) return RegCommand(options, target, address, value);
        if (app.got_subcommand("eeprom")) return EepromCommand(options, address, count, serial);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "lumora: %s\n", error.what.c_str());
        return kExitUsage;
    } catch (const CommandError& error) {
        if (error.code != ERR_NONE) {
            std::fprintf(stderr, "lumora: %s (error %d: %s)\n", error.what.c_str(), error.code,
                         ErrorMeaning(error.code));
        } else {
            std::fprintf(stderr, "lumora: %s\n", error.what.c_str());
        }
        return kExitFailure;
    }
    return 0;
}
