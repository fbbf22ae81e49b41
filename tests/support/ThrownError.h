// What a piece of code throws, for tests that check more than its type.
#pragma once

#include <functional>
#include <type_traits>

#include <gtest/gtest.h>

#include "TEV.h"

namespace TEV {
namespace Test {

// Stands in for the exception when nothing was thrown.
template <typename E>
E nothingThrown() {
    if constexpr (std::is_same_v<E, TEVErr>) {
        return TEVErr(UnknownError, "<nothing thrown>", "");
    } else if constexpr (std::is_arithmetic_v<E>) {
        return E(-1);
    } else {
        return E("<nothing thrown>");
    }
}

// The E (by default TEV::TEVErr; also an error code type such as PF_Err)
// that `f` throws; a test failure, and a stand-in, when it throws none.
// Anything else that `f` throws passes on to the test.
template <typename E = TEVErr>
E thrownBy(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "nothing was thrown";
    return nothingThrown<E>();
}

}  // namespace Test
}  // namespace TEV
