// The subcommand that stands on the USB bus of a POSIX system (the libusb checks of `doctor`):
// on Windows it says it is not there yet and exits 1.
#include <cstdio>

#include "Command.h"

namespace lumora_cli {
namespace {

CommandEntry Unavailable(CLI::App& app, const char* name, const char* description) {
    auto* command = app.add_subcommand(name, description);
    command->allow_extras();
    return {command, [name] {
                std::fprintf(stderr, "lumora %s: not available in the Windows build yet\n", name);
                return kExitFailure;
            }};
}

}  // namespace

CommandEntry AddDoctorCommand(CLI::App& app, CommandContext&) {
    return Unavailable(app, "doctor", "the USB checks for a real camera (not in this build)");
}

}  // namespace lumora_cli
