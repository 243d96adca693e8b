#include "imaging/RowBands.h"

#include <algorithm>

namespace lumora {

int RowBandPool::DefaultBands() {
    // One: the frame path is memory-bound, and on the two-processor machines it runs on a
    // second band cost 6-56% more CPU a frame and bought no wall time once other work shared
    // the processors (bench_stages measures both). Callers that want bands ask for them.
    return 1;
}

RowBandPool::RowBandPool(int bands) : bands_(std::clamp(bands, 1, 16)) {}

RowBandPool::~RowBandPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) {
        if (t.joinable()) t.join();
    }
}

std::vector<int> RowBandPool::Split(int rows, int count, int alignRows) {
    std::vector<int> starts(static_cast<size_t>(count) + 1);
    const int align = std::max(alignRows, 1);
    for (int i = 0; i < count; ++i) {
        const long long even = static_cast<long long>(rows) * i / count;
        starts[static_cast<size_t>(i)] = static_cast<int>(even / align * align);
    }
    starts[static_cast<size_t>(count)] = rows;
    return starts;
}

bool RowBandPool::StartWorkers() {
    if (!workers_.empty()) return true;
    try {
        for (int i = 0; i + 1 < bands_; ++i) workers_.emplace_back([this, i] { WorkerBody(i); });
    } catch (const std::system_error&) {
        // Whatever started serves; the remaining bands run on the caller.
    }
    return !workers_.empty();
}

void RowBandPool::Run(int rows, const std::function<void(int, int)>& body, int minRows,
                      int alignRows) {
    if (rows <= 0) return;
    std::lock_guard runLock(runMutex_);
    const int byRows = rows / std::max(minRows, 1);
    int count = std::clamp(byRows, 1, bands_);
    if (count > 1 && !StartWorkers()) count = 1;
    count = std::min(count, static_cast<int>(workers_.size()) + 1);
    if (count <= 1) {
        body(0, rows);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        jobStarts_ = Split(rows, count, alignRows);
        job_ = &body;
        jobBands_ = count;
        pending_ = count - 1;
        ++generation_;
    }
    wake_.notify_all();
    body(jobStarts_[0], jobStarts_[1]);
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
    job_ = nullptr;
}

void RowBandPool::WorkerBody(int index) {
    uint64_t seen = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
        if (stopping_) return;
        seen = generation_;
        const int band = index + 1;
        if (band >= jobBands_) continue;
        const std::function<void(int, int)>* job = job_;
        const int first = jobStarts_[static_cast<size_t>(band)];
        const int last = jobStarts_[static_cast<size_t>(band) + 1];
        lock.unlock();
        if (first < last) (*job)(first, last);
        lock.lock();
        if (--pending_ == 0) done_.notify_one();
    }
}

}  // namespace lumora
