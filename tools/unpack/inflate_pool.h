#pragma once

#include "archive_reader.h"
#include "native.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace talve {
namespace unpack {

// Fills the files of a runtime on all cores. Every entry carries its own
// compressed data and checksum, so files are independent once created: the
// caller creates each one in archive order and hands it over here, and the
// workers fill, check and close them, each reading the packed file through
// a handle of its own. A zstd file is cut into frames that unpack
// independently, so even a runtime of one large file keeps every core busy:
// each frame is written at its place and the file is checked and closed by
// whichever worker finishes its last frame.
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

    // Waits while enough files are open.
    void submit(Job job);
    // Waits until every file handed over is complete.
    void waitIdle();
    void recordFailure(std::size_t number, const std::string& message);
    bool failed();
    // Waits for every job, stops the workers and gives the first failure.
    bool finish(std::string& error);

private:
    struct Worker;
    struct FileWork;
    struct Piece {
        FileWork* file = nullptr;
        std::size_t frame = 0; // zstd frame; deflate files are one piece
    };
    static void workerMain(void* pool);
    void work();
    void runPiece(Worker& worker, const Piece& piece);
    // The file's last piece is done: checks, closes or removes it.
    void completeFile(FileWork& file);
    std::string inflateWhole(Worker& worker, FileWork& file);
    std::string unpackFrame(Worker& worker, FileWork& file, std::size_t frame);

    std::string packedFile_;
    std::vector<std::uintptr_t> threads_;
    std::unique_ptr<Worker> inline_;
    Monitor monitor_;
    std::deque<Piece> queue_;
    std::size_t maxOpenFiles_ = 0;
    std::size_t openFiles_ = 0;
    bool stopping_ = false;
    std::size_t firstFailure_ = 0; // entry number; 0 while all is well
    std::string failure_;
};

} // namespace unpack
} // namespace talve
