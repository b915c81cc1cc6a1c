#include "crypto/protected_value.h"
#include "platform/bootstrap_context.h"
#include "silent/masked_key.h"

#include <cstdio>

namespace talve {

namespace {
constexpr std::size_t environmentAssignmentLimit = 1000;

bool endOfInputBeforeKey(BootstrapContext& context) {
    context.logError("The input ended before a key was accepted and confirmed. The installer will exit.");
    return false;
}
} // namespace

bool BootstrapContext::enterRecordKey() {
    bool givenKeyRefused = false;
    if (!keyValue.empty()) {
        if (isKeyComplex(keyValue) && !keyRuleProblem(keyValue)) return true;
        keyValue.clear();
        givenKeyRefused = true;
    }
    showConsole();
    std::printf("%s", givenKeyRefused ? "The entered key does not meet the complexity requirements.\n"
                                      : "A key is needed in order to encrypt recorded properties.\n");
    std::printf("The complexity requirements are as follows: \n");
    std::printf("\t- The length must be between 8 and 20 characters\n");
    std::printf("\t- The key must contain at least 1 uppercase, 1 lowercase and 1 number\n");
    std::printf("\t- The number of occurrences of the same character should not exceed half the length of the key\n\n");
    std::fflush(stdout);

    // Without an end of input the loop asks until the user gets it right;
    // with one, nothing more can come and asking again would never stop.
    for (;;) {
        MaskedEntry first = readMaskedKey(platform_, "\tEnter key: ");
        while (!isKeyComplex(first.text)) {
            if (first.inputEnded) return endOfInputBeforeKey(*this);
            std::printf("\t -> The entered key does not meet the complexity requirements.\n\n");
            first = readMaskedKey(platform_, "\tEnter key: ");
        }
        const std::string accepted = first.text;
        const MaskedEntry confirmation = readMaskedKey(platform_, "\tRe-enter key: ");
        if (confirmation.text == accepted) {
            keyValue = confirmation.text;
            return true;
        }
        if (confirmation.inputEnded) return endOfInputBeforeKey(*this);
        std::printf("\t -> Keys do not match.\n\n");
    }
}

bool BootstrapContext::exportRecordKey() {
    const char* const tooLong = "The key is too long to be handed to the installer.";
    if (keyValue.size() > crypto::longestValueText) {
        logError(tooLong);
        return false;
    }
    crypto::IV iv;
    if (!platform_.randomBytes(iv.data(), iv.size())) {
        logError("The system gave no random bytes to protect the key with.");
        return false;
    }
    std::string protectedKey;
    if (crypto::protectValue(crypto::programValueKey(), keyValue, iv, protectedKey) != 0) return false;
    const std::string assignment = "KORVU_SILENT_K=" + protectedKey;
    // A cut value would reach the installer as a key that never decrypts.
    if (assignment.size() > environmentAssignmentLimit) {
        logError(tooLong);
        return false;
    }
    return setEnvironmentVariable(assignment);
}

} // namespace talve
