#pragma once
// Where the running program and the SDK's own module live, for files kept beside them.
#include <string>

namespace lumora::platform {

// The folder of the running program, with its trailing separator; empty when unknown.
std::string ExecutableFolder();

// The folder of the module this code is part of (the SDK's shared library, or the program when
// it links the SDK statically), with its trailing separator; empty when unknown.
std::string LibraryFolder();

}  // namespace lumora::platform
