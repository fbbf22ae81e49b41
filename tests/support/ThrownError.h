// The TEV::TEVErr that a piece of code throws, for tests that check its fields.
#pragma once

#include <functional>

#include <gtest/gtest.h>

#include "TEV.h"

namespace TEV {
namespace Test {

// The TEVErr that `f` throws; a failure (and a default error) when it throws none.
inline TEVErr thrownBy(const std::function<void()>& f) {
    try {
        f();
    } catch (const TEVErr& e) {
        return e;
    }
    ADD_FAILURE() << "no TEV::TEVErr was thrown";
    return TEVErr(UnknownError, "<nothing thrown>", "");
}

}  // namespace Test
}  // namespace TEV
