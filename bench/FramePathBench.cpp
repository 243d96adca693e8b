// The frame path's cost at the camera's own pace: for each setting, a callback preview of full
// frames on a real-time simulated camera, reporting the frames delivered against the frames the
// camera sent (from its frame counter), the frames sent but never delivered (the session's
// skipped figure, summed over the runs) and the library's own CPU time per delivered frame.
//
// The library's CPU time is the process's CPU time less what the simulated camera spent
// rendering frames and moving their bytes (it measures that on every thread that does it, the
// library's acquisition thread included) and less this program's main thread, which only
// sleeps. Drawing into an X server counts on the client side; the window rows print the local
// server's CPU time per frame beside it (the server found through the peer of a connection to it),
// as the server widens gray frames itself where it can. Each setting runs `--runs` times; min and
// median are printed.
//
// Usage: bench_frame_path [--seconds S] [--runs N] [--only SUBSTRING] [--exposure E]
// --exposure (in 0.1 ms) slows the camera, so the library's work per frame can be seen without
// the simulated camera rendering the next frame at the same time.
// The window rows need a display (scripts/measure-frame-path starts Xvfb when none is set).
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lumora/host.h"
#include "lumora/lumora.h"
#include "sim/SimCamera.h"

namespace {

constexpr int kWidth = 2560;
constexpr int kHeight = 2048;

struct Row {
    const char* name;
    int bits;
    bool window;
    bool processing;
};

constexpr Row kRows[] = {
    {"8-bit, defaults", 8, false, false},
    {"16-bit, defaults", 16, false, false},
    {"8-bit, full-size preview window", 8, true, false},
    {"16-bit, full-size preview window", 16, true, false},
    {"8-bit, flat field + dot filter + gamma + contrast + sharpness", 8, false, true},
    {"16-bit, same", 16, false, true},
    {"8-bit, all of that and a full-size window", 8, true, true},
    {"16-bit, all of that and a full-size window", 16, true, true},
};

double Nanoseconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

struct Tally {
    std::atomic<long> frames{0};
    std::atomic<long> errors{0};
};

void OnFrame(const LumoraHostMessage* message, void* user) {
    auto* tally = static_cast<Tally*>(user);
    if (message->message != LUMORA_MSG_FRAME) return;
    if (message->wParam != 0) {
        ++tally->frames;
    } else {
        ++tally->errors;
    }
}

struct Result {
    long delivered = 0;
    long sent = 0;
    long skipped = 0;  // sent by the camera in the window, never delivered
    double cpuMsPerFrame = 0;
    double serverMsPerFrame = -1;  // -1: no local server to ask
    bool ok = false;
};

// The process of a local display's server (DISPLAY ":N"), the peer of its socket; 0 otherwise.
pid_t DisplayServer() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || name[0] != ':') return 0;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "/tmp/.X11-unix/X%d",
                  std::atoi(name + 1));
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    ucred peer{};
    socklen_t size = sizeof peer;
    const bool known =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
    close(fd);
    return known ? peer.pid : 0;
}

// A process's user and system time so far, in ms (a clock tick's resolution); -1 unreadable.
double ProcessCpuMs(pid_t pid) {
    if (pid <= 0) return -1;
    FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (f == nullptr) return -1;
    char text[1024] = "";
    const size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    text[n] = '\0';
    // Fields after the command name, which may hold spaces: state is the third, utime the 14th.
    const char* rest = std::strrchr(text, ')');
    unsigned long user = 0;
    unsigned long system = 0;
    if (rest == nullptr ||
        std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user,
                    &system) != 2) {
        return -1;
    }
    return static_cast<double>(user + system) * 1e3 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void Check(int result, const char* what) {
    if (result == 0) {
        std::fprintf(stderr, "bench_frame_path: %s failed\n", what);
        std::exit(1);
    }
}

// References for the flat field: a dark frame at the shortest exposure and a bright one of an
// even target at the default exposure, as a calibrated camera has them.
void TakeReferences(int h, int bits) {
    std::vector<unsigned char> frame(static_cast<size_t>(kWidth) * kHeight * (bits / 8));
    const int exposure = Lumora_GetExposureTime(h, nullptr);
    Check(Lumora_SetExposureTime(h, 1), "short exposure");
    Check(Lumora_SnapShot(h, frame.data(), static_cast<int>(frame.size()), 1), "dark snapshot");
    Check(Lumora_UpdateMaskData(h, 0), "dark reference");
    Check(Lumora_SetExposureTime(h, exposure), "exposure");
    // A calibrated camera's bright reference is an even field; the scene's darker parts would
    // fall below the defect map's limit and be replaced in every frame.
    Check(LumoraSim_ShowFlatTarget(0, 1), "flat target");
    Check(Lumora_SnapShot(h, frame.data(), static_cast<int>(frame.size()), 1), "bright snapshot");
    Check(Lumora_UpdateMaskData(h, 1), "bright reference");
    Check(LumoraSim_ShowFlatTarget(0, 0), "scene");
}

Result RunOnce(const Row& row, double seconds, int exposure, const char* folder, pid_t server) {
    Result r;
    // Each run from the defaults: the last one's settings were saved as its session ended.
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const int h = Lumora_Initialize(nullptr);
    if (h == 0) return r;
    Check(Lumora_SetColorMode(h, row.bits), "colour mode");
    if (exposure > 0) Check(Lumora_SetExposureTime(h, exposure), "exposure");
    if (row.processing) {
        TakeReferences(h, row.bits);
        Lumora_Close(h);
        Check(Lumora_SetMaskFilter(h, 1), "flat field");
        Check(Lumora_SetDotFilter(h, 1), "dot filter");
        Check(Lumora_SetGamma(h, 140), "gamma");
        Check(Lumora_SetContrast(h, 20), "contrast");
        Check(Lumora_SetSharpness(h, 10), "sharpness");
    }
    if (row.window) Check(Lumora_SetPreviewWindow(h, nullptr, 0, 0, kWidth, kHeight), "window");
    std::vector<unsigned char> buffer(static_cast<size_t>(kWidth) * kHeight * (row.bits / 8));
    Tally tally;
    HWND frames = LumoraHost_CreateCallbackWindow(&OnFrame, &tally);
    Check(Lumora_CallBackPreview(h, frames, buffer.data(), static_cast<int>(buffer.size()), 1),
          "preview");
    // Past the start-up: the first frames pay for page faults and the window's first map.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));

    LumoraStreamStats before{};
    LumoraHost_GetStreamStats(h, &before);
    const long framesBefore = tally.frames.load();
    const double process0 = Nanoseconds(CLOCK_PROCESS_CPUTIME_ID);
    const double main0 = Nanoseconds(CLOCK_THREAD_CPUTIME_ID);
    const double sim0 = static_cast<double>(lumora::sim::SimCamera::CpuNanoseconds());
    const double server0 = row.window ? ProcessCpuMs(server) : -1;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double server1 = row.window ? ProcessCpuMs(server) : -1;
    const double process1 = Nanoseconds(CLOCK_PROCESS_CPUTIME_ID);
    const double main1 = Nanoseconds(CLOCK_THREAD_CPUTIME_ID);
    const double sim1 = static_cast<double>(lumora::sim::SimCamera::CpuNanoseconds());
    const long framesAfter = tally.frames.load();
    LumoraStreamStats after{};
    LumoraHost_GetStreamStats(h, &after);

    Lumora_StopPreview(h);
    Lumora_Close(h);
    LumoraHost_DestroyWindow(frames);
    Lumora_Release(h);

    // The session's own figures: frames the callbacks counted in the same window can differ by
    // one at its edges, as a frame taken before it may be announced after it.
    r.delivered = static_cast<long>(after.framesDelivered - before.framesDelivered);
    r.sent = static_cast<long>(after.framesSent - before.framesSent);
    r.skipped = static_cast<long>(after.framesSkipped - before.framesSkipped);
    const double sdkNs = (process1 - process0) - (main1 - main0) - (sim1 - sim0);
    const long announced = framesAfter - framesBefore;
    r.cpuMsPerFrame = announced > 0 ? sdkNs / 1e6 / static_cast<double>(announced) : 0;
    if (server0 >= 0 && server1 >= 0 && announced > 0) {
        r.serverMsPerFrame = (server1 - server0) / static_cast<double>(announced);
    }
    r.ok = tally.errors.load() == 0;
    return r;
}

// One memcpy of a frame whose source and destination are out of cache: the reference.
double ColdMemcpyMs(size_t bytes) {
    // Between two copies of the same pair, 512 MiB pass through the caches: a 32 MiB victim L3
    // keeps parts of a few tens of MiB, which made the 8-bit figure swing by half from run to run.
    constexpr size_t kTouchedBetween = size_t{512} << 20;
    const size_t kBuffers = std::max<size_t>(6, kTouchedBetween / (2 * bytes));
    std::vector<std::unique_ptr<unsigned char[]>> src, dst;
    for (size_t i = 0; i < kBuffers; ++i) {
        src.emplace_back(new unsigned char[bytes]);
        dst.emplace_back(new unsigned char[bytes]);
        std::memset(src.back().get(), static_cast<int>(i), bytes);
        std::memset(dst.back().get(), 0, bytes);
    }
    double best = 1e30;
    for (int round = 0; round < 5; ++round) {
        for (size_t i = 0; i < kBuffers; ++i) {
            const auto start = std::chrono::steady_clock::now();
            std::memcpy(dst[i].get(), src[i].get(), bytes);
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            best = std::min(best, ms);
        }
    }
    return best;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    int runs = 3;
    std::string only;
    int exposure = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--seconds") {
            seconds = std::atof(argv[i + 1]);
        } else if (flag == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (flag == "--only") {
            only = argv[i + 1];
        } else if (flag == "--exposure") {
            exposure = std::atoi(argv[i + 1]);
        }
    }
    const bool display = std::getenv("DISPLAY") != nullptr;
    // A settings folder of its own: every run starts from the defaults and leaves the user's
    // settings alone.
    char folder[] = "/tmp/lumora-frame-path-XXXXXX";
    if (::mkdtemp(folder) == nullptr) return 1;
    ::setenv("LUMORA_CONFIG_HOME", folder, 1);
    LumoraSim_SetFastMode(0);
    LumoraSim_SetCameraCount(1);

    const double cold8 = ColdMemcpyMs(static_cast<size_t>(kWidth) * kHeight);
    const double cold16 = ColdMemcpyMs(static_cast<size_t>(kWidth) * kHeight * 2);
    std::printf("cold memcpy of a frame: %.2f ms at 8 bits, %.2f ms at 16 bits\n", cold8, cold16);
    std::printf("%d runs of %.1f s per setting; min / median\n\n", runs, seconds);
    const pid_t server = display ? DisplayServer() : 0;
    std::printf(
        "| setting | delivered / sent by the camera | skipped | SDK's own CPU per frame | X "
        "server's CPU per frame |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const Row& row : kRows) {
        if (!only.empty() && std::string(row.name).find(only) == std::string::npos) continue;
        if (row.window && !display) {
            std::printf("| %s | no display | - | - | - |\n", row.name);
            continue;
        }
        std::vector<double> cpu;
        std::vector<double> serverCpu;
        std::string counts;  // delivered/sent of each run
        long skipped = 0;
        bool ok = true;
        for (int run = 0; run < runs; ++run) {
            const Result r = RunOnce(row, seconds, exposure, folder, server);
            ok = ok && r.ok;
            cpu.push_back(r.cpuMsPerFrame);
            if (r.serverMsPerFrame >= 0) serverCpu.push_back(r.serverMsPerFrame);
            skipped += r.skipped;
            counts += (counts.empty() ? "" : ", ") + std::to_string(r.delivered) + "/" +
                      std::to_string(r.sent);
        }
        const double cold = row.bits == 8 ? cold8 : cold16;
        const double minCpu = *std::min_element(cpu.begin(), cpu.end());
        const double median = Median(cpu);
        char serverText[64] = "-";
        if (!serverCpu.empty()) {
            std::snprintf(serverText, sizeof serverText, "%.2f / %.2f ms",
                          *std::min_element(serverCpu.begin(), serverCpu.end()), Median(serverCpu));
        }
        std::printf("| %s | %s%s | %ld | %.2f / %.2f ms = %.1fx / %.1fx cold memcpy | %s |\n",
                    row.name, counts.c_str(), ok ? "" : " (error messages)", skipped, minCpu,
                    median, minCpu / cold, median / cold, serverText);
        std::fflush(stdout);
    }
    LumoraSim_SetCameraCount(0);
    std::filesystem::remove_all(folder);
    return 0;
}
