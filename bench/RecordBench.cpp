// Recording at full size (2560 × 2048, 24-bit frames of 15.7 MB):
//   bench_record [folder=$TMPDIR or /tmp] [frames=64] [rounds=2]
// 1. Throughput: AviWriter appending the frames (with its index and the finished headers)
//    against a plain sequential write() of the same bytes to the same folder, each timed up to
//    a completed fsync so the page cache does not decide the figure. Rounds alternate; the best
//    of each is compared (goal: ratio >= 0.9).
// 2. CPU per frame the recorder adds: turning a 16-bit (12 significant bits) or an 8-bit output
//    image into the AVI frame, and the write call of the frame, against a memcpy of the 24-bit
//    frame (thread CPU time).
// Prints each figure and the ratios; the files are removed.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "imaging/ImageBuffer.h"
#include "io/AviWriter.h"

namespace {

using lumora::AviWriter;
using lumora::ImageBuffer;

constexpr int kWidth = 2560;
constexpr int kHeight = 2048;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double ThreadCpu() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool SyncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

struct Timing {
    double seconds = 0;
    double writeCpu = 0;  // thread CPU spent in the write calls
    uint64_t bytes = 0;
};

Timing WriteWithRecorder(const std::string& path, const std::vector<uint8_t>& frame, int frames) {
    Timing t;
    const double start = Now();
    AviWriter writer;
    if (!writer.Open(path.c_str(), kWidth, kHeight, static_cast<uint64_t>(frames))) {
        std::fprintf(stderr, "cannot create %s\n", path.c_str());
        std::exit(1);
    }
    for (int i = 0; i < frames; ++i) {
        const double cpu = ThreadCpu();
        if (writer.AddFrame(frame.data()) != AviWriter::AddResult::kAdded) {
            std::fprintf(stderr, "write failed in %s (disk full?)\n", path.c_str());
            std::exit(1);
        }
        t.writeCpu += ThreadCpu() - cpu;
    }
    writer.SetRate(3000);
    t.bytes = writer.BytesWritten();
    if (!writer.Finish() || !SyncFile(path)) std::exit(1);
    t.seconds = Now() - start;
    return t;
}

// The same bytes in the same pieces (one chunk header and frame per call), written plainly.
Timing WritePlainly(const std::string& path, const std::vector<uint8_t>& chunk, uint64_t bytes) {
    Timing t;
    const double start = Now();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) std::exit(1);
    uint64_t left = bytes;
    while (left > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, chunk.size()));
        const double cpu = ThreadCpu();
        size_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(fd, chunk.data() + done, n - done);
            if (w <= 0) std::exit(1);
            done += static_cast<size_t>(w);
        }
        t.writeCpu += ThreadCpu() - cpu;
        left -= n;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) std::exit(1);
    t.seconds = Now() - start;
    t.bytes = bytes;
    return t;
}

// Thread CPU seconds per call of `body`, the best of several batches.
template <typename Body>
double CpuPerCall(int calls, Body&& body) {
    double best = 1e9;
    for (int batch = 0; batch < 3; ++batch) {
        const double start = ThreadCpu();
        for (int i = 0; i < calls; ++i) body();
        best = std::min(best, (ThreadCpu() - start) / calls);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = argc > 1 ? argv[1] : (tmp != nullptr ? tmp : "/tmp");
    const int frames = argc > 2 ? std::max(1, std::atoi(argv[2])) : 64;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2;
    const uint64_t frameBytes = AviWriter::FrameBytes(kWidth, kHeight);
    std::vector<uint8_t> frame(frameBytes);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7 + i / 4096);

    const std::string aviPath = folder + "/bench_record_" + std::to_string(::getpid()) + ".avi";
    const std::string rawPath = folder + "/bench_record_" + std::to_string(::getpid()) + ".raw";
    std::vector<uint8_t> chunk(frameBytes + 8, 0x5A);
    Timing bestAvi{1e9, 0, 0};
    Timing bestRaw{1e9, 0, 0};
    for (int r = 0; r < rounds; ++r) {
        const Timing avi = WriteWithRecorder(aviPath, frame, frames);
        std::remove(aviPath.c_str());
        const Timing raw = WritePlainly(rawPath, chunk, avi.bytes);
        std::remove(rawPath.c_str());
        if (avi.seconds < bestAvi.seconds) bestAvi = avi;
        if (raw.seconds < bestRaw.seconds) bestRaw = raw;
    }
    const double aviRate = static_cast<double>(bestAvi.bytes) / bestAvi.seconds / 1e6;
    const double rawRate = static_cast<double>(bestRaw.bytes) / bestRaw.seconds / 1e6;
    std::printf("folder                  %s, %d frames of %llu bytes (%.2f GB), best of %d\n",
                folder.c_str(), frames, static_cast<unsigned long long>(frameBytes),
                static_cast<double>(bestAvi.bytes) / 1e9, rounds);
    std::printf("recorder (AviWriter)    %8.1f MB/s  %6.1f frames/s\n", aviRate,
                frames / bestAvi.seconds);
    std::printf("plain sequential write  %8.1f MB/s\n", rawRate);
    std::printf("throughput ratio        %8.3f  (recorder / plain; goal >= 0.9)\n",
                aviRate / rawRate);

    // CPU per frame.
    ImageBuffer gray16;
    ImageBuffer gray8;
    if (!gray16.Create(kWidth, kHeight, 16) || !gray8.Create(kWidth, kHeight, 8)) return 1;
    gray16.SetSignificantBits(12);
    for (int y = 0; y < kHeight; ++y) {
        auto* row16 = reinterpret_cast<uint16_t*>(gray16.Row(y));
        uint8_t* row8 = gray8.Row(y);
        for (int x = 0; x < kWidth; ++x) {
            row16[x] = static_cast<uint16_t>((x * 3 + y * 5) & 0x0FFF);
            row8[x] = static_cast<uint8_t>(x + y);
        }
    }
    std::vector<uint8_t> copy(frameBytes);
    const int calls = 8;
    const double memcpyCpu = CpuPerCall(calls, [&] {
        std::memcpy(copy.data(), frame.data(), frameBytes);
        asm volatile("" : : "r"(copy.data()) : "memory");
    });
    const double convert16 = CpuPerCall(calls, [&] { lumora::ToAviFrame(gray16, copy.data()); });
    const double convert8 = CpuPerCall(calls, [&] { lumora::ToAviFrame(gray8, copy.data()); });
    const double writeCpu = bestAvi.writeCpu / frames;
    const double plainCpu = bestRaw.writeCpu / frames;
    std::printf("memcpy of a 24-bit frame          %7.2f ms CPU\n", memcpyCpu * 1e3);
    std::printf("convert 16-bit frame              %7.2f ms CPU  ratio %.2f\n", convert16 * 1e3,
                convert16 / memcpyCpu);
    std::printf("convert 8-bit frame               %7.2f ms CPU  ratio %.2f\n", convert8 * 1e3,
                convert8 / memcpyCpu);
    std::printf("write call per frame (recorder)   %7.2f ms CPU  ratio %.2f\n", writeCpu * 1e3,
                writeCpu / memcpyCpu);
    std::printf("write call per frame (plain)      %7.2f ms CPU  ratio %.2f\n", plainCpu * 1e3,
                plainCpu / memcpyCpu);
    std::printf("recorder total, 16-bit frames     %7.2f ms CPU  ratio %.2f\n",
                (convert16 + writeCpu) * 1e3, (convert16 + writeCpu) / memcpyCpu);
    return 0;
}
