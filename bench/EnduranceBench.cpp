// Endurance on the simulated camera: what repeating the commonest cycles costs over time.
//   bench_endurance [cycles=1000] [stream-seconds=600]
// Prints resident memory, live heap, open descriptors and threads before and after each cycle
// run, the growth per 1000 cycles, and for a full-rate callback preview the frames the camera
// sent against the frames the application was told about.
//
// Resident memory alone cannot tell a leak from memory the allocator keeps for reuse: the live
// heap (what is allocated and not freed, from the allocator's own statistics) and the resident
// size after the allocator has handed its free memory back (malloc_trim) can.
#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "lumora/host.h"
#include "lumora/lumora.h"

namespace {

struct Usage {
    long residentKiB = 0;
    long liveHeapKiB = 0;  // allocated and not yet freed, arenas and mapped blocks
    int descriptors = 0;
    int threads = 0;
};

int CountEntries(const char* folder) {
    int count = 0;
    if (DIR* dir = ::opendir(folder)) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') ++count;
        }
        ::closedir(dir);
    }
    return count;
}

Usage Measure() {
    Usage u;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            u.residentKiB = std::strtol(line.c_str() + 6, nullptr, 10);
    }
    const struct mallinfo2 heap = ::mallinfo2();
    u.liveHeapKiB = static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
    u.descriptors = CountEntries("/proc/self/fd") - 1;  // the one reading the folder
    u.threads = CountEntries("/proc/self/task");
    return u;
}

// `after` is measured at the end of the run; the allocator is then asked to hand back what it
// keeps free and the resident size measured again at the same point. Without cycles (a single
// run) the figures are the plain differences.
void Report(const char* what, int cycles, const Usage& before, const Usage& after) {
    const double per1000 = cycles > 0 ? 1000.0 / cycles : 1.0;
    ::malloc_trim(0);
    const Usage trimmed = Measure();
    if (cycles > 0) {
        std::printf("%s: %d cycles (growth in brackets per 1000 cycles)\n", what, cycles);
    } else {
        std::printf("%s (growth in brackets over the whole run)\n", what);
    }
    std::printf("  resident  %8ld KiB -> %8ld KiB  (%+.1f KiB)\n", before.residentKiB,
                after.residentKiB, (after.residentKiB - before.residentKiB) * per1000);
    std::printf("  live heap %8ld KiB -> %8ld KiB  (%+.1f KiB)\n", before.liveHeapKiB,
                after.liveHeapKiB, (after.liveHeapKiB - before.liveHeapKiB) * per1000);
    std::printf("  resident after malloc_trim %8ld KiB  (%+.1f KiB)\n", trimmed.residentKiB,
                (trimmed.residentKiB - before.residentKiB) * per1000);
    std::printf("  fds       %8d     -> %8d      (%+.1f)\n", before.descriptors, after.descriptors,
                (after.descriptors - before.descriptors) * per1000);
    std::printf("  threads   %8d     -> %8d      (%+.1f)\n", before.threads, after.threads,
                (after.threads - before.threads) * per1000);
}

}  // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int streamSeconds = argc > 2 ? std::atoi(argv[2]) : 600;
    const auto home =
        std::filesystem::temp_directory_path() / ("lumora-endurance-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home);
    ::setenv("LUMORA_CONFIG_HOME", home.c_str(), 1);
    LumoraSim_SetCameraCount(1);

    // Warm up once so first-use allocations (tables, the device block) are not counted.
    {
        const int h = Lumora_Initialize(nullptr);
        Lumora_SetColorMode(h, 8);
        Lumora_StartPreview(h);
        Lumora_StopPreview(h);
        Lumora_Release(h);
    }

    LumoraSim_SetFastMode(1);
    if (cycles > 0) {
        const int h = Lumora_Initialize(nullptr);
        Lumora_SetColorMode(h, 8);
        // The first run allocates the frame buffers the session keeps until it is released.
        Lumora_StartPreview(h);
        Lumora_StopPreview(h);
        ::malloc_trim(0);
        const Usage before = Measure();
        int failed = 0;
        for (int i = 0; i < cycles; ++i) {
            if (Lumora_StartPreview(h) != 1) ++failed;
            Lumora_StopPreview(h);
        }
        const Usage after = Measure();
        Report("preview start/stop", cycles, before, after);
        Lumora_Release(h);
        std::printf("  failed starts: %d\n", failed);
    }
    if (cycles > 0) {
        ::malloc_trim(0);
        const Usage before = Measure();
        int failed = 0;
        for (int i = 0; i < cycles; ++i) {
            const int h = Lumora_Initialize(nullptr);
            if (h == 0 || Lumora_Width(h) == 0) ++failed;
            Lumora_Release(h);
        }
        const Usage after = Measure();
        Report("Initialize/Release", cycles, before, after);
        std::printf("  failed opens: %d\n", failed);
    }

    if (streamSeconds > 0) {
        // Full rate: frames come at the camera's own period, delivered by callback messages.
        LumoraSim_SetFastMode(0);
        const int h = Lumora_Initialize(nullptr);
        Lumora_SetColorMode(h, 8);
        HWND frames = LumoraHost_CreateQueueWindow();
        std::vector<unsigned char> buffer(2560 * 2048);
        const Usage before = Measure();
        if (Lumora_CallBackPreview(h, frames, buffer.data(), static_cast<int>(buffer.size()), 1) !=
            1) {
            std::printf("callback preview did not start (code %d)\n", Lumora_GetLastError(h));
            return 1;
        }
        long delivered = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(streamSeconds);
        LumoraHostMessage message{};
        while (std::chrono::steady_clock::now() < end) {
            if (LumoraHost_WaitMessage(frames, 200, &message) != 1) continue;
            if (message.message != LUMORA_MSG_FRAME || message.wParam == 0) continue;
            ++delivered;
        }
        LumoraStreamStats stats{};
        LumoraHost_GetStreamStats(h, &stats);
        Lumora_StopPreview(h);
        Lumora_Close(h);
        const Usage after = Measure();
        // The session's figures count every frame the camera numbered from the first one it
        // took; those it never delivered are the lost ones.
        const double minutes = streamSeconds / 60.0;
        const uint64_t lost = stats.framesSkipped + stats.framesFailed;
        std::printf("full-rate callback preview: %d s\n", streamSeconds);
        std::printf(
            "  frames sent %llu, delivered %llu (messages seen %ld), skipped %llu, "
            "failed %llu\n",
            static_cast<unsigned long long>(stats.framesSent),
            static_cast<unsigned long long>(stats.framesDelivered), delivered,
            static_cast<unsigned long long>(stats.framesSkipped),
            static_cast<unsigned long long>(stats.framesFailed));
        std::printf("  %.2f frames per second delivered, %.1f lost per minute (%.3f%%)\n",
                    static_cast<double>(stats.framesDelivered) / streamSeconds, lost / minutes,
                    stats.framesSent ? 100.0 * lost / stats.framesSent : 0.0);
        Report("  during the run", 0, before, after);
        LumoraHost_DestroyWindow(frames);
        Lumora_Release(h);
    }
    std::filesystem::remove_all(home);
    return 0;
}
