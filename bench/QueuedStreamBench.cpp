// Every frame against the newest frame: a full-size run from a real-time simulated camera
// (2560 × 2048, 8 or 16 bits) for a given time, either through the every-frame queue with a
// consumer that gives each buffer straight back, or through today's newest-frame callback
// preview. Reports frames delivered, skipped and dropped, whether the queued counters were
// consecutive, and the process's CPU time per frame delivered (the simulated camera renders in
// this process too, so compare the two modes, not the absolute figure). At each counter gap it
// says what the acquisition thread did over the frames before it (time on a CPU, time waiting
// for one, time asleep) and the process's page faults and involuntary switches, so a stall can
// be told from a cost of the library's own.
//
//   build/bench/bench_queued_stream [seconds (60)] [8|16 (8)] [queued|newest (queued)] [queue (8)]
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lumora/host.h"
#include "lumora/lumora.h"

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// What the process and its acquisition thread had done when a frame arrived.
struct Sample {
    int64_t arrivalNs = 0;
    uint64_t runNs = 0;   // the acquisition thread on a CPU
    uint64_t waitNs = 0;  // the acquisition thread ready but waiting for a CPU
    long minorFaults = 0;
    long majorFaults = 0;
    long involuntary = 0;
};

// The id of the library's acquisition thread, 0 while there is none.
std::string AcquisitionTask() {
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "lumora-acquire")
            return task.path().filename().string();
    }
    return {};
}

Sample Take(const std::string& task, int64_t arrivalNs) {
    Sample sample;
    sample.arrivalNs = arrivalNs;
    if (!task.empty()) {
        std::ifstream schedstat("/proc/self/task/" + task + "/schedstat");
        schedstat >> sample.runNs >> sample.waitNs;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    sample.minorFaults = usage.ru_minflt;
    sample.majorFaults = usage.ru_majflt;
    sample.involuntary = usage.ru_nivcsw;
    return sample;
}

void TellGap(const std::vector<Sample>& recent, size_t newest) {
    const size_t n = recent.size();
    for (size_t back = n - 1; back >= 1; --back) {
        const Sample& a = recent[(newest + n - back) % n];
        const Sample& b = recent[(newest + n - back + 1) % n];
        if (a.arrivalNs == 0) continue;
        const double wall = (b.arrivalNs - a.arrivalNs) / 1e6;
        const double run = static_cast<double>(b.runNs - a.runNs) / 1e6;
        const double wait = static_cast<double>(b.waitNs - a.waitNs) / 1e6;
        std::fprintf(stderr,
                     "  frame -%zu: %6.1f ms apart; acquisition thread %5.1f ms on a CPU, %5.1f ms "
                     "waiting for one, %5.1f ms asleep; faults %ld minor %ld major; %ld involuntary "
                     "switches\n",
                     back - 1, wall, run, wait, wall - run - wait, b.minorFaults - a.minorFaults,
                     b.majorFaults - a.majorFaults, b.involuntary - a.involuntary);
    }
}

void CountFrame(const LumoraHostMessage* message, void* user) {
    if (message->message == LUMORA_MSG_FRAME && message->wParam != 0)
        ++*static_cast<std::atomic<long>*>(user);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const int bits = argc > 2 ? std::atoi(argv[2]) : 8;
    const bool queued = argc > 3 ? std::strcmp(argv[3], "newest") != 0 : true;
    const int queueLength = argc > 4 ? std::atoi(argv[4]) : 8;
    if (seconds <= 0 || (bits != 8 && bits != 16) || queueLength < 1) {
        std::fprintf(stderr, "usage: %s [seconds] [8|16] [queued|newest] [queue]\n", argv[0]);
        return 2;
    }
    LumoraSim_SetFastMode(0);
    if (LumoraSim_GetCameraCount() == 0) LumoraSim_SetCameraCount(1);
    const int h = Lumora_Initialize(nullptr);
    if (h == 0 || Lumora_SetColorMode(h, bits) != 1 ||
        Lumora_SetCaptureWindow(h, 2560, 2048) != 1 || Lumora_SetExposureTimeEx(h, 0.001) != 1) {
        std::fprintf(stderr, "cannot open and set up the simulated camera\n");
        return 1;
    }
    std::vector<unsigned char> buffer(size_t{2560} * 2048 * (bits / 8));
    std::atomic<long> announced{0};
    HWND window = LumoraHost_CreateCallbackWindow(&CountFrame, &announced);
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    const int started = queued ? LumoraHost_StartQueuedPreview(h, queueLength, nullptr, 0, 1)
                               : Lumora_CallBackPreview(h, window, buffer.data(),
                                                        static_cast<int>(buffer.size()), 1);
    if (started != 1) {
        std::fprintf(stderr, "cannot start the run\n");
        return 1;
    }
    long delivered = 0;
    long gaps = 0;
    uint64_t dropped = 0;
    uint32_t lastCounter = 0;
    std::string task;
    std::vector<Sample> recent(5);
    size_t newest = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (!queued) {
            LumoraHostMessage message{};
            LumoraHost_WaitThreadMessage(100, &message);
            continue;
        }
        LumoraQueuedFrame frame{};
        const int got = LumoraHost_WaitQueuedFrame(h, 100, &frame);
        if (got < 0) break;
        if (got == 0) continue;
        if (task.empty()) task = AcquisitionTask();
        newest = (newest + 1) % recent.size();
        recent[newest] = Take(task, frame.meta.arrivalNs);
        if (delivered > 0 && ((frame.meta.frameCounter - lastCounter) & 0xFF) != 1 &&
            ++gaps <= 10) {
            // Where the gaps fall tells a cost at the start of a run from one in its course.
            std::fprintf(stderr,
                         "gap after frame %ld: counter %u then %u; the time up to each frame "
                         "(0: the first after the gap):\n",
                         delivered, lastCounter, frame.meta.frameCounter);
            TellGap(recent, newest);
        }
        lastCounter = frame.meta.frameCounter;
        dropped += frame.droppedBefore;
        ++delivered;
        LumoraHost_ReleaseQueuedFrame(h, frame.index, nullptr);
    }
    Lumora_StopPreview(h);
    const double cpu = CpuSeconds() - cpuStart;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    LumoraStreamStats stats{};
    LumoraHost_GetStreamStats(h, &stats);
    if (queued) LumoraHost_GetQueuedDrops(h, &dropped);
    if (!queued) delivered = announced.load();
    Lumora_Release(h);
    LumoraHost_DestroyWindow(window);
    std::printf("mode %s, %d bits, %.1f s\n", queued ? "queued" : "newest", bits, wall);
    std::printf("frames delivered %ld (%.1f fps)\n", delivered, delivered / wall);
    std::printf("frames sent      %llu\n", static_cast<unsigned long long>(stats.framesSent));
    std::printf("frames skipped   %llu (of which dropped for a full queue %llu)\n",
                static_cast<unsigned long long>(stats.framesSkipped),
                static_cast<unsigned long long>(dropped));
    std::printf("frames failed    %llu\n", static_cast<unsigned long long>(stats.framesFailed));
    if (queued) std::printf("counter gaps     %ld\n", gaps);
    std::printf("CPU per frame    %.2f ms (process, camera simulation included)\n",
                delivered > 0 ? 1000.0 * cpu / delivered : 0.0);
    return 0;
}
