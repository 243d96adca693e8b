#pragma once
// The shape of every export: resolve the handle, return the failure value for an unknown one
// (nothing recorded, nothing posted), otherwise run the session operation.
#include <memory>
#include <string>

#include "api/CSdkChain.h"
#include "lumora/lumora.h"
#include "platform/CodePage.h"

namespace lumora {

template <typename Result, typename Body>
Result WithSession(int handle, Result failure, Body&& body) {
    std::shared_ptr<CLumora> session = CSdkChain::Instance().Lookup(handle);
    if (session == nullptr) return failure;
    return body(*session);
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
    if (!platform::WideToNarrow(std::u16string_view(wide, platform::WideLength(wide)), narrow)) {
        session.RecordError(ERR_TEXT);
        return 0;
    }
    return body(narrow.c_str());
}

}  // namespace lumora
