#include "saslprep.h"

#include <idn-free.h>
#include <stringprep.h>

#include <memory>

namespace pdftox {

std::optional<std::string> saslprep(const std::string& password) {
    // libidn reads a C string: an embedded NUL would cut the text short. NUL is an ASCII
    // control character, which SASLprep prohibits anyway.
    if (password.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    char* prepared = nullptr;
    // Flags 0: normalisation and the bidi checks on, unassigned code points allowed.
    const int rc =
        stringprep_profile(password.c_str(), &prepared, "SASLprep", Stringprep_profile_flags(0));
    const std::unique_ptr<char, void (*)(void*)> owned(prepared, idn_free);
    if (rc != STRINGPREP_OK || !prepared) {
        return std::nullopt;
    }
    return std::string(prepared);
}

std::vector<std::string> aes256Passwords(const std::string& password) {
    std::vector<std::string> tries;
    auto add = [&tries](const std::string& candidate) {
        std::string bytes = candidate.substr(0, Aes256PasswordBytes);
        for (const std::string& earlier : tries) {
            if (earlier == bytes) {
                return;
            }
        }
        tries.push_back(std::move(bytes));
    };
    if (const auto prepared = saslprep(password)) {
        add(*prepared);
    }
    add(password);
    return tries;
}

} // namespace pdftox
