#pragma once

// SHA-256, HMAC-SHA-256 and PBKDF2-HMAC-SHA-256, for deriving the keys that
// protect property values.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace talve {
namespace crypto {

using Digest = std::array<std::uint8_t, 32>;

class Sha256 {
public:
    Sha256();
    void update(const std::uint8_t* data, std::size_t size);
    void update(const std::string& text) { update(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()); }
    Digest finish();
    // The digest of the one 64-byte block hashed so far followed by tail:
    // HMAC's inner and outer hashes of a digest, a whole block at a time,
    // which is what PBKDF2 spends its time on.
    Digest finishAfterOneBlock(const Digest& tail) const;

private:
    void compress(const std::uint8_t* block);

    std::uint32_t state_[8];
    std::uint8_t buffer_[64];
    std::size_t buffered_ = 0;
    std::uint64_t totalBytes_ = 0;
};

Digest sha256(const std::string& data);

Digest hmacSha256(const std::string& key, const std::string& message);

// length bytes of derived key; iterations of at least 1.
std::vector<std::uint8_t> pbkdf2HmacSha256(const std::string& password, const std::string& salt,
                                           std::uint32_t iterations, std::size_t length);

} // namespace crypto
} // namespace talve
