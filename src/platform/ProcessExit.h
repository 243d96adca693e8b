#pragma once
// Whether the process is past the point where its other threads still run.
//
// When a Windows process ends, the system stops every other thread where it stands and only then
// unloads the DLLs, running their static destructors. A destructor that waits for one of its
// threads, or takes a lock such a thread may have held, would wait forever: it must let go
// without waiting. On POSIX systems static destructors run while the threads still live, and
// waiting for them is right.
namespace lumora::platform {

bool ProcessIsExiting();

// Whether the SDK's own DLL is being unloaded while the process goes on (FreeLibrary on
// Windows). Its static destructors then run under the loader's lock, which every thread needs
// to end: a destructor that waits for one of its threads to end would wait forever. Always
// false on POSIX systems and where the SDK is linked into the program.
bool ModuleIsUnloading();

}  // namespace lumora::platform
