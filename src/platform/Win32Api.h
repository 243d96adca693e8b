#pragma once
// The Windows system headers, for the Windows backend files of this folder only.
//
// <windows.h> renames functions with macros (PostMessage becomes PostMessageA, RegisterClass
// RegisterClassA, ...). The SDK has functions and methods of those names (platform::PostMessage,
// WindowSystem::RegisterClass); a file that saw the macros would declare, define or call them
// under the other name, and the program would fail to link or call the wrong function. The
// macros that collide are undone here, and the backend calls the A functions by their names.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef PostMessage
#undef RegisterClass
#undef UnregisterClass
#undef CreateWindow
#undef GetMessage
#undef SendMessage
