// The viewer's CPU per frame at the camera's full rate with full-size frames: lumora-viewer's
// window on a real-time simulated camera, 2560 x 2048 at 8 and at 16 bits, the picture fitted
// to the window and at 1:1. For each setting it reports the camera's frame rate, the frames
// the display drew, the share of the session's frames the display skipped (and the share the
// session itself skipped), and CPU time per drawn frame: the whole process's, and within it
// the viewer's two threads: the feed (copy out of the session, histogram, measurements) and
// GTK's (picture, plots, labels, drawing into the X server's connection). The rest of the
// process is the SDK's threads and the simulated camera making its frames (a real camera makes
// them in its own hardware); the X server is another process. Each setting runs `--runs`
// times; min and median are printed.
//
// Usage: bench_viewer [--seconds S] [--runs N] [--exposure MS]
// Needs a display: xvfb-run -a -s "-screen 0 1600x1000x24" build/bench/bench_viewer
#include <dirent.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ViewerWindow.h"
#include "Widgets.h"

namespace {

using lumora_viewer::RunMode;
using lumora_viewer::SensorWindow;
using lumora_viewer::ViewerOptions;
using lumora_viewer::ViewerWindow;

struct Row {
    const char* name;
    int bits;
    bool actualSize;
};

constexpr Row kRows[] = {
    {"8-bit, fit to the window", 8, false},
    {"16-bit, fit to the window", 16, false},
    {"8-bit, 1:1", 8, true},
    {"16-bit, 1:1", 16, true},
};

// CPU nanoseconds of this process's thread named `name` (from the scheduler's own count).
double ThreadCpuNs(const char* name) {
    double total = 0;
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) return 0;
    while (dirent* e = ::readdir(tasks)) {
        if (e->d_name[0] == '.') continue;
        const std::string dir = std::string("/proc/self/task/") + e->d_name;
        std::ifstream comm(dir + "/comm");
        std::string threadName;
        std::getline(comm, threadName);
        if (threadName != name) continue;
        std::ifstream sched(dir + "/schedstat");
        double ns = 0;
        sched >> ns;
        total += ns;
    }
    ::closedir(tasks);
    return total;
}

double MainThreadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

struct Result {
    double cameraFps = 0;
    double drawnFps = 0;
    double displaySkipped = 0;  // share of the session's delivered frames the display skipped
    double sessionSkipped = 0;  // share of the camera's frames the session skipped
    // CPU milliseconds per drawn frame
    double processMs = 0;
    double feedMs = 0;
    double gtkMs = 0;
};

void Pump(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) g_main_context_iteration(nullptr, TRUE);
}

double ProcessCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

Result Measure(const Row& row, double seconds, double exposureMs) {
    ViewerOptions options;
    options.sim = 1;
    ViewerWindow viewer(options);
    gtk_window_resize(GTK_WINDOW(viewer.Window()), 1280, 800);
    gtk_widget_show(viewer.Window());
    auto& camera = viewer.Camera();
    camera.SetBits(row.bits);
    camera.SetWindow(SensorWindow{});
    camera.SetExposureMs(exposureMs);
    if (camera.Mode() == RunMode::kStopped) camera.Start(RunMode::kFreeRunning);
    if (row.actualSize) {
        GtkWidget* button = lumora_viewer::FindNamed(viewer.Window(), "zoom-actual");
        gtk_button_clicked(GTK_BUTTON(button));
    }
    Pump(2.0);  // warm: the pool, the surfaces, the first layouts

    const auto sdk0 = camera.StreamStats();
    const uint64_t drawn0 = viewer.FramesDrawn();
    const double processCpu0 = ProcessCpuNs();
    const double feedCpu0 = ThreadCpuNs("lumora-feed");
    const double gtkCpu0 = MainThreadCpuNs();
    const auto t0 = std::chrono::steady_clock::now();
    Pump(seconds);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double processCpu = ProcessCpuNs() - processCpu0;
    const double feedCpu = ThreadCpuNs("lumora-feed") - feedCpu0;
    const double gtkCpu = MainThreadCpuNs() - gtkCpu0;
    const auto sdk = camera.StreamStats();
    const double drawn = static_cast<double>(viewer.FramesDrawn() - drawn0);

    Result r;
    const double sent = static_cast<double>(sdk.framesSent - sdk0.framesSent);
    const double delivered = static_cast<double>(sdk.framesDelivered - sdk0.framesDelivered);
    r.cameraFps = sent / elapsed;
    r.drawnFps = drawn / elapsed;
    r.displaySkipped = delivered > 0 ? std::max(0.0, 1.0 - drawn / delivered) : 0;
    r.sessionSkipped = sent > 0 ? 1.0 - delivered / sent : 0;
    if (drawn > 0) {
        r.processMs = processCpu / drawn / 1e6;
        r.feedMs = feedCpu / drawn / 1e6;
        r.gtkMs = gtkCpu / drawn / 1e6;
    }
    return r;
}

template <typename F>
double MinOf(const std::vector<Result>& rs, F field) {
    double m = field(rs.front());
    for (const Result& r : rs) m = std::min(m, field(r));
    return m;
}

template <typename F>
double MedianOf(const std::vector<Result>& rs, F field) {
    std::vector<double> v;
    for (const Result& r : rs) v.push_back(field(r));
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    int runs = 3;
    double exposureMs = 1.0;  // short: the camera runs at its readout rate
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--exposure") == 0) exposureMs = std::atof(argv[i + 1]);
    }
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "bench_viewer needs a display (try xvfb-run -a)\n");
        return 1;
    }
    const auto home = std::filesystem::temp_directory_path() /
                      ("lumora-bench-viewer-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home);
    ::setenv("LUMORA_CONFIG_HOME", home.c_str(), 1);
    LumoraSim_SetFastMode(0);

    std::printf("%d runs of %.0f s per setting, exposure %.1f ms; CPU ms per drawn frame, "
                "min / median\n",
                runs, seconds, exposureMs);
    std::printf("%-26s %8s %7s %9s %9s %13s %13s %13s %13s\n", "setting", "camera/s",
                "drawn/s", "skip:disp", "skip:sess", "process", "viewer", "feed", "GTK");
    for (const Row& row : kRows) {
        std::vector<Result> results;
        for (int run = 0; run < runs; ++run) results.push_back(Measure(row, seconds, exposureMs));
        const auto process = [](const Result& r) { return r.processMs; };
        const auto viewer = [](const Result& r) { return r.feedMs + r.gtkMs; };
        const auto feed = [](const Result& r) { return r.feedMs; };
        const auto gtk = [](const Result& r) { return r.gtkMs; };
        std::printf(
            "%-26s %8.1f %7.1f %8.0f%% %8.0f%% %5.2f / %5.2f %5.2f / %5.2f %5.2f / %5.2f "
            "%5.2f / %5.2f\n",
            row.name, MedianOf(results, [](const Result& r) { return r.cameraFps; }),
            MedianOf(results, [](const Result& r) { return r.drawnFps; }),
            100 * MedianOf(results, [](const Result& r) { return r.displaySkipped; }),
            100 * MedianOf(results, [](const Result& r) { return r.sessionSkipped; }),
            MinOf(results, process), MedianOf(results, process), MinOf(results, viewer),
            MedianOf(results, viewer), MinOf(results, feed), MedianOf(results, feed),
            MinOf(results, gtk), MedianOf(results, gtk));
        std::fflush(stdout);
    }
    std::filesystem::remove_all(home);
    return 0;
}
