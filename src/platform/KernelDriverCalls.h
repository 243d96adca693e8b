#pragma once
// The system calls that reach the camera's kernel driver, gathered in one table. Its entries
// are the system's own functions; a test replaces them to put a driver of its own below them.
// The events and OVERLAPPED records a request completes through stay the system's, so a
// stand-in must complete them as the system does.
#include <string>

#include "platform/Win32Api.h"
// clang-format off
#include <setupapi.h>
// clang-format on

namespace lumora::platform {

struct KernelDriverCalls {
    HDEVINFO(WINAPI* getClassDevs)(const GUID*, PCSTR, HWND, DWORD) = ::SetupDiGetClassDevsA;
    BOOL(WINAPI* enumInterfaces)
    (HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
     PSP_DEVICE_INTERFACE_DATA) = ::SetupDiEnumDeviceInterfaces;
    BOOL(WINAPI* interfaceDetail)
    (HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD,
     PSP_DEVINFO_DATA) = ::SetupDiGetDeviceInterfaceDetailA;
    BOOL(WINAPI* destroyList)(HDEVINFO) = ::SetupDiDestroyDeviceInfoList;
    HANDLE(WINAPI* createFile)
    (LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = ::CreateFileA;
    BOOL(WINAPI* deviceIoControl)
    (HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) = ::DeviceIoControl;
    BOOL(WINAPI* cancelIoEx)(HANDLE, LPOVERLAPPED) = ::CancelIoEx;
    BOOL(WINAPI* getOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL) = ::GetOverlappedResult;
    BOOL(WINAPI* closeHandle)(HANDLE) = ::CloseHandle;
};

// The table in use. Entries are replaced only while no device file is open and no listing runs.
KernelDriverCalls& DriverCalls();

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" to a GUID; false for anything else.
bool ParseInterfaceClass(const std::string& text, GUID& guid);

}  // namespace lumora::platform
