#pragma once
// The shape of every export: resolve the handle, return the failure value for an unknown one
// (nothing recorded, nothing posted), otherwise run the session operation.
#include <memory>

#include "api/CSdkChain.h"

namespace lumora {

template <typename Result, typename Body>
Result WithSession(int handle, Result failure, Body&& body) {
    std::shared_ptr<CLumora> session = CSdkChain::Instance().Lookup(handle);
    if (session == nullptr) return failure;
    return body(*session);
}

}  // namespace lumora
