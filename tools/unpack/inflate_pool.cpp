#include "inflate_pool.h"

#include "stream_inflater.h"

#include <cerrno>
#include <cstring>

namespace talve {
namespace unpack {
namespace {

// Enough queued files that no worker waits for the next to be created,
// few enough that open handles and memory stay small.
constexpr std::size_t kQueuedPerWorker = 4;

std::string systemReason() {
    return std::strerror(errno);
}

std::string damaged(const std::string& packedFile, std::size_t number, const archive::IndexedEntry& entry,
                    const std::string& problem) {
    return "damaged runtime archive in " + packedFile + ": entry " + std::to_string(number) + " (" +
           entry.header.path + "): " + problem;
}

} // namespace

struct InflatePool::Worker {
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> packed;
    StreamInflater inflater;
};

InflatePool::InflatePool(const std::string& packedFile, std::size_t workers) : packedFile_(packedFile) {
    for (std::size_t i = 0; i < workers; ++i) {
        // A thread the system refuses only means fewer of them.
        try {
            threads_.emplace_back([this] { work(); });
        } catch (...) {
            break;
        }
    }
    if (threads_.empty()) inline_.reset(new Worker());
    maxQueued_ = kQueuedPerWorker * (threads_.empty() ? 1 : threads_.size());
}

InflatePool::~InflatePool() {
    std::string ignored;
    finish(ignored);
}

void InflatePool::submit(Job job) {
    if (inline_) {
        runJob(*inline_, job);
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    jobDone_.wait(lock, [this] { return queue_.size() < maxQueued_; });
    queue_.push_back(std::move(job));
    jobReady_.notify_one();
}

void InflatePool::waitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    jobDone_.wait(lock, [this] { return queue_.empty() && running_ == 0; });
}

void InflatePool::recordFailure(std::size_t number, const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (firstFailure_ != 0 && firstFailure_ < number) return;
    firstFailure_ = number;
    failure_ = message;
}

bool InflatePool::failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return firstFailure_ != 0;
}

bool InflatePool::finish(std::string& error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    jobReady_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    if (firstFailure_ == 0) return true;
    error = failure_;
    return false;
}

void InflatePool::work() {
    Worker worker;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        jobReady_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        Job job = std::move(queue_.front());
        queue_.pop_front();
        // After a failure only what comes before it is still worth doing.
        const bool wanted = firstFailure_ == 0 || job.number < firstFailure_;
        ++running_;
        lock.unlock();
        if (wanted) runJob(worker, job);
        job.out.reset();
        lock.lock();
        --running_;
        jobDone_.notify_all();
    }
}

void InflatePool::runJob(Worker& worker, Job& job) {
    const archive::IndexedEntry& entry = *job.entry;
    std::string error;
    if (!worker.packed) {
        worker.packed.reset(openFile(packedFile_, "rb"));
        if (!worker.packed) error = "cannot open " + packedFile_ + ": " + systemReason();
    }
    if (error.empty() && !archive::seekTo(worker.packed.get(), entry.dataOffset)) {
        error = "cannot read " + packedFile_ + ": " + systemReason();
    }
    if (error.empty()) {
        std::uint64_t written = 0;
        std::uint32_t crc = 0;
        std::string problem;
        switch (worker.inflater.inflate(worker.packed.get(), entry.header.storedSize, *job.out,
                                        entry.header.originalSize, written, crc, problem)) {
        case StreamInflater::Result::Ok:
            if (written != entry.header.originalSize) {
                error = damaged(packedFile_, job.number, entry,
                                "data unpacks to " + std::to_string(written) + " bytes instead of " +
                                    std::to_string(entry.header.originalSize));
            } else if (crc != entry.header.dataCrc) {
                error = damaged(packedFile_, job.number, entry, "data checksum mismatch");
            }
            break;
        case StreamInflater::Result::ReadFailed:
            error = "cannot read " + packedFile_ + ": " + systemReason();
            break;
        case StreamInflater::Result::WriteFailed:
            error = "cannot write " + job.destination + ": " + systemReason();
            break;
        case StreamInflater::Result::Damaged:
            error = damaged(packedFile_, job.number, entry, problem);
            break;
        }
    }
    if (error.empty() && (entry.header.flags & archive::kFlagExecutable) != 0 && !job.out->markExecutable()) {
        error = "cannot make " + job.destination + " executable: " + systemReason();
    }
    if (error.empty() && !job.out->close()) error = "cannot write " + job.destination + ": " + systemReason();
    if (error.empty()) return;
    job.out.reset();
    removeFile(job.destination);
    recordFailure(job.number, error);
}

} // namespace unpack
} // namespace talve
