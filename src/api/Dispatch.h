#pragma once
// The shape of every export: resolve the handle, return the failure value for an unknown one
// (nothing recorded, nothing posted), otherwise run the session operation. No C++ exception may
// leave the library: the caller may not even be C++, and an escaping one ends the process.
#include <exception>
#include <memory>
#include <string>

#include "api/CSdkChain.h"
#include "lumora/lumora.h"
#include "platform/CodePage.h"

namespace lumora {

// Runs an export's body with no session to blame: any exception becomes the failure value.
// For the exports that create or end sessions; all others use WithSession.
template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// Records 5 on the session for an exception thrown by an operation. Every exception that can
// come out of the session is a failed allocation in practice (std::bad_alloc, std::length_error
// from a container asked for too much); recording itself may fail the same way, and then the
// failure value alone must do.
inline void RecordEscapedException(CLumora& session) noexcept {
    try {
        session.RecordError(ERR_MEMORY);
    } catch (...) {
    }
}

// The guard for every export bound to a session: unknown handle -> failure value with nothing
// recorded; an exception from the operation -> failure value and code 5 recorded.
template <typename Result, typename Body>
Result WithSession(int handle, Result failure, Body&& body) noexcept {
    std::shared_ptr<CLumora> session;
    try {
        session = CSdkChain::Instance().Lookup(handle);
    } catch (...) {
        return failure;
    }
    if (session == nullptr) return failure;
    try {
        return body(*session);
    } catch (...) {
        RecordEscapedException(*session);
        return failure;
    }
}

// Converts a wide path argument for the narrow operation: a null path records 9, a path that
// cannot be converted (or is longer than 1023 bytes with its terminator) records 12.
template <typename Body>
int WithNarrowPath(CLumora& session, const LUMORA_WCHAR* wide, Body&& body) {
    if (wide == nullptr) {
        session.RecordError(ERR_PARAMETER);
        return 0;
    }
    std::string narrow;
    if (!platform::WideToNarrow(platform::WideStringView(wide, platform::WideLength(wide)), narrow)) {
        session.RecordError(ERR_TEXT);
        return 0;
    }
    return body(narrow.c_str());
}

}  // namespace lumora
