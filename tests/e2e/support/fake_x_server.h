#pragma once

// An X server that stops answering: it listens on loopback TCP, answers
// the connection and the requests before a chosen one as a small
// true-colour display would, and from that request on reads everything
// and answers nothing, as a hung server or a dead forwarding does.

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

class FakeXServer {
public:
    // The request it falls silent at; the client then waits at its next
    // round trip. The order is the order in which a splash window asks.
    enum class SilentFrom {
        connection,    // accepts the connection (the system does) and never answers it
        cursorFont,    // the font the window's cursor comes from
        createWindow,  // the window's first round trips
        fontLoad,      // the font of the band's line
        mapWindow,     // the window is mapped and waited for
        destroyWindow, // the window is up; its closing waits
        never,         // answers everything
    };

    // With resumeAfter, a server that is only slow: once that time has
    // passed it answers what it held back, and everything after.
    explicit FakeXServer(SilentFrom silentFrom,
                         std::optional<std::chrono::milliseconds> resumeAfter = std::nullopt);
    ~FakeXServer();
    FakeXServer(const FakeXServer&) = delete;
    FakeXServer& operator=(const FakeXServer&) = delete;

    // "127.0.0.1:N" (display N listens on port 6000 + N); none when no
    // port above 6000 could be had.
    std::optional<std::string> displayName() const;
    // The major opcodes of the requests read so far, answered or not.
    std::vector<int> requestsSeen() const;
    // Whether the request it falls silent at has come.
    bool fellSilent() const;
    // Whether a window was asked to be mapped, or destroyed.
    bool sawMapWindow() const;
    bool sawDestroyWindow() const;

private:
    struct Client;
    void serve();
    bool handle(Client& client);
    bool answer(Client& client, int opcode);
    bool hasSeen(int opcode) const;

    int silentOpcode_ = -1;
    std::optional<std::chrono::milliseconds> resumeAfter_;
    int listener_ = -1;
    int port_ = 0;
    int stopPipe_[2] = {-1, -1};
    std::thread thread_;
    mutable std::mutex opcodesLock_;
    std::vector<int> opcodes_;
};

const char* describe(FakeXServer::SilentFrom silentFrom);

} // namespace e2e
