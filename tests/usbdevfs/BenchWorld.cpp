// The bench's world and its shared helpers.
#include "tests/usbdevfs/BenchWorld.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <future>

#include "port/LibusbPort.h"

namespace lumora::testing {
namespace {

// The cameras live as long as the process: umockdev's thread may answer a request of theirs
// until the very end, so they are never destroyed at exit.
std::vector<std::shared_ptr<EmulatedCamera>>& Cameras() {
    static auto* cameras = new std::vector<std::shared_ptr<EmulatedCamera>>;
    return *cameras;
}

}  // namespace

void BenchWorld::Start() {
    auto& bus = EmulatedBus::Instance();
    for (int i = 0; i < kBenchCameras; ++i) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "EMU%05d", i + 1);
        Cameras().push_back(bus.Plug(i + 1, serial));
    }
}

std::shared_ptr<EmulatedCamera> BenchWorld::Camera(int index) {
    return Cameras().at(static_cast<size_t>(index));
}

std::string BenchWorld::PathOf(int index) {
    const std::string instance = "#lu1-" + std::to_string(index + 1) + "#";
    for (const auto& path :
         platform::LibusbPort::Instance().EnumerateInterfaces(platform::kCameraInterfaceGuid)) {
        if (path.find(instance) != std::string::npos) return path;
    }
    return {};
}

void BenchWorld::Unplug(int index) {
    EmulatedBus::Instance().Unplug(Camera(index));
}

void BenchWorld::Replug(int index) {
    EmulatedBus::Instance().Replug(Camera(index));
}

bool IsHelperProcess() {
    const char* role = std::getenv("LUMORA_BENCH_HELPER");
    return role && *role;
}

void FinishesWithin(std::chrono::milliseconds limit, const char* what, std::function<void()> body) {
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    std::thread([body = std::move(body), done] {
        body();
        done->set_value();
    }).detach();
    if (finished.wait_for(limit) == std::future_status::ready) return;
    std::fprintf(stderr, "HANG: %s did not finish within %lld ms\n", what,
                 static_cast<long long>(limit.count()));
    ADD_FAILURE() << what << " hung";
    std::fflush(nullptr);
    std::_Exit(1);
}

bool WaitUntil(std::chrono::milliseconds limit, const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

HotplugRecorder::HotplugRecorder() {
    token_ =
        platform::SubscribeHotplug([this](platform::HotplugEvent event, const std::string& path) {
            std::lock_guard lock(mutex_);
            events_.emplace_back(event, path);
            changed_.notify_all();
        });
}

HotplugRecorder::~HotplugRecorder() {
    platform::UnsubscribeHotplug(token_);
}

int HotplugRecorder::Count(platform::HotplugEvent event, const std::string& path) {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& e : events_) n += e.first == event && e.second == path ? 1 : 0;
    return n;
}

bool HotplugRecorder::WaitFor(platform::HotplugEvent event, const std::string& path,
                              std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        for (const auto& e : events_) {
            if (e.first == event && e.second == path) return true;
        }
        return false;
    });
}

}  // namespace lumora::testing
