#pragma once
// One process's claim of a simulated camera, as the USB stack lets one process at a time claim
// a real camera's interface. Processes on the same simulated bus (LUMORA_SIM_BUS, "default"
// when unset) contend for a camera by its serial number. The claim is a local socket bound to
// an abstract name, so the system drops it when the process ends, however it ends; within one
// process every camera object of a serial number shares it.
//
// Threads: the process-wide table has its own lock; each object is used under its camera's.
#include <cstdint>
#include <string>

namespace lumora::sim {

class SimBusClaim {
public:
    explicit SimBusClaim(std::string serialNumber) : serialNumber_(std::move(serialNumber)) {}
    ~SimBusClaim() { Release(); }
    SimBusClaim(const SimBusClaim&) = delete;
    SimBusClaim& operator=(const SimBusClaim&) = delete;

    // True when this process holds the camera (now or already); false while another does.
    bool Acquire();
    void Release();
    bool Held() const { return held_; }

private:
    // Each system's half: the bus's name for a camera, taking that name (the system's handle of
    // the claim, or -1 while another process holds it) and letting it go.
    static std::string ClaimName(const std::string& bus, const std::string& serialNumber);
    static intptr_t Take(const std::string& name);
    static void Drop(intptr_t claim);

    std::string serialNumber_;
    std::string name_;  // the bus's name for the camera while held
    bool held_ = false;
};

}  // namespace lumora::sim
