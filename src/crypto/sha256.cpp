#include "crypto/sha256.h"

#include <algorithm>
#include <cstring>

namespace talve {
namespace crypto {

namespace {
const std::uint32_t roundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t rotateRight(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

const std::size_t blockBytes = 64;

// HMAC with the key's inner and outer states hashed once: PBKDF2 runs the
// same key a hundred thousand times.
class Hmac {
public:
    explicit Hmac(const std::string& key) {
        std::uint8_t block[blockBytes] = {};
        if (key.size() > blockBytes) {
            const Digest shortened = sha256(key);
            std::memcpy(block, shortened.data(), shortened.size());
        } else {
            std::memcpy(block, key.data(), key.size());
        }
        std::uint8_t pad[blockBytes];
        for (std::size_t i = 0; i < blockBytes; ++i) pad[i] = block[i] ^ 0x36;
        inner_.update(pad, blockBytes);
        for (std::size_t i = 0; i < blockBytes; ++i) pad[i] = block[i] ^ 0x5c;
        outer_.update(pad, blockBytes);
    }
    Digest mac(const std::uint8_t* data, std::size_t size) const {
        Sha256 inner = inner_;
        inner.update(data, size);
        const Digest innerDigest = inner.finish();
        Sha256 outer = outer_;
        outer.update(innerDigest.data(), innerDigest.size());
        return outer.finish();
    }
    Digest macOfDigest(const Digest& digest) const {
        return outer_.finishAfterOneBlock(inner_.finishAfterOneBlock(digest));
    }

private:
    Sha256 inner_;
    Sha256 outer_;
};
} // namespace

Sha256::Sha256()
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19},
      buffer_{} {}

void Sha256::compress(const std::uint8_t* block) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = (std::uint32_t(block[4 * i]) << 24) | (std::uint32_t(block[4 * i + 1]) << 16) |
               (std::uint32_t(block[4 * i + 2]) << 8) | std::uint32_t(block[4 * i + 3]);
    for (int i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotateRight(w[i - 15], 7) ^ rotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = rotateRight(w[i - 2], 17) ^ rotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    std::uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t s1 = rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25);
        const std::uint32_t choice = (e & f) ^ (~e & g);
        const std::uint32_t t1 = h + s1 + choice + roundConstants[i] + w[i];
        const std::uint32_t s0 = rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22);
        const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const std::uint32_t t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
    state_[5] += f;
    state_[6] += g;
    state_[7] += h;
}

void Sha256::update(const std::uint8_t* data, std::size_t size) {
    totalBytes_ += size;
    while (size > 0) {
        const std::size_t take = std::min(size, blockBytes - buffered_);
        std::memcpy(buffer_ + buffered_, data, take);
        buffered_ += take;
        data += take;
        size -= take;
        if (buffered_ == blockBytes) {
            compress(buffer_);
            buffered_ = 0;
        }
    }
}

Digest Sha256::finishAfterOneBlock(const Digest& tail) const {
    std::uint8_t block[blockBytes] = {};
    std::memcpy(block, tail.data(), tail.size());
    block[tail.size()] = 0x80;
    const std::uint64_t totalBits = (blockBytes + tail.size()) * 8;
    for (int i = 0; i < 8; ++i) block[blockBytes - 1 - i] = static_cast<std::uint8_t>(totalBits >> (8 * i));
    Sha256 hash = *this;
    hash.compress(block);
    Digest digest;
    for (int i = 0; i < 8; ++i)
        for (int b = 0; b < 4; ++b) digest[4 * i + b] = static_cast<std::uint8_t>(hash.state_[i] >> (24 - 8 * b));
    return digest;
}

Digest Sha256::finish() {
    const std::uint64_t totalBits = totalBytes_ * 8;
    const std::uint8_t one = 0x80, zero = 0;
    update(&one, 1);
    while (buffered_ != blockBytes - 8) update(&zero, 1);
    std::uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(totalBits >> (56 - 8 * i));
    update(length, 8);
    Digest digest;
    for (int i = 0; i < 8; ++i)
        for (int b = 0; b < 4; ++b) digest[4 * i + b] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * b));
    return digest;
}

Digest sha256(const std::string& data) {
    Sha256 hash;
    hash.update(data);
    return hash.finish();
}

Digest hmacSha256(const std::string& key, const std::string& message) {
    return Hmac(key).mac(reinterpret_cast<const std::uint8_t*>(message.data()), message.size());
}

std::vector<std::uint8_t> pbkdf2HmacSha256(const std::string& password, const std::string& salt,
                                           std::uint32_t iterations, std::size_t length) {
    const Hmac prf(password);
    std::vector<std::uint8_t> derived;
    for (std::uint32_t blockIndex = 1; derived.size() < length; ++blockIndex) {
        std::string first = salt;
        for (int shift = 24; shift >= 0; shift -= 8) first.push_back(static_cast<char>(blockIndex >> shift));
        Digest u = prf.mac(reinterpret_cast<const std::uint8_t*>(first.data()), first.size());
        Digest t = u;
        for (std::uint32_t i = 1; i < iterations; ++i) {
            u = prf.macOfDigest(u);
            for (std::size_t b = 0; b < t.size(); ++b) t[b] ^= u[b];
        }
        const std::size_t take = std::min(t.size(), length - derived.size());
        derived.insert(derived.end(), t.begin(), t.begin() + static_cast<std::ptrdiff_t>(take));
    }
    return derived;
}

} // namespace crypto
} // namespace talve
