#pragma once
// Splits per-frame work into horizontal bands of rows and runs the bands in parallel: on the
// calling thread and on a few worker threads the pool owns. A stage split this way must give
// the same bytes as one pass over all rows; each band writes only its own rows.
//
// Threads: Run is called by one thread at a time (the frame pipeline under the capture lock);
// runMutex_ serialises stray concurrent callers. mutex_ guards the job, the generation and the
// counters the workers wait on; the workers live from the first Run that needs them until the
// pool is destroyed.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace lumora {

class RowBandPool {
public:
    // The band count the frame pipeline uses unless told otherwise: one.
    static int DefaultBands();

    // `bands` counts the calling thread too; 1 runs everything on the caller.
    explicit RowBandPool(int bands = DefaultBands());
    ~RowBandPool();
    RowBandPool(const RowBandPool&) = delete;
    RowBandPool& operator=(const RowBandPool&) = delete;

    int Bands() const { return bands_; }

    // Runs body(first, last) over contiguous bands covering rows [0, rows), each band at least
    // `minRows` rows (fewer bands for small images), and returns when all are done. Bands start
    // and end on multiples of `alignRows` (except the last end), for stages that work on row
    // pairs.
    void Run(int rows, const std::function<void(int first, int last)>& body, int minRows = 64,
             int alignRows = 1);

    // The band split Run uses: the first row of band i, for i = 0..count (the last is `rows`).
    static std::vector<int> Split(int rows, int count, int alignRows);

private:
    void WorkerBody(int index);
    bool StartWorkers();

    const int bands_;
    std::mutex runMutex_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<std::thread> workers_;
    bool stopping_ = false;
    uint64_t generation_ = 0;
    int pending_ = 0;
    // The current job: worker i runs band i + 1 when i + 1 < jobBands_.
    const std::function<void(int, int)>* job_ = nullptr;
    std::vector<int> jobStarts_;
    int jobBands_ = 0;
};

// Runs body over the whole range on the caller when there is no pool.
inline void RunRowBands(RowBandPool* pool, int rows, const std::function<void(int, int)>& body,
                        int minRows = 64, int alignRows = 1) {
    if (pool == nullptr || pool->Bands() <= 1) {
        if (rows > 0) body(0, rows);
        return;
    }
    pool->Run(rows, body, minRows, alignRows);
}

}  // namespace lumora
