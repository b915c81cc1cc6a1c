#pragma once

#include "archive_reader.h"
#include "native.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace talve {
namespace unpack {

// Inflates the files of a runtime on all cores. Every entry carries its own
// zlib stream and checksum, so files are independent once created: the
// caller creates each one in archive order and hands it over here, and the
// workers fill, check and close them, each reading the packed file through
// a handle of its own.
//
// Failures are kept by entry number. Once one is known, entries after it
// are skipped but those before it still finish, so the failure reported is
// always the first in archive order, however the work was shared out.
class InflatePool {
public:
    struct Job {
        std::size_t number = 0;
        const archive::IndexedEntry* entry = nullptr;
        std::string destination;
        std::unique_ptr<OutputFile> out;
    };

    // `workers` threads at most; with none to be had, jobs run on the
    // submitting thread.
    InflatePool(const std::string& packedFile, std::size_t workers);
    ~InflatePool();
    InflatePool(const InflatePool&) = delete;
    InflatePool& operator=(const InflatePool&) = delete;

    // Waits while the workers have enough queued.
    void submit(Job job);
    // Waits until every file handed over is complete.
    void waitIdle();
    void recordFailure(std::size_t number, const std::string& message);
    bool failed();
    // Waits for every job, stops the workers and gives the first failure.
    bool finish(std::string& error);

private:
    struct Worker;
    void work();
    void runJob(Worker& worker, Job& job);

    std::string packedFile_;
    std::vector<std::thread> threads_;
    std::unique_ptr<Worker> inline_;
    std::mutex mutex_;
    std::condition_variable jobReady_;
    std::condition_variable jobDone_;
    std::deque<Job> queue_;
    std::size_t maxQueued_ = 0;
    std::size_t running_ = 0;
    bool stopping_ = false;
    std::size_t firstFailure_ = 0; // entry number; 0 while all is well
    std::string failure_;
};

} // namespace unpack
} // namespace talve
