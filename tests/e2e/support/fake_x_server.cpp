#include "support/fake_x_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace e2e {

namespace {

// Major opcodes of the core protocol that this server looks at.
enum Opcode {
    createWindowRequest = 1,
    destroyWindowRequest = 4,
    mapWindowRequest = 8,
    internAtomRequest = 16,
    getPropertyRequest = 20,
    getSelectionOwnerRequest = 23,
    getInputFocusRequest = 43,
    openFontRequest = 45,
    queryFontRequest = 47,
    queryExtensionRequest = 98,
};

int opcodeOf(FakeXServer::SilentFrom silentFrom) {
    switch (silentFrom) {
    // The cursor font is the first font opened, and is never queried.
    case FakeXServer::SilentFrom::cursorFont: return openFontRequest;
    case FakeXServer::SilentFrom::createWindow: return createWindowRequest;
    case FakeXServer::SilentFrom::fontLoad: return queryFontRequest;
    case FakeXServer::SilentFrom::mapWindow: return mapWindowRequest;
    case FakeXServer::SilentFrom::destroyWindow: return destroyWindowRequest;
    default: return -1;
    }
}

// Requests that have no reply. Any other request the server does not know
// gets an error, so that a client waiting for its reply goes on.
bool hasNoReply(int opcode) {
    static const int quiet[] = {1,  2,  4,  5,  8,  10, 12, 18, 19, 45, 46, 53, 54,
                                55, 56, 60, 61, 62, 70, 72, 74, 76, 93, 94, 95, 127};
    for (int q : quiet)
        if (q == opcode) return true;
    return false;
}

// Bytes in the client's order.
class Writer {
public:
    explicit Writer(bool bigEndian) : bigEndian_(bigEndian) {}
    Writer& u8(unsigned value) {
        bytes.push_back(static_cast<char>(value));
        return *this;
    }
    Writer& u16(unsigned value) { return bigEndian_ ? u8(value >> 8).u8(value) : u8(value).u8(value >> 8); }
    Writer& u32(std::uint32_t value) {
        return bigEndian_ ? u16(value >> 16).u16(value & 0xFFFF) : u16(value & 0xFFFF).u16(value >> 16);
    }
    Writer& text(const std::string& value) {
        bytes += value;
        while (bytes.size() % 4 != 0) bytes.push_back('\0');
        return *this;
    }
    Writer& zeros(std::size_t count) {
        bytes.append(count, '\0');
        return *this;
    }
    std::string bytes;

private:
    bool bigEndian_;
};

constexpr std::uint32_t rootWindow = 0x100;
constexpr std::uint32_t rootVisual = 0x21;

// A 1024 x 768 screen of depth 24 with one true-colour visual.
std::string setupReply(bool bigEndian) {
    const std::string vendor = "talve test server";
    Writer body(bigEndian);
    body.u32(1).u32(0x00200000).u32(0x001FFFFF).u32(0); // release, resource ids, motion buffer
    body.u16(static_cast<unsigned>(vendor.size())).u16(0xFFFF);
    body.u8(1).u8(2);                   // screens, pixmap formats
    body.u8(0).u8(0).u8(32).u8(32);     // image order, bitmap order, scanline unit and pad
    body.u8(8).u8(255).zeros(4);        // keycodes
    body.text(vendor);
    body.u8(1).u8(1).u8(32).zeros(5);   // depth 1: 1 bit a pixel
    body.u8(24).u8(32).u8(32).zeros(5); // depth 24: 32 bits a pixel
    body.u32(rootWindow).u32(0x20).u32(0xFFFFFF).u32(0).u32(0); // root, colormap, white, black, events
    body.u16(1024).u16(768).u16(270).u16(203).u16(1).u16(1);
    body.u32(rootVisual).u8(0).u8(0).u8(24).u8(1); // no backing store or save-unders; root depth; one depth
    body.u8(24).u8(0).u16(1).zeros(4);
    body.u32(rootVisual).u8(4).u8(8).u16(256).u32(0xFF0000).u32(0xFF00).u32(0xFF).zeros(4);

    Writer reply(bigEndian);
    reply.u8(1).u8(0).u16(11).u16(0).u16(static_cast<unsigned>(body.bytes.size() / 4));
    return reply.bytes + body.bytes;
}

// The reply to one request: 32 bytes, empty for a request without one.
std::string replyTo(bool bigEndian, int opcode, unsigned sequence, std::uint32_t& nextAtom) {
    if (hasNoReply(opcode)) return std::string();
    Writer reply(bigEndian);
    switch (opcode) {
    case internAtomRequest: reply.u8(1).u8(0).u16(sequence & 0xFFFF).u32(0).u32(nextAtom++); break;
    case getInputFocusRequest: reply.u8(1).u8(1).u16(sequence & 0xFFFF).u32(0).u32(1); break; // PointerRoot
    case getPropertyRequest:                                                                  // no such property
    case getSelectionOwnerRequest:                                                            // no owner
    case queryExtensionRequest:                                                               // not present
        reply.u8(1).u8(0).u16(sequence & 0xFFFF).u32(0);
        break;
    default: // BadImplementation
        reply.u8(0).u8(17).u16(sequence & 0xFFFF).u32(0).u16(0).u8(static_cast<unsigned>(opcode));
        break;
    }
    reply.zeros(32 - reply.bytes.size());
    return reply.bytes;
}

std::uint32_t read16(const std::string& bytes, std::size_t at, bool bigEndian) {
    const auto b0 = static_cast<unsigned char>(bytes[at]), b1 = static_cast<unsigned char>(bytes[at + 1]);
    return bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0);
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

struct FakeXServer::Client {
    int fd = -1;
    std::string pending;
    bool setUp = false;
    bool bigEndian = false;
    bool silent = false;
    bool resumed = false;
    std::chrono::steady_clock::time_point silentSince;
    std::vector<int> withheld; // opcodes of the requests not answered yet, in order
    unsigned sequence = 0;     // of the last request answered
    std::uint32_t nextAtom = 0x200;
};

FakeXServer::FakeXServer(SilentFrom silentFrom, std::optional<std::chrono::milliseconds> resumeAfter)
    : silentOpcode_(opcodeOf(silentFrom)), resumeAfter_(resumeAfter) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    // A port the system picks is free; on Linux it lies far above 6000.
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 8) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    port_ = ntohs(address.sin_port);
    // Silent from the connection on: the system's backlog accepts it, and
    // nobody ever reads it.
    if (silentFrom == SilentFrom::connection) return;
    if (pipe2(stopPipe_, O_CLOEXEC) != 0) return;
    thread_ = std::thread([this] { serve(); });
}

FakeXServer::~FakeXServer() {
    if (thread_.joinable()) {
        const char stop = 1;
        (void)!write(stopPipe_[1], &stop, 1);
        thread_.join();
    }
    for (int fd : {listener_, stopPipe_[0], stopPipe_[1]})
        if (fd >= 0) close(fd);
}

std::optional<std::string> FakeXServer::displayName() const {
    if (port_ <= 6000) return std::nullopt;
    return "127.0.0.1:" + std::to_string(port_ - 6000);
}

std::vector<int> FakeXServer::requestsSeen() const {
    std::lock_guard<std::mutex> guard(opcodesLock_);
    return opcodes_;
}

bool FakeXServer::fellSilent() const { return hasSeen(silentOpcode_); }
bool FakeXServer::sawMapWindow() const { return hasSeen(mapWindowRequest); }
bool FakeXServer::sawDestroyWindow() const { return hasSeen(destroyWindowRequest); }

bool FakeXServer::hasSeen(int opcode) const {
    const std::vector<int> seen = requestsSeen();
    return std::find(seen.begin(), seen.end(), opcode) != seen.end();
}

void FakeXServer::serve() {
    std::vector<Client> clients;
    for (;;) {
        std::vector<pollfd> waits{{stopPipe_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        for (const Client& client : clients) waits.push_back({client.fd, POLLIN, 0});
        // A slow server looks at the clock now and then.
        if (poll(waits.data(), waits.size(), resumeAfter_ ? 20 : -1) < 0) continue;
        if (waits[0].revents != 0) break;
        for (Client& client : clients) {
            if (!client.silent || !resumeAfter_ || std::chrono::steady_clock::now() - client.silentSince < *resumeAfter_)
                continue;
            client.silent = false;
            client.resumed = true;
            bool answered = true;
            for (int opcode : client.withheld) answered = answered && answer(client, opcode);
            client.withheld.clear();
            if (!answered) {
                close(client.fd);
                client.fd = -1;
            }
        }
        const std::size_t polled = clients.size();
        if (waits[1].revents != 0) {
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients.emplace_back();
                clients.back().fd = fd;
            }
        }
        for (std::size_t i = 0; i < polled; ++i) {
            if (clients[i].fd < 0 || waits[i + 2].revents == 0) continue;
            char buffer[65536];
            const ssize_t n = recv(clients[i].fd, buffer, sizeof buffer, 0);
            if (n > 0) clients[i].pending.append(buffer, static_cast<std::size_t>(n));
            if (n <= 0 || !handle(clients[i])) {
                close(clients[i].fd);
                clients[i].fd = -1;
            }
        }
        for (auto it = clients.begin(); it != clients.end();) it = it->fd < 0 ? clients.erase(it) : it + 1;
    }
    for (const Client& client : clients) close(client.fd);
}

// Takes the whole requests in the client's bytes; false when the client
// is to be dropped.
bool FakeXServer::handle(Client& client) {
    std::string& in = client.pending;
    if (!client.setUp) {
        if (in.size() < 12) return true;
        client.bigEndian = in[0] == 'B';
        const std::size_t nameLength = read16(in, 6, client.bigEndian), dataLength = read16(in, 8, client.bigEndian);
        const std::size_t whole = 12 + (nameLength + 3) / 4 * 4 + (dataLength + 3) / 4 * 4;
        if (in.size() < whole) return true;
        in.erase(0, whole);
        client.setUp = true;
        if (!sendAll(client.fd, setupReply(client.bigEndian))) return false;
    }
    while (in.size() >= 4) {
        const std::size_t length = read16(in, 2, client.bigEndian) * std::size_t{4};
        if (length == 0) return false; // a big request: never enabled here
        if (in.size() < length) return true;
        const int opcode = static_cast<unsigned char>(in[0]);
        in.erase(0, length);
        {
            std::lock_guard<std::mutex> guard(opcodesLock_);
            opcodes_.push_back(opcode);
        }
        if (opcode == silentOpcode_ && !client.silent && !client.resumed) {
            client.silent = true;
            client.silentSince = std::chrono::steady_clock::now();
        }
        if (client.silent) {
            client.withheld.push_back(opcode);
            continue;
        }
        if (!answer(client, opcode)) return false;
    }
    return true;
}

bool FakeXServer::answer(Client& client, int opcode) {
    ++client.sequence;
    return sendAll(client.fd, replyTo(client.bigEndian, opcode, client.sequence, client.nextAtom));
}

const char* describe(FakeXServer::SilentFrom silentFrom) {
    switch (silentFrom) {
    case FakeXServer::SilentFrom::connection: return "silent from the connection";
    case FakeXServer::SilentFrom::cursorFont: return "silent from the cursor font";
    case FakeXServer::SilentFrom::createWindow: return "silent from XCreateWindow";
    case FakeXServer::SilentFrom::fontLoad: return "silent from XLoadQueryFont";
    case FakeXServer::SilentFrom::mapWindow: return "silent from XMapWindow";
    case FakeXServer::SilentFrom::destroyWindow: return "silent from XDestroyWindow";
    case FakeXServer::SilentFrom::never: return "answering everything";
    }
    return "?";
}

} // namespace e2e
