// Stand-ins for suite members and callbacks this host does not implement:
// each records the call in the books under its table's name and answers
// PF_Err_INVALID_CALLBACK (or null / nothing for other result types).
#pragma once

#include <type_traits>

#include "HostImpl.h"

namespace TEV::Host {

void noteUnsupportedCall(const char* table);

template <typename Fn, const char* Table>
struct Unsupported;

template <typename R, typename... A, const char* Table>
struct Unsupported<R (*)(A...), Table> {
    static R call(A...) {
        noteUnsupportedCall(Table);
        if constexpr (std::is_void_v<R>) {
            return;
        } else if constexpr (std::is_pointer_v<R>) {
            return nullptr;
        } else {
            return static_cast<R>(PF_Err_INVALID_CALLBACK);
        }
    }
};

// Fills member M of table object S with the stand-in, named by TABLE (a
// namespace-scope `constexpr char[]`).
#define TEV_HOST_UNSUPPORTED(S, M, TABLE) (S).M = &Unsupported<decltype((S).M), TABLE>::call

}  // namespace TEV::Host
