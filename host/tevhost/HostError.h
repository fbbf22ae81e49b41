// The headless host's one exception type.
#pragma once

#include <stdexcept>
#include <string>

#include "AE_Effect.h"

namespace TEV::Host {

// A failure of the host or of a command the plug-in answered with an error.
// what() names what failed, where, and the code.
class HostError : public std::runtime_error {
public:
    explicit HostError(const std::string& message, PF_Err code = PF_Err_NONE)
        : std::runtime_error(message), code_(code) {}
    // The plug-in's error code when a command failed; 0 for host-side failures.
    PF_Err code() const { return code_; }

private:
    PF_Err code_;
};

// "PF_Cmd_SMART_RENDER" for 24; "PF_Cmd 99" for unknown numbers.
std::string commandName(PF_Cmd cmd);
// "PF_Err_BAD_CALLBACK_PARAM" for 516, "A_Err_MISSING_SUITE" for 13, "" when unnamed.
std::string errorName(PF_Err err);

}  // namespace TEV::Host
