#include "signature.h"

#include <optional>

namespace talve {
namespace pack {
namespace {

// Signing tools pad the program to a multiple of 8 bytes before the table.
constexpr std::uint64_t tableAlignment = 8;

bool inRange(std::uint64_t offset, std::uint64_t start, std::uint64_t width) {
    return offset >= start && offset < start + width;
}

// Where bytes appended behind an otherwise sound certificate table start.
std::optional<std::uint64_t> bytesAfterSignature(const std::string& bytes) {
    const pe::Headers headers = pe::readHeaders(bytes);
    if (headers.kind != pe::Kind::Image || !headers.layout.certificates) return std::nullopt;
    const pe::CertificateTable& table = *headers.layout.certificates;
    const std::uint64_t end = static_cast<std::uint64_t>(table.offset) + table.size;
    if (table.offset == 0 || table.size == 0 || table.offset < headers.layout.programEnd || end >= bytes.size())
        return std::nullopt;
    return end;
}

} // namespace

bool readSignature(const std::string& bytes, Signature& signature, std::string& problem) {
    signature = Signature();
    const pe::Headers headers = pe::readHeaders(bytes);
    if (headers.kind == pe::Kind::NotPe) return true;
    if (headers.kind == pe::Kind::Damaged) {
        problem = "damaged Windows program headers: " + headers.problem;
        return false;
    }
    if (!headers.layout.certificates) return true;
    problem = pe::certificateProblem(*headers.layout.certificates, bytes.size(), headers.layout.programEnd);
    if (!problem.empty()) return false;
    signature.signedFile = true;
    signature.table = *headers.layout.certificates;
    return true;
}

bool stripSignature(std::string& bytes, bool& stripped, std::string& problem) {
    stripped = false;
    // Headers too short to hold a Security entry hold no signature either.
    if (pe::readHeaders(bytes).kind != pe::Kind::Image) return true;
    Signature signature;
    if (!readSignature(bytes, signature, problem)) return false;
    if (!signature.signedFile) return true;
    const pe::Layout layout = pe::readHeaders(bytes).layout;
    bytes.resize(signature.table.offset);
    bytes.replace(*layout.securityEntryOffset, pe::securityEntrySize, pe::securityEntrySize, '\0');
    updateChecksum(bytes);
    stripped = true;
    return true;
}

void updateChecksum(std::string& bytes) {
    const pe::Headers headers = pe::readHeaders(bytes);
    if (headers.kind != pe::Kind::Image || headers.layout.checksumOffset + 4 > bytes.size()) return;
    pe::writeLittleEndian32(bytes, headers.layout.checksumOffset, pe::checksum(bytes, headers.layout.checksumOffset));
}

bool isSameProgramSigned(const std::string& unsignedBytes, const std::string& signedBytes, std::uint64_t& differsAt,
                         std::string& why) {
    differsAt = 0;
    Signature signature;
    std::string problem;
    if (!readSignature(signedBytes, signature, problem) || !signature.signedFile) {
        why = problem.empty() ? "the signed file carries no signature" : "the signed file: " + problem;
        differsAt = bytesAfterSignature(signedBytes).value_or(0);
        return false;
    }
    Signature before;
    if (!readSignature(unsignedBytes, before, problem) || before.signedFile) {
        why = problem.empty() ? "the unsigned file already carries a signature" : "the unsigned file: " + problem;
        return false;
    }
    const pe::Layout layout = pe::readHeaders(signedBytes).layout;
    const std::uint64_t tableStart = signature.table.offset;
    const std::uint64_t common = std::min<std::uint64_t>(unsignedBytes.size(), tableStart);
    for (std::uint64_t i = 0; i < common; ++i) {
        if (unsignedBytes[i] == signedBytes[i] || inRange(i, layout.checksumOffset, 4) ||
            inRange(i, *layout.securityEntryOffset, pe::securityEntrySize))
            continue;
        differsAt = i;
        why = "the files differ";
        return false;
    }
    if (unsignedBytes.size() > tableStart) {
        differsAt = tableStart;
        why = "the certificate table starts inside the unsigned program, which is longer";
        return false;
    }
    for (std::uint64_t i = unsignedBytes.size(); i < tableStart; ++i) {
        if (signedBytes[i] != '\0' || tableStart - unsignedBytes.size() >= tableAlignment) {
            differsAt = i;
            why = "bytes were added before the certificate table";
            return false;
        }
    }
    return true;
}

} // namespace pack
} // namespace talve
