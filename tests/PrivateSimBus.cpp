// Every test program is a simulated bus of its own unless told otherwise (LUMORA_SIM_BUS): test
// programs run side by side, and each claims its simulated cameras as a process claims a real
// camera, so on one bus they would find each other's cameras busy.
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

const bool gPrivateBus = [] {
    const std::string bus = "test-" + std::to_string(::getpid());
    return ::setenv("LUMORA_SIM_BUS", bus.c_str(), 0) == 0;
}();

}  // namespace
