// On Windows the claim is a named kernel object of the session: the first process to create it
// holds the camera, and the system drops it with the last handle, however the process ends.
#include "sim/SimBusClaim.h"

#include <string>

#include "platform/Win32Api.h"

namespace lumora::sim {

std::string SimBusClaim::ClaimName(const std::string& bus, const std::string& serialNumber) {
    // Kernel object names take no backslash after the namespace's.
    std::string name = "Local\\lumora-sim/" + bus + "/" + serialNumber;
    for (size_t i = 6; i < name.size(); ++i) {
        if (name[i] == '\\') name[i] = '/';
    }
    return name;
}

// The object named `name`, or -1 when another process has it.
intptr_t SimBusClaim::Take(const std::string& name) {
    HANDLE object = ::CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    if (object == nullptr) return -1;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(object);
        return -1;
    }
    return reinterpret_cast<intptr_t>(object);
}

void SimBusClaim::Drop(intptr_t claim) {
    ::CloseHandle(reinterpret_cast<HANDLE>(claim));
}

}  // namespace lumora::sim
