// Every test program is a simulated bus of its own unless told otherwise (LUMORA_SIM_BUS): test
// programs run side by side, and each claims its simulated cameras as a process claims a real
// camera, so on one bus they would find each other's cameras busy.
#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

#include <cstdlib>
#include <string>

namespace {

const bool gPrivateBus = [] {
#if defined(_WIN32)
    const std::string bus = "test-" + std::to_string(::_getpid());
    if (std::getenv("LUMORA_SIM_BUS") != nullptr) return true;
    return ::_putenv_s("LUMORA_SIM_BUS", bus.c_str()) == 0;
#else
    const std::string bus = "test-" + std::to_string(::getpid());
    return ::setenv("LUMORA_SIM_BUS", bus.c_str(), 0) == 0;
#endif
}();

}  // namespace
