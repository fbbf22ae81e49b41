// Identifiers, string normalisation and the library version check.
#include <cctype>
#include <random>
#include <sstream>

#include "TEV.h"

namespace TEV {

std::string generate_uuid() {
    // A fresh device and engine per call: no state is shared between threads.
    std::random_device device("/dev/urandom");
    std::mt19937 engine(device());
    std::uniform_int_distribution<int> digit(0, 15);
    std::uniform_int_distribution<int> variant(8, 11);

    std::stringstream ss;
    ss << std::hex << std::nouppercase;
    auto digits = [&](int n) {
        for (int i = 0; i < n; ++i) ss << digit(engine);
    };
    digits(8);
    ss << "-";
    digits(4);
    ss << "-4";
    digits(3);
    ss << "-";
    ss << variant(engine);
    digits(3);
    ss << "-";
    digits(12);
    return ss.str();
}

std::string normalize_string(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isspace(u)) continue;
        out.push_back(static_cast<char>(std::tolower(u)));
    }
    return out;
}

const char* getImplementationVersion() { return "2"; }

bool checkVersionCompatibility(const char* version) {
    const std::string given = version ? version : "";
    if (given != getImplementationVersion()) {
        throw TEVErr(VersionMismatch,
                     "TEV header version (" + given + ") does not match library version (" +
                         getImplementationVersion() + ")",
                     "");
    }
    return true;
}

}  // namespace TEV
