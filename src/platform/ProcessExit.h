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

}  // namespace lumora::platform
