#include "inflate_pool.h"

#include "stream_inflater.h"
#include "zstd_frame_decoder.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>

namespace talve {
namespace unpack {
namespace {

// Enough files open that no worker waits for the next to be created, few
// enough that handles and reserved space stay small.
constexpr std::size_t kOpenFilesPerWorker = 4;

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
    FrameDecoder frames;
};

struct InflatePool::FileWork {
    std::size_t number = 0;
    const archive::IndexedEntry* entry = nullptr;
    std::string destination;
    std::unique_ptr<OutputFile> out;
    std::vector<std::uint64_t> frameOffsets;
    std::vector<std::uint32_t> frameCrcs;
    std::size_t piecesLeft = 0;
    std::size_t writers = 0; // workers on one of its pieces now
    std::string error; // the first piece's failure
};

InflatePool::InflatePool(const std::string& packedFile, std::size_t workers) : packedFile_(packedFile) {
    for (std::size_t i = 0; i < workers; ++i) {
        // A thread the system refuses only means fewer of them.
        std::uintptr_t thread = 0;
        if (!startThread(&InflatePool::workerMain, this, thread)) break;
        threads_.push_back(thread);
    }
    if (threads_.empty()) inline_.reset(new Worker());
    maxOpenFiles_ = kOpenFilesPerWorker * (threads_.empty() ? 1 : threads_.size());
}

InflatePool::~InflatePool() {
    std::string ignored;
    finish(ignored);
}

void InflatePool::submit(Job job) {
    const archive::IndexedEntry& entry = *job.entry;
    auto* file = new FileWork();
    file->number = job.number;
    file->entry = job.entry;
    file->destination = std::move(job.destination);
    file->out = std::move(job.out);
    if (entry.header.codec == archive::Codec::Zstd) {
        std::uint64_t offset = entry.firstFrameOffset;
        for (std::uint32_t size : entry.frameSizes) {
            file->frameOffsets.push_back(offset);
            offset += size;
        }
        file->frameCrcs.resize(entry.frameSizes.size());
    }
    const std::size_t pieces = file->frameOffsets.empty() ? 1 : file->frameOffsets.size();
    file->piecesLeft = pieces;
    {
        MonitorLock lock(monitor_);
        while (!inline_ && openFiles_ >= maxOpenFiles_) monitor_.wait();
        ++openFiles_;
        if (!inline_) {
            for (std::size_t frame = 0; frame < pieces; ++frame) queue_.push_back(Piece{file, frame});
            monitor_.notifyAll();
            return;
        }
    }
    for (std::size_t frame = 0; frame < pieces; ++frame) runPiece(*inline_, Piece{file, frame});
}

void InflatePool::waitIdle() {
    MonitorLock lock(monitor_);
    while (openFiles_ != 0) monitor_.wait();
}

void InflatePool::recordFailure(std::size_t number, const std::string& message) {
    MonitorLock lock(monitor_);
    if (firstFailure_ != 0 && firstFailure_ < number) return;
    firstFailure_ = number;
    failure_ = message;
}

bool InflatePool::failed() {
    MonitorLock lock(monitor_);
    return firstFailure_ != 0;
}

bool InflatePool::finish(std::string& error) {
    {
        MonitorLock lock(monitor_);
        stopping_ = true;
        monitor_.notifyAll();
    }
    for (std::uintptr_t thread : threads_) joinThread(thread);
    threads_.clear();
    if (firstFailure_ == 0) return true;
    error = failure_;
    return false;
}

void InflatePool::workerMain(void* pool) {
    static_cast<InflatePool*>(pool)->work();
}

void InflatePool::work() {
    Worker worker;
    monitor_.lock();
    for (;;) {
        while (!stopping_ && queue_.empty()) monitor_.wait();
        if (queue_.empty()) break;
        // Two workers writing frames of one file take turns on its lock in
        // the kernel and spin there: a piece of another file comes first.
        auto next = queue_.begin();
        while (next != queue_.end() && next->file->writers != 0) ++next;
        if (next == queue_.end()) next = queue_.begin();
        const Piece piece = *next;
        queue_.erase(next);
        ++piece.file->writers;
        monitor_.unlock();
        runPiece(worker, piece);
        monitor_.lock();
    }
    monitor_.unlock();
}

void InflatePool::runPiece(Worker& worker, const Piece& piece) {
    FileWork& file = *piece.file;
    bool wanted = false;
    {
        MonitorLock lock(monitor_);
        // After a failure only what comes before it is still worth doing.
        wanted = file.error.empty() && (firstFailure_ == 0 || file.number < firstFailure_);
    }
    std::string error;
    if (wanted && !worker.packed) {
        worker.packed.reset(openFile(packedFile_, "rb"));
        if (!worker.packed) error = "cannot open " + packedFile_ + ": " + systemReason();
    }
    if (wanted && error.empty()) {
        error = file.frameOffsets.empty() ? inflateWhole(worker, file) : unpackFrame(worker, file, piece.frame);
    }
    bool last = false;
    {
        MonitorLock lock(monitor_);
        if (!error.empty() && file.error.empty()) file.error = error;
        if (!wanted && file.error.empty()) file.error = "skipped";
        if (file.writers != 0) --file.writers;
        last = --file.piecesLeft == 0;
    }
    if (!last) return;
    completeFile(file);
    delete &file;
    MonitorLock lock(monitor_);
    --openFiles_;
    monitor_.notifyAll();
}

void InflatePool::completeFile(FileWork& file) {
    const archive::IndexedEntry& entry = *file.entry;
    std::string error = file.error;
    if (error.empty() && !file.frameOffsets.empty()) {
        uLong crc = file.frameCrcs[0];
        std::uint64_t left = entry.header.originalSize;
        for (std::size_t frame = 1; frame < file.frameCrcs.size(); ++frame) {
            left -= archive::kZstdFrameSize;
            const std::uint64_t size = left < archive::kZstdFrameSize ? left : archive::kZstdFrameSize;
            crc = crc32_combine(crc, file.frameCrcs[frame], static_cast<z_off_t>(size));
        }
        if (crc != entry.header.dataCrc) error = damaged(packedFile_, file.number, entry, "data checksum mismatch");
    }
    if (error.empty() && (entry.header.flags & archive::kFlagExecutable) != 0 && !file.out->markExecutable()) {
        error = "cannot make " + file.destination + " executable: " + systemReason();
    }
    if (error.empty() && !file.out->close()) error = "cannot write " + file.destination + ": " + systemReason();
    if (error.empty()) return;
    file.out.reset();
    removeFile(file.destination);
    if (error != "skipped") recordFailure(file.number, error);
}

std::string InflatePool::inflateWhole(Worker& worker, FileWork& file) {
    const archive::IndexedEntry& entry = *file.entry;
    if (!archive::seekTo(worker.packed.get(), entry.dataOffset)) return "cannot read " + packedFile_ + ": " + systemReason();
    std::uint64_t written = 0;
    std::uint32_t crc = 0;
    std::string problem;
    switch (worker.inflater.inflate(worker.packed.get(), entry.header.storedSize, *file.out,
                                    entry.header.originalSize, written, crc, problem)) {
    case StreamInflater::Result::Ok:
        if (written != entry.header.originalSize) {
            return damaged(packedFile_, file.number, entry,
                           "data unpacks to " + std::to_string(written) + " bytes instead of " +
                               std::to_string(entry.header.originalSize));
        }
        if (crc != entry.header.dataCrc) return damaged(packedFile_, file.number, entry, "data checksum mismatch");
        return std::string();
    case StreamInflater::Result::ReadFailed:
        return "cannot read " + packedFile_ + ": " + systemReason();
    case StreamInflater::Result::WriteFailed:
        return "cannot write " + file.destination + ": " + systemReason();
    case StreamInflater::Result::Damaged:
        break;
    }
    return damaged(packedFile_, file.number, entry, problem);
}

std::string InflatePool::unpackFrame(Worker& worker, FileWork& file, std::size_t frame) {
    const archive::IndexedEntry& entry = *file.entry;
    if (!archive::seekTo(worker.packed.get(), file.frameOffsets[frame])) {
        return "cannot read " + packedFile_ + ": " + systemReason();
    }
    const std::uint64_t start = frame * archive::kZstdFrameSize;
    const std::uint64_t left = entry.header.originalSize - start;
    const std::size_t expected = static_cast<std::size_t>(left < archive::kZstdFrameSize ? left : archive::kZstdFrameSize);
    std::string problem;
    switch (worker.frames.decode(worker.packed.get(), entry.frameSizes[frame], expected, problem)) {
    case FrameDecoder::Result::Ok:
        break;
    case FrameDecoder::Result::ReadFailed:
        return "cannot read " + packedFile_ + ": " + systemReason();
    case FrameDecoder::Result::Damaged:
        return damaged(packedFile_, file.number, entry, problem);
    }
    if (expected > 0 && !file.out->writeAt(start, worker.frames.data(), expected)) {
        return "cannot write " + file.destination + ": " + systemReason();
    }
    file.frameCrcs[frame] = archive::crc32Of(worker.frames.data(), expected);
    return std::string();
}

} // namespace unpack
} // namespace talve
