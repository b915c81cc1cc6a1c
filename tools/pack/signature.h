#pragma once

#include "payload/pe_image.h"

#include <cstdint>
#include <string>

namespace talve {
namespace pack {

// What a signing tool added to a Windows program, found in its bytes.
struct Signature {
    bool signedFile = false;
    pe::CertificateTable table;
};

// Reads the signature of a file's bytes. False with `problem` when the file
// is a Windows program whose headers or certificate table are damaged; an
// ELF or an unsigned program is fine and unsigned.
bool readSignature(const std::string& bytes, Signature& signature, std::string& problem);

// Turns a signed Windows program back into the unsigned one: certificate
// table cut, Security entry zeroed. `stripped` says whether there was one.
bool stripSignature(std::string& bytes, bool& stripped, std::string& problem);

// Puts the right checksum into the headers of a Windows program; other
// files are left alone.
void updateChecksum(std::string& bytes);

// Whether `signedBytes` is `unsignedBytes` plus a signature and nothing
// else: only the checksum, the Security entry, the padding before the
// certificate table and the table itself may differ. Otherwise
// `differsAt` is the first offset where they part and `why` says how.
bool isSameProgramSigned(const std::string& unsignedBytes, const std::string& signedBytes, std::uint64_t& differsAt,
                         std::string& why);

} // namespace pack
} // namespace talve
